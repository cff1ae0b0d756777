// Shared helpers of the widget tests: the virtual clock, clean notice state, pixel reading.
#pragma once

#include <QColor>
#include <QImage>
#include <QWidget>
#include <gtest/gtest.h>

#include "platform/timers.h"
#include "panel/widgets/qt_notices.h"

namespace corvane::test {

// Every test starts with fresh notice variables and its own virtual clock.
class WidgetTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        CQtNotices::ResetState();
    }
    void TearDown() override
    {
        CQtNotices::ResetState();
    }
    CVirtualTimers m_clock;
};

// The widget as it would reach the screen.
inline QImage Shot(QWidget& w)
{
    return w.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// Saves the picture under $CORVANE_SHOT_DIR (when set) for a person to look at.
void SaveShot(const QImage& image, const char* name);

inline bool Near(QColor a, QColor b, int tolerance = 1)
{
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance;
}

// a at the given alpha over white, as a 1-pixel translucent line leaves it.
inline QColor OverWhite(QColor a, int alpha)
{
    auto mix = [alpha](int c) { return (c * alpha + 255 * (255 - alpha) + 127) / 255; };
    return QColor(mix(a.red()), mix(a.green()), mix(a.blue()));
}

// The pixel at (x, y) of img has exactly the colour c.
#define EXPECT_RGB(img, x, y, c)                                                                  \
    EXPECT_EQ((img).pixelColor((x), (y)).name().toStdString(), QColor(c).name().toStdString()) \
        << "at " << (x) << "," << (y)

inline bool IsDark(QRgb p) { return qGray(p) < 110; }

}  // namespace corvane::test

// Readable pixel failures.
inline void PrintTo(const QColor& c, std::ostream* os)
{
    *os << "rgb(" << c.red() << ", " << c.green() << ", " << c.blue() << ")";
}
