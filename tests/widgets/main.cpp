// The widget tests run offscreen under a real QApplication with the program's look.
#include <QApplication>
#include <QDir>
#include <gtest/gtest.h>

#include "panel/widgets/qt_ui.h"
#include "widgets_test.h"

namespace corvane::test {
void SaveShot(const QImage& image, const char* name)
{
    const QByteArray dir = qgetenv("CORVANE_SHOT_DIR");
    if (dir.isEmpty())
        return;
    QDir().mkpath(QString::fromLocal8Bit(dir));
    const QString base = QString::fromLocal8Bit(dir) + QLatin1Char('/') + QLatin1String(name);
    image.save(base + QLatin1String(".png"));
    // Small pictures also four times as large, pixel for pixel.
    if (image.width() < 200)
        image.scaled(image.size() * 4, Qt::IgnoreAspectRatio, Qt::FastTransformation).save(base + QLatin1String("_x4.png"));
}
}  // namespace corvane::test

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    corvane::ApplyPlatformLook(app);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
