// The owner-drawn button: faces per state, icons, edges, hover tracking, clicks.
#include <QApplication>
#include <QEnterEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>

#include "panel/widgets/qt_ui.h"
#include "panel/res/icons.h"
#include "panel/widgets/icon_button.h"
#include "widgets_test.h"

namespace corvane::test {
namespace {

const QColor kHot(200, 0, 0), kRest(0, 160, 0), kFocus(0, 0, 200);

// A 16 x 16 icon, transparent but for one black pixel at its top-left corner.
QPixmap Marker()
{
    QImage img(16, 16, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    img.setPixel(0, 0, qRgb(0, 0, 0));
    return QPixmap::fromImage(img);
}

void Enter(QWidget& w)
{
    QEnterEvent e(QPointF(5, 5), QPointF(5, 5), w.mapToGlobal(QPointF(5, 5)));
    QApplication::sendEvent(&w, &e);
}

void Move(QWidget& w, QPoint at, Qt::MouseButtons buttons)
{
    QMouseEvent e(QEvent::MouseMove, at, w.mapToGlobal(at), Qt::NoButton, buttons, Qt::NoModifier);
    QApplication::sendEvent(&w, &e);
}

class IconButtonTest : public WidgetTest {
protected:
    void SetUp() override
    {
        WidgetTest::SetUp();
        window.resize(100, 60);
        button = new CIconButton(&window);
        button->setGeometry(10, 10, 25, 25);
        button->SetStateColor(CIconButton::COLOR_BK_HOT, kHot);
        button->SetStateColor(CIconButton::COLOR_BK_REST, kRest);
        button->SetStateColor(CIconButton::COLOR_BK_FOCUS, kFocus);
        window.show();
    }
    QColor At(int x, int y) { return Shot(*button).pixelColor(x, y); }

    QWidget window;
    CIconButton* button = nullptr;
};

TEST_F(IconButtonTest, FlatFaceFollowsThePointer)
{
    button->SetHoverFrame(false);
    EXPECT_EQ(At(12, 2), kRest);
    Enter(*button);
    EXPECT_TRUE(button->MouseOver());
    EXPECT_EQ(At(12, 2), kHot);
    EXPECT_EQ(At(0, 0), kHot);  // no hover frame
    Move(*button, {40, 5}, Qt::NoButton);  // reported while the pointer is elsewhere
    EXPECT_FALSE(button->MouseOver());
    EXPECT_EQ(At(12, 2), kRest);
}

TEST_F(IconButtonTest, HoverFrameIsRaisedThenSunkenWhenPressed)
{
    Enter(*button);
    QImage hot = Shot(*button);
    EXPECT_RGB(hot, 0, 5, ButtonHighlightColor());
    EXPECT_RGB(hot, 24, 5, ButtonShadowColor());
    EXPECT_RGB(hot, 24, 0, ButtonShadowColor());  // the top edge stops short of the corner
    button->setDown(true);
    QImage pressed = Shot(*button);
    EXPECT_RGB(pressed, 0, 5, ButtonShadowColor());
    EXPECT_RGB(pressed, 24, 5, ButtonHighlightColor());
    EXPECT_RGB(pressed, 5, 5, kHot);
}

TEST_F(IconButtonTest, LeftButtonHeldDoesNotStartHover)
{
    Move(*button, {5, 5}, Qt::LeftButton);
    EXPECT_FALSE(button->MouseOver());
    Move(*button, {5, 5}, Qt::NoButton);
    EXPECT_TRUE(button->MouseOver());
    // A hot button stays hot while dragged over, and cools off when the pointer leaves it.
    Move(*button, {6, 6}, Qt::LeftButton);
    EXPECT_TRUE(button->MouseOver());
    Move(*button, {60, 6}, Qt::LeftButton);
    EXPECT_FALSE(button->MouseOver());
}

TEST_F(IconButtonTest, HoverEndsOnLeaveFocusLossAndHide)
{
    Enter(*button);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(button, &leave);
    EXPECT_FALSE(button->MouseOver());
    Enter(*button);
    button->hide();
    EXPECT_FALSE(button->MouseOver());
    button->show();
    button->SetFlatLook(false);
    Enter(*button);
    EXPECT_FALSE(button->MouseOver());  // raised buttons never track
}

TEST_F(IconButtonTest, RestAndHotIconsWithPressedOffset)
{
    const QPixmap hot = ResourcePixmap(IDI_CLOSE_HOT), rest = ResourcePixmap(IDI_CLOSE);
    EXPECT_EQ(button->SetStateIcons(hot, rest), 0);
    // At rest the white cross on the rest face; hot, the dark-red square.
    EXPECT_EQ(At(12, 12), QColor(Qt::white));
    EXPECT_EQ(At(4, 4), kRest);  // the icon starts at (25 - 16) / 2 = 4, transparent there
    Enter(*button);
    EXPECT_GT(At(4, 4).red(), 2 * At(4, 4).green());
    EXPECT_EQ(At(3, 3), kHot);

    // Pressed: 1 pixel right and down.
    EXPECT_EQ(button->SetStateIcons(Marker()), 0);
    EXPECT_EQ(At(4, 4), QColor(Qt::black));
    button->setDown(true);
    EXPECT_EQ(At(5, 5), QColor(Qt::black));
    EXPECT_NE(At(4, 4), QColor(Qt::black));
    // Without a rest icon the hot one shows in every state.
    button->setDown(false);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(button, &leave);
    EXPECT_EQ(At(4, 4), QColor(Qt::black));
    // A null hot icon removes both.
    EXPECT_EQ(button->SetStateIcons(QPixmap(), rest), 0);
    EXPECT_TRUE(button->CurrentIcon().isNull());
    EXPECT_EQ(At(4, 4), kRest);
}

TEST_F(IconButtonTest, RaisedEdgeFocusLineAndPressedFrame)
{
    button->SetFlatLook(false);
    button->setGeometry(10, 10, 30, 30);
    QImage rest = Shot(*button);
    EXPECT_RGB(rest, 0, 10, ButtonHighlightColor());
    EXPECT_RGB(rest, 10, 0, ButtonHighlightColor());
    EXPECT_RGB(rest, 1, 10, Light3dColor());
    EXPECT_RGB(rest, 29, 10, DarkShadow3dColor());
    EXPECT_RGB(rest, 10, 29, DarkShadow3dColor());
    EXPECT_RGB(rest, 0, 29, DarkShadow3dColor());
    EXPECT_RGB(rest, 29, 0, DarkShadow3dColor());
    EXPECT_RGB(rest, 28, 10, ButtonShadowColor());
    EXPECT_RGB(rest, 10, 28, ButtonShadowColor());
    EXPECT_RGB(rest, 10, 10, kRest);

    // The default button gets the black outer line, the edge moves 1 pixel in.
    button->SetDefault(true);
    QImage def = Shot(*button);
    EXPECT_RGB(def, 0, 10, QColor(Qt::black));
    EXPECT_RGB(def, 29, 10, QColor(Qt::black));
    EXPECT_RGB(def, 1, 10, ButtonHighlightColor());
    EXPECT_NE(def.pixel(4, 4), QColor(Qt::black).rgb());  // no focus rectangle without focus

    button->setDown(true);
    QImage pressed = Shot(*button);
    EXPECT_RGB(pressed, 1, 10, ButtonShadowColor());
    EXPECT_RGB(pressed, 28, 10, ButtonShadowColor());
    EXPECT_RGB(pressed, 2, 10, kHot);  // pressed shows the hot face
}

TEST_F(IconButtonTest, FocusedRaisedButtonShowsDottedRectangle)
{
    button->SetFlatLook(false);
    button->setGeometry(10, 10, 30, 30);
    QApplication::setActiveWindow(&window);
    button->setFocus();
    if (!button->hasFocus())
        GTEST_SKIP() << "the platform gives no focus here";
    QImage img = Shot(*button);
    EXPECT_RGB(img, 0, 10, QColor(Qt::black));
    // r is 1..28; the focus rectangle runs along 4..25, every other pixel.
    EXPECT_RGB(img, 4, 4, QColor(Qt::black));
    EXPECT_RGB(img, 6, 4, QColor(Qt::black));
    EXPECT_RGB(img, 5, 4, kFocus);
    EXPECT_RGB(img, 25, 8, QColor(Qt::black));
    EXPECT_RGB(img, 10, 10, kFocus);
}

TEST_F(IconButtonTest, ClicksDoubleClicksAndTipText)
{
    QSignalSpy clicked(button, &CIconButton::clicked);
    QTest::mouseClick(button, Qt::LeftButton, {}, {12, 12});
    EXPECT_EQ(clicked.count(), 1);
    EXPECT_TRUE(button->hasFocus() || !window.isActiveWindow());
    clicked.clear();
    QTest::mouseClick(button, Qt::LeftButton, {}, {12, 12});
    QTest::mouseDClick(button, Qt::LeftButton, {}, {12, 12});
    QTest::mouseRelease(button, Qt::LeftButton, {}, {12, 12});
    EXPECT_EQ(clicked.count(), 2);  // each click of a fast double click counts

    button->SetTipText("Close");
    button->SetTipText("Shut");
    button->SetTipText(QString());  // ignored
    EXPECT_EQ(button->toolTip(), "Shut");
    EXPECT_EQ(button->accessibleName(), "Shut");
}

// The buttons as the windows set them up: a title-band close and minimize pair, and a raised
// arrow button; one picture of each state for a person to look at.
TEST_F(IconButtonTest, TitleBandAndArrowButtons)
{
    QWidget band;
    band.resize(140, 40);
    band.setAutoFillBackground(true);
    QPalette pal = band.palette();
    pal.setColor(QPalette::Window, BandColor());
    band.setPalette(pal);
    auto make = [&](int x, int hot, int rest, bool flat) {
        auto* b = new CIconButton(&band);
        b->setGeometry(x, 1, flat ? 25 : 36, flat ? 25 : 36);
        b->SetFlatLook(flat);
        if (flat) {
            b->SetHoverFrame(false);
            for (int slot : {CIconButton::COLOR_BK_HOT, CIconButton::COLOR_BK_REST, CIconButton::COLOR_BK_FOCUS})
                b->SetStateColor(slot, BandColor());
        }
        b->SetStateIcons(ResourcePixmap(hot), rest ? ResourcePixmap(rest) : QPixmap());
        return b;
    };
    CIconButton* minimize = make(0, IDI_MINIMIZE_HOT, IDI_MINIMIZE, true);
    CIconButton* close = make(25, IDI_CLOSE_HOT, IDI_CLOSE, true);
    CIconButton* next = make(55, IDI_NEXT, 0, false);
    CIconButton* previous = make(95, IDI_PREVIOUS, 0, false);
    band.show();
    SaveShot(Shot(band), "buttons_rest");
    Enter(*close);
    previous->setDown(true);
    const QImage img = Shot(band);
    SaveShot(img, "buttons_hot");

    // Hot close: the dark-red square; resting minimize: the white bar on the band blue.
    const QColor square = img.pixelColor(close->x() + 5, 1 + 5);
    EXPECT_GT(square.red(), 2 * square.green());
    EXPECT_RGB(img, minimize->x() + 8, 1 + 4 + 10, Qt::white);
    EXPECT_RGB(img, minimize->x() + 8, 1 + 2, BandColor());
    // Arrows: black triangles pointing right and left on the raised face.
    EXPECT_RGB(img, next->x() + 2 + 13, 1 + 2 + 16, Qt::black);
    EXPECT_RGB(img, next->x() + 2 + 6, 1 + 2 + 16, ButtonFaceColor());
    EXPECT_RGB(img, previous->x() + 3 + 19, 1 + 3 + 16, Qt::black);  // pressed: 1 pixel further
}

}  // namespace
}  // namespace corvane::test
