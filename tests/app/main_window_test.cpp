// The main window's look and behaviour: pixels at the places the window is drawn by, the tabs,
// the key filter, the controls of its template.
#include "tests/app/app_fixture.h"

#include <QAccessible>
#include <QApplication>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTest>

#include "panel/log_pane_widget.h"
#include "panel/pages/matrix_dlg.h"
#include "panel/widgets/qt_ui.h"
#include "panel/res/dialog_template.h"
#include "panel/widgets/accessible_window.h"

namespace corvane::test {
namespace {

class MainWindow : public AppFixture {
protected:
    static QColor Blend(const QColor& over, int alpha, const QColor& under)
    {
        auto mix = [&](int a, int b) { return (a * alpha + b * (255 - alpha) + 127) / 255; };
        return QColor(mix(over.red(), under.red()), mix(over.green(), under.green()), mix(over.blue(), under.blue()));
    }
    // Blending rounds differently from one paint engine to another: a few steps of slack.
    static void ExpectNear(const QColor& got, const QColor& want, const char* what)
    {
        EXPECT_LE(std::abs(got.red() - want.red()), 4) << what << " " << got.name().toStdString();
        EXPECT_LE(std::abs(got.green() - want.green()), 4) << what << " " << got.name().toStdString();
        EXPECT_LE(std::abs(got.blue() - want.blue()), 4) << what << " " << got.name().toStdString();
    }
    static bool IsWhite(QRgb c) { return qRed(c) > 230 && qGreen(c) > 230 && qBlue(c) > 230; }
};

const QColor kBand(30, 144, 225);
const QColor kEdge(30, 120, 255);

TEST_F(MainWindow, TemplateSizeAndEveryControl)
{
    EXPECT_EQ(dlg->size(), QSize(593, 492));
    const DialogTemplate* t = Template(102);
    ASSERT_NE(t, nullptr);
    for (const ControlTemplate& c : t->controls)
        if (c.id != 0) {
            EXPECT_NE(dlg->Control(c.id), nullptr) << c.id;
        }
    // Controls outside the template size exist and answer, out of sight.
    EXPECT_GE(dlg->Control(1042)->x(), 593);
    EXPECT_GE(dlg->Control(1095)->y(), 492);
}

TEST_F(MainWindow, EveryControlFitsAWindowMaximizedOn1024x768)
{
    // "clear" is the operator's way out of a stuck command: nothing may lie beyond such a screen.
    dlg->show();
    dlg->resize(1024, 768);
    int checked = 0;
    for (QWidget* w : dlg->findChildren<QWidget*>()) {
        if (w->isWindow() || w->window() != dlg.get())
            continue;
        const QRect r(w->mapTo(dlg.get(), QPoint(0, 0)), w->size());  // the tabs lie in their list
        EXPECT_LE(r.right(), 1023) << w->objectName().toStdString();
        EXPECT_LE(r.bottom(), 767) << w->objectName().toStdString();
        ++checked;
    }
    EXPECT_GE(checked, 50);
}

TEST_F(MainWindow, BandEdgesOutlineAndTitle)
{
    const QImage img = Grab();
    const int W = img.width(), H = img.height();
    const QColor face = ButtonFaceColor();
    ExpectNear(img.pixelColor(200, 1), kBand, "band top");
    ExpectNear(img.pixelColor(W - 60, 55), kBand, "band bottom row");
    ExpectNear(img.pixelColor(W - 60, 56), face, "below the band");
    ExpectNear(img.pixelColor(100, 0), kEdge, "top edge");
    ExpectNear(img.pixelColor(0, 40), kEdge, "left edge");
    ExpectNear(img.pixelColor(W - 1, 40), kEdge, "right edge");
    ExpectNear(img.pixelColor(W / 2, H - 1), Blend(QColor(128, 128, 128), 50, face), "outline at alpha 50");
    ExpectNear(img.pixelColor(0, H / 2), Blend(QColor(128, 128, 128), 50, face), "outline left");

    int whiteInTitle = 0, whiteRightOfTitle = 0;
    for (int y = 1; y < 30; ++y) {
        for (int x = 1; x < 290; ++x)
            whiteInTitle += IsWhite(img.pixel(x, y));
        for (int x = 291; x < W - 52; ++x)
            whiteRightOfTitle += IsWhite(img.pixel(x, y));
    }
    EXPECT_GT(whiteInTitle, 100);
    EXPECT_EQ(whiteRightOfTitle, 0);
}

TEST_F(MainWindow, ButtonsAndTabsSitOnTheBand)
{
    Grab();
    EXPECT_EQ(dlg->Control(1002)->geometry(), QRect(593 - 26, 1, 25, 25));
    EXPECT_EQ(dlg->Control(1005)->geometry(), QRect(593 - 51, 1, 25, 25));
    const QRect general = dlg->Control(1008)->geometry();
    const int w = general.width(), h = general.height();
    EXPECT_EQ(general.topLeft(), QPoint(1, 56 - h));
    EXPECT_EQ(dlg->Control(1012)->pos(), QPoint(w + 2, 56 - h));
    EXPECT_EQ(dlg->Control(1013)->pos(), QPoint(2 * w + 3, 56 - h));
    EXPECT_EQ(dlg->Control(1002)->accessibleName(), QStringLiteral("Close"));
    EXPECT_EQ(dlg->Control(1005)->accessibleName(), QStringLiteral("Minimize"));
    EXPECT_EQ(dlg->Control(1012)->accessibleName(), QString());  // read with its text
    EXPECT_EQ(dlg->accessibleName(), QStringLiteral("4x2 Corvane Controller Ver1.32"));
    EXPECT_EQ(dlg->windowTitle(), dlg->accessibleName());  // the title the window manager shows
}

TEST_F(MainWindow, CurrentTabIsBlackOnFaceOthersWhiteOnBlue)
{
    struct Case {
        int tab;
        uint8_t page;
    };
    for (const Case c : {Case{1012, PAGE_MATRIX}, Case{1013, PAGE_FIRMWARE}, Case{1011, PAGE_EDID},
                         Case{1008, PAGE_GENERAL}}) {
        SCOPED_TRACE(c.tab);
        dlg->PressTab(c.tab);
        dlg->Link().bReady = true;  // the page query may have claimed the gate
        EXPECT_EQ(dlg->CurrentPage(), c.page);
        const QImage img = Grab();
        for (int id : {1008, 1012, 1013}) {
            const QRect r = dlg->Control(id)->geometry();
            const QColor bg = img.pixelColor(r.left() + 2, r.top() + 2);
            ExpectNear(bg, id == c.tab ? ButtonFaceColor() : kBand, "tab background");
            const QPalette pal = dlg->Control(id)->palette();
            EXPECT_EQ(pal.color(QPalette::WindowText), id == c.tab ? QColor(Qt::black) : QColor(Qt::white));
        }
    }
}

TEST_F(MainWindow, TabsRefusedWhileACommandIsOutstanding)
{
    dlg->resize(1024, 768);  // the log panes in sight
    dlg->Link().bReady = false;
    dlg->PressTab(1012);
    EXPECT_EQ(dlg->CurrentPage(), PAGE_GENERAL);
    dlg->Link().bReady = true;
    dlg->PressTab(1012);
    EXPECT_EQ(dlg->CurrentPage(), PAGE_MATRIX);
    // The General page's controls hide; the logs, "clear" and the tabs do not.
    EXPECT_TRUE(dlg->Control(1026)->isHidden());
    EXPECT_TRUE(dlg->Control(1021)->isHidden());
    EXPECT_FALSE(dlg->Control(1042)->isHidden());
    EXPECT_FALSE(dlg->Control(1123)->isHidden());
    EXPECT_FALSE(dlg->Control(1102)->isHidden());
    dlg->PressTab(1008);
    EXPECT_FALSE(dlg->Control(1026)->isHidden());
}

TEST_F(MainWindow, GeneralFrameAroundTheDeviceInformation)
{
    Connect();
    Click(1024);
    port->Run(0);
    const QImage img = Grab();
    const QPoint at = dlg->Control(1026)->pos() - QPoint(2, 9);
    const QColor face = ButtonFaceColor();
    const QColor frame = Blend(QColor(30, 120, 200), 50, face);
    ExpectNear(img.pixelColor(at.x(), at.y() + 150), frame, "frame left side");
    ExpectNear(img.pixelColor(at.x() + 314, at.y() + 150), frame, "frame right side");
    // One frame: the group box shows its title, not a second rectangle around the painted one.
    const QRect box = dlg->Control(1022)->geometry();
    for (int x : {box.left(), box.left() + 1, box.right() - 1, box.right()})
        ExpectNear(img.pixelColor(x, at.y() + 150), face, "no group box side");
    ExpectNear(img.pixelColor(box.center().x(), box.bottom() - 1), face, "no group box bottom");
    int titleInk = 0;
    for (int y = box.top(); y < at.y(); ++y)
        for (int x = box.left(); x < box.left() + 120; ++x)
            titleInk += qGray(img.pixel(x, y)) < 100;
    EXPECT_GT(titleInk, 20);  // "Device Information"
}

TEST_F(MainWindow, TabSeparatorsBetweenTabsOfOneSize)
{
    const QImage img = Grab();
    const QSize tab = dlg->Control(1008)->size();
    for (int id : {1011, 1012, 1013})
        EXPECT_EQ(dlg->Control(id)->size(), tab) << id;
    const int w = tab.width(), h = tab.height();
    for (int k = 1; k <= 3; ++k)
        for (int y = 62 - h; y <= 76 - h; ++y)
            ExpectNear(img.pixelColor(k * w + k, y), TabSeparatorColor(), "separator");
}

TEST_F(MainWindow, TitleCentredWithItsBlanksInASixteenPixelCell)
{
    const QFontMetrics m(TitleFont());
    EXPECT_LE(m.ascent() + m.descent(), 16);
    EXPECT_GE(m.ascent() + m.descent(), 15);
    QFont larger = TitleFont();  // the largest size that fits
    larger.setPixelSize(larger.pixelSize() + 1);
    EXPECT_GT(QFontMetrics(larger).ascent() + QFontMetrics(larger).descent(), 16);
    const QString padded = QString::fromLatin1(CCorvaneDlg::kTitle) + QString(14, QLatin1Char(' '));
    const int advance = m.horizontalAdvance(padded);
    ASSERT_LE(advance, 289);  // the rectangle (1, 1)-(290, 30)

    const QImage img = Grab();
    int left = img.width(), right = -1, top = img.height(), bottom = -1;
    for (int y = 1; y < 30; ++y)
        for (int x = 1; x < 290; ++x)
            if (IsWhite(img.pixel(x, y))) {
                left = std::min(left, x), right = std::max(right, x);
                top = std::min(top, y), bottom = std::max(bottom, y);
            }
    ASSERT_GE(right, 0);
    // The name starts where the centred padded text starts; the blanks leave room on the right.
    EXPECT_NEAR(left, 1 + (289 - advance) / 2, 3);
    EXPECT_NEAR(right, 1 + (289 - advance) / 2 + m.horizontalAdvance(QString::fromLatin1(CCorvaneDlg::kTitle)), 3);
    EXPECT_NEAR((top + bottom) / 2.0, 15, 3);
}

TEST_F(MainWindow, PressesSelectTabsOrDragTheWindow)
{
    int drags = 0;
    SetWindowDragHandler([&](QWidget* w) {
        EXPECT_EQ(w, dlg.get());
        ++drags;
        return true;
    });
    dlg->show();
    const QRect general = dlg->Control(1008)->geometry();
    const int w = general.width();
    const auto centre = [&](int id) { return dlg->Control(id)->geometry().center(); };
    struct Case {
        const char* what;
        QPoint at;
        uint8_t page;  // the page shown after the press
        bool drag;
    };
    const Case cases[] = {
        {"Matrix tab", centre(1012), PAGE_MATRIX, false},
        {"FW Upgrade tab, left edge", dlg->Control(1013)->geometry().topLeft() + QPoint(0, 3), PAGE_FIRMWARE, false},
        {"General tab, right edge", general.topRight() + QPoint(0, 3), PAGE_GENERAL, false},
        {"separator between tabs", QPoint(w + 1, general.center().y()), PAGE_GENERAL, true},
        {"band above the tabs", QPoint(400, 10), PAGE_GENERAL, true},
        {"band right of the tabs", QPoint(3 * w + 10, 50), PAGE_GENERAL, true},
        {"free client area", QPoint(300, 470), PAGE_GENERAL, true},
        {"a device information static", centre(1026), PAGE_GENERAL, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        dlg->Link().bReady = true;
        drags = 0;
        QTest::mouseClick(dlg.get(), Qt::LeftButton, Qt::NoModifier, c.at);
        EXPECT_EQ(dlg->CurrentPage(), c.page);
        EXPECT_EQ(drags, c.drag ? 1 : 0);
    }
    // A press on a tab while a command is outstanding neither switches nor drags.
    dlg->Link().bReady = false;
    drags = 0;
    QTest::mouseClick(dlg.get(), Qt::LeftButton, Qt::NoModifier, centre(1012));
    EXPECT_EQ(dlg->CurrentPage(), PAGE_GENERAL);
    EXPECT_EQ(drags, 0);
    SetWindowDragHandler({});
}

TEST_F(MainWindow, AltSpaceOpensTheSystemMenuAndPressesNothing)
{
    Connect();
    dlg->show();
    port->writes.clear();
    Ctl<QCheckBox>(1101)->setChecked(false);
    // Alt+Space where the desktop leaves it to the window; the Menu key and Shift+F10 where the
    // window manager takes Alt+Space.
    const std::pair<Qt::Key, Qt::KeyboardModifiers> keys[] = {
        {Qt::Key_Space, Qt::AltModifier}, {Qt::Key_Menu, Qt::NoModifier}, {Qt::Key_F10, Qt::ShiftModifier}};
    for (int id : {1024, 1025, 1021, 1101, 1020}) {
        for (const auto& [key, mods] : keys) {
            SCOPED_TRACE(::testing::Message() << id << " key " << key);
            QWidget* focused = dlg->Control(id);
            focused->setFocus();
            QTest::keyClick(focused, key, mods);
            EXPECT_TRUE(port->writes.empty());
            EXPECT_TRUE(dlg->Link().bComOpen);  // "Connect" was not pressed
            EXPECT_TRUE(dlg->Link().bReady);    // "Status" was not pressed
            EXPECT_FALSE(Ctl<QCheckBox>(1101)->isChecked());
            ASSERT_NE(dlg->SystemMenu(), nullptr);
            EXPECT_TRUE(dlg->SystemMenu()->isVisible());
            dlg->SystemMenu()->hide();
        }
    }
    // The same on a page: a focused IN button is not pressed.
    dlg->PressTab(1012);
    port->Run(0);
    auto* page = dlg->findChild<CMatrixDlg*>();
    ASSERT_NE(page, nullptr);
    port->writes.clear();
    QAbstractButton* in3 = page->InputButton(1, 3);
    const bool wasChecked = in3->isChecked();
    in3->setFocus();
    QTest::keyClick(in3, Qt::Key_Space, Qt::AltModifier);
    EXPECT_TRUE(port->writes.empty());
    EXPECT_EQ(in3->isChecked(), wasChecked);
    EXPECT_TRUE(dlg->Link().bReady);
    EXPECT_TRUE(dlg->SystemMenu()->isVisible());
    dlg->SystemMenu()->hide();
    EXPECT_TRUE(op.Messages().empty());
}

TEST_F(MainWindow, EnterEscapeAndSpaceDoNothing)
{
    Connect();
    dlg->show();
    auto* status = Ctl<QPushButton>(1024);
    status->setFocus();
    const std::size_t sent = port->writes.size();
    for (int key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape, Qt::Key_Space}) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
        QCoreApplication::sendEvent(status, &press);
        QCoreApplication::sendEvent(status, &release);
        QCoreApplication::sendEvent(dlg.get(), &press);
    }
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_EQ(port->writes.size(), sent);
}

}  // namespace
}  // namespace corvane::test

namespace corvane::test {
namespace {

TEST_F(MainWindow, SystemMenuMaximizesAndShowsTheHiddenControls)
{
    Connect();  // the panes hold its exchange before they are made
    const uint8_t frame[13] = {0xA5, 0x5B, 0x01, 0x0B};
    for (int i = 0; i < 30; ++i)
        dlg->Link().Log().LogTx(frame);
    dlg->show();
    // The log panes out of sight are not made yet (start-up builds only what it shows).
    EXPECT_EQ(dlg->findChild<QPlainTextEdit*>(), nullptr);
    dlg->ShowSystemMenu(dlg->mapToGlobal(QPoint(10, 10)));
    auto* menu = dlg->findChild<QMenu*>();
    ASSERT_NE(menu, nullptr);
    QStringList texts;
    for (QAction* a : menu->actions())
        if (!a->isSeparator())
            texts << a->text();
    EXPECT_EQ(texts, (QStringList{"Restore", "Minimize", "Maximize", "Close\tAlt+F4",
                                  QString::fromUtf8("关于 Corvane(&A)...")}));
    menu->actions()[2]->trigger();
    QCoreApplication::processEvents();
    EXPECT_TRUE(dlg->IsMaximized());
    ASSERT_GT(dlg->width(), 593);
    EXPECT_EQ(dlg->Control(1002)->geometry(), QRect(dlg->width() - 26, 1, 25, 25));  // laid out anew
    auto* tx = qobject_cast<QPlainTextEdit*>(dlg->Control(1043));
    ASSERT_NE(tx, nullptr);
    EXPECT_TRUE(tx->isVisible());  // the log panes come into view
    EXPECT_TRUE(dlg->Control(1042)->isVisible());
    EXPECT_TRUE(dlg->Control(1095)->isVisible());
    // with what was logged before, the view at its end
    EXPECT_EQ(tx->toPlainText().count(QLatin1Char('\n')), 32);
    // as a pane made at start and shown all along would be
    QPlainTextEdit ref(dlg.get());
    ref.setFont(tx->font());
    ref.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    ref.setGeometry(tx->geometry().translated(0, 200));
    ref.show();
    CPlainTextPane refPane(&ref);
    for (const QString& line : tx->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        refPane.Insert((line + QLatin1Char('\n')).toStdString());
    EXPECT_EQ(ref.toPlainText(), tx->toPlainText());
    EXPECT_GT(tx->verticalScrollBar()->maximum(), 0);
    EXPECT_EQ(tx->verticalScrollBar()->maximum(), ref.verticalScrollBar()->maximum());
    EXPECT_EQ(tx->verticalScrollBar()->value(), ref.verticalScrollBar()->value());
    dlg->ShowSystemMenu(dlg->mapToGlobal(QPoint(10, 10)));
    EXPECT_FALSE(menu->actions()[2]->isEnabled());
    menu->actions()[0]->trigger();  // Restore
    EXPECT_EQ(dlg->size(), QSize(593, 492));
    EXPECT_TRUE(tx->isHidden());  // out of sight again: not on screen for assistive technology
    menu->hide();
}

}  // namespace
}  // namespace corvane::test

namespace corvane::test {
namespace {

TEST_F(MainWindow, TabsAreAPageTabListWithTheCurrentOneSelected)
{
    dlg->show();
    QAccessibleInterface* window = QAccessible::queryAccessibleInterface(dlg.get());
    QAccessibleInterface* list = nullptr;
    for (int i = 0; i < window->childCount(); ++i)
        if (window->child(i)->role() == QAccessible::PageTabList)
            list = window->child(i);
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->childCount(), 4);
    const auto selected = [&] {
        QStringList names;
        for (int i = 0; i < list->childCount(); ++i) {
            EXPECT_EQ(list->child(i)->role(), QAccessible::PageTab);
            if (list->child(i)->state().selected)
                names << list->child(i)->text(QAccessible::Name);
        }
        return names;
    };
    EXPECT_EQ(selected(), QStringList{"General"});
    dlg->PressTab(1013);
    port->Run(0);
    EXPECT_EQ(selected(), QStringList{"FW Upgrade"});

    // The tab's press is the mouse's: queued, refused while a command is outstanding.
    QAccessibleInterface* matrix = QAccessible::queryAccessibleInterface(dlg->Control(1012));
    ASSERT_NE(matrix->actionInterface(), nullptr);
    dlg->Link().bReady = false;
    matrix->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    QCoreApplication::processEvents();
    EXPECT_EQ(dlg->CurrentPage(), PAGE_FIRMWARE);
    dlg->Link().bReady = true;
    matrix->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_EQ(dlg->CurrentPage(), PAGE_FIRMWARE) << "the action returns before the switch";
    QCoreApplication::processEvents();
    EXPECT_EQ(dlg->CurrentPage(), PAGE_MATRIX);
    EXPECT_EQ(selected(), QStringList{"Matrix"});
    EXPECT_TRUE(matrix->state().focusable);
}

}  // namespace
}  // namespace corvane::test

#include "panel/pages/edid_dlg.h"
#include "panel/pages/firmware_dlg.h"
#include "panel/widgets/icon_button.h"
#include "panel/widgets/page_tabs.h"

#include <QLineEdit>
#include <QProgressBar>

namespace corvane::test {
namespace {

// Where each press of Tab (or Shift+Tab) takes the focus, for as many presses as the list is long.
std::vector<QWidget*> TabWalk(CCorvaneDlg& dlg, std::size_t presses, bool back = false)
{
    std::vector<QWidget*> seen;
    for (std::size_t k = 0; k < presses; ++k) {
        QTest::keyClick(dlg.focusWidget(), back ? Qt::Key_Backtab : Qt::Key_Tab, back ? Qt::ShiftModifier : Qt::NoModifier);
        seen.push_back(dlg.focusWidget());
    }
    return seen;
}

TEST_F(MainWindow, TabVisitsWhatIsOnScreenInReadingOrder)
{
    Connect();
    dlg->show();
    const auto ids = [&](std::initializer_list<int> list) {
        std::vector<QWidget*> out;
        for (int id : list)
            out.push_back(dlg->Control(id));
        return out;
    };
    // Start-up: on the General page's first control. At the template size Tab never leaves the
    // window (control mode, TCP, factory reset, beep and the log panes lie outside it); the port
    // list, disabled while connected, and the TCP controls, disabled in COM mode, are passed over.
    EXPECT_EQ(dlg->focusWidget(), dlg->Control(1024));
    const std::vector<QWidget*> inSight = ids({1025, 1021, 1101, 1005, 1002, 1008, 1024});
    EXPECT_EQ(TabWalk(*dlg, inSight.size()), inSight);
    std::vector<QWidget*> back(inSight.rbegin() + 1, inSight.rend());
    back.push_back(inSight.back());
    EXPECT_EQ(TabWalk(*dlg, back.size(), true), back);

    // Enlarged, the whole page in reading order; the radio buttons are one stop; Tab leaves a
    // log pane instead of typing into it.
    const QSize templateSize = dlg->size();
    dlg->resize(1024, 768);
    const std::vector<QWidget*> all = ids({1025, 1021, 1101, 1016, 1095, 1096, 1042, 1043, 1123, 1005, 1002, 1008, 1024});
    EXPECT_EQ(TabWalk(*dlg, all.size()), all);
    EXPECT_TRUE(Ctl<QPlainTextEdit>(1042)->toPlainText().indexOf('\t') < 0);
    dlg->resize(templateSize);

    // After a page switch focus is on the page's first control, never in a pane out of sight.
    // The routing page goes output by output, its arrows before its IN buttons.
    dlg->PressTab(1012);
    port->Run(0);
    auto* matrix = dlg->findChild<CMatrixDlg*>();
    ASSERT_NE(matrix, nullptr);
    EXPECT_EQ(dlg->focusWidget(), matrix->PreviousButton(1));
    std::vector<QWidget*> routing = {matrix->NextButton(1)};
    for (int i = 1; i <= 4; ++i)
        routing.push_back(matrix->InputButton(1, i));
    routing.push_back(matrix->PreviousButton(2));
    routing.push_back(matrix->NextButton(2));
    EXPECT_EQ(TabWalk(*dlg, routing.size()), routing);

    // The firmware page: its message pane lets Tab through as well.
    dlg->PressTab(1013);
    port->Run(0);
    auto* fw = dlg->findChild<CFWDlg*>();
    ASSERT_NE(fw, nullptr);
    EXPECT_EQ(dlg->focusWidget(), fw->PathEdit());
    EXPECT_EQ(TabWalk(*dlg, 4), (std::vector<QWidget*>{fw->OpenButton(), fw->UpgradeButton(), fw->Messages(), dlg->Control(1005)}));
    EXPECT_TRUE(fw->Messages()->toPlainText().indexOf('\t') < 0);
}

TEST_F(MainWindow, PageKeysMoveAlongTheTabsOnScreenAndHonourTheGate)
{
    Connect();
    dlg->show();
    struct Step {
        Qt::Key key;
        Qt::KeyboardModifiers mods;
        bool ready;     // the send gate as the key finds it
        uint8_t page;   // the page shown after the key
    };
    const Step steps[] = {
        {Qt::Key_Tab, Qt::ControlModifier, true, PAGE_MATRIX},
        {Qt::Key_PageDown, Qt::ControlModifier, true, PAGE_FIRMWARE},
        {Qt::Key_Tab, Qt::ControlModifier, true, PAGE_GENERAL},  // wraps; EDID is out of sight
        {Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier, true, PAGE_FIRMWARE},
        {Qt::Key_PageUp, Qt::ControlModifier, true, PAGE_MATRIX},
        {Qt::Key_PageUp, Qt::ControlModifier, false, PAGE_MATRIX},  // a command outstanding
        {Qt::Key_Tab, Qt::ControlModifier, false, PAGE_MATRIX},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(::testing::Message() << s.key << " ready " << s.ready);
        dlg->Link().bReady = s.ready;
        QTest::keyClick(dlg->focusWidget(), s.key, s.mods);
        EXPECT_EQ(dlg->CurrentPage(), s.page);
        port->Run(0);
    }
    // Maximized, the EDID tab is on screen and takes its place after "FW Upgrade"; the keys work
    // from inside a log pane too.
    dlg->Link().bReady = true;
    dlg->Maximize();
    dlg->PressTab(1013);
    port->Run(0);
    Ctl<QPlainTextEdit>(1042)->setFocus();
    QTest::keyClick(Ctl<QPlainTextEdit>(1042), Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(dlg->CurrentPage(), PAGE_EDID);
    port->Run(1000);
    auto* edid = dlg->findChild<CEDIDDlg*>();
    ASSERT_NE(edid, nullptr);
    EXPECT_EQ(dlg->focusWidget(), edid->List(EdidList::Preset));
    QTest::keyClick(dlg->focusWidget(), Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(dlg->CurrentPage(), PAGE_GENERAL);
    // The EDID page shown and the window restored: the General page, whose tab is in sight,
    // and the keys pass over the EDID tab.
    dlg->PressTab(1011);
    port->Run(1000);
    dlg->Restore();
    EXPECT_EQ(dlg->CurrentPage(), PAGE_GENERAL);
    EXPECT_EQ(dlg->PageTabs()->Current(), dlg->Control(1008));
    EXPECT_EQ(dlg->focusWidget(), dlg->Control(1024));
    QTest::keyClick(dlg->focusWidget(), Qt::Key_PageUp, Qt::ControlModifier);
    EXPECT_EQ(dlg->CurrentPage(), PAGE_FIRMWARE);
    EXPECT_TRUE(op.Messages().empty());
}

TEST_F(MainWindow, RestoredDuringACommandTheEdidPageGivesWayWhenTheCommandEnds)
{
    Connect();
    dlg->show();
    dlg->Maximize();
    dlg->PressTab(1011);
    port->Run(1000);
    dlg->Link().bReady = false;  // an EDID set waits for its answer
    dlg->Restore();
    EXPECT_EQ(dlg->CurrentPage(), PAGE_EDID);
    port->Run(500);
    EXPECT_EQ(dlg->CurrentPage(), PAGE_EDID);
    dlg->Link().bReady = true;
    port->Run(200);
    EXPECT_EQ(dlg->CurrentPage(), PAGE_GENERAL);
    EXPECT_EQ(dlg->PageTabs()->Current(), dlg->Control(1008));
    EXPECT_TRUE(op.Messages().empty());
}

TEST_F(MainWindow, TheWindowManagersMaximizeIsTheSystemMenusMaximize)
{
    Connect();
    dlg->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg.get()));
    const QRect normal = dlg->geometry();
    dlg->setWindowState(Qt::WindowMaximized);  // as the window manager's menu or Super+Up does
    QCoreApplication::processEvents();
    ASSERT_GT(dlg->width(), 593);
    EXPECT_TRUE(dlg->IsMaximized());
    EXPECT_TRUE(dlg->rect().contains(dlg->Control(1011)->geometry()));  // the EDID tab
    EXPECT_TRUE(dlg->rect().contains(dlg->Control(1095)->geometry()));  // Factory Reset
    EXPECT_EQ(dlg->Control(1002)->geometry(), QRect(dlg->width() - 26, 1, 25, 25));
    dlg->ShowSystemMenu(dlg->mapToGlobal(QPoint(10, 10)));
    EXPECT_TRUE(dlg->SystemMenu()->actions()[0]->isEnabled());   // Restore
    EXPECT_FALSE(dlg->SystemMenu()->actions()[2]->isEnabled());  // Maximize
    dlg->SystemMenu()->hide();
    dlg->PressTab(1011);
    port->Run(1000);
    // The system menu's Restore undoes the window manager's maximize.
    dlg->Restore();
    QCoreApplication::processEvents();
    EXPECT_FALSE(dlg->IsMaximized());
    EXPECT_FALSE(dlg->windowState() & Qt::WindowMaximized);
    EXPECT_EQ(dlg->size(), normal.size());
    EXPECT_EQ(dlg->CurrentPage(), PAGE_GENERAL);
    // Maximized and restored by the window manager alone.
    dlg->setWindowState(Qt::WindowMaximized);
    QCoreApplication::processEvents();
    EXPECT_TRUE(dlg->IsMaximized());
    dlg->setWindowState(Qt::WindowNoState);
    QCoreApplication::processEvents();
    EXPECT_FALSE(dlg->IsMaximized());
    EXPECT_EQ(dlg->size(), normal.size());
}

TEST_F(MainWindow, TheCurrentTabTakesFocusAndItsArrowsChooseThePage)
{
    Connect();
    dlg->show();
    dlg->activateWindow();  // focus events, which frame the focused tab, reach an active window
    ASSERT_TRUE(QTest::qWaitForWindowActive(dlg.get()));
    QLabel* general = Ctl<QLabel>(1008);
    general->setFocus();
    struct Step {
        Qt::Key key;
        bool ready;
        int focusedTab;  // the tab that has focus (and is current) afterwards
    };
    const Step steps[] = {
        {Qt::Key_Right, true, 1012}, {Qt::Key_End, true, 1013},   {Qt::Key_Right, true, 1008},
        {Qt::Key_Left, true, 1013},  {Qt::Key_Home, false, 1013}, {Qt::Key_Home, true, 1008},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(::testing::Message() << s.key);
        dlg->Link().bReady = s.ready;
        QTest::keyClick(dlg->focusWidget(), s.key);
        port->Run(0);
        EXPECT_EQ(dlg->focusWidget(), dlg->Control(s.focusedTab));
        EXPECT_EQ(dlg->PageTabs()->Current(), dlg->Control(s.focusedTab));
        EXPECT_EQ(Ctl<QLabel>(s.focusedTab)->frameStyle(), QFrame::Box | QFrame::Plain) << "the focused tab is framed";
    }
    // Only the current tab is a focus stop; the frame goes with the focus.
    EXPECT_EQ(Ctl<QLabel>(1012)->focusPolicy(), Qt::NoFocus);
    TabWalk(*dlg, 1);
    EXPECT_EQ(general->frameStyle(), QFrame::NoFrame);
}

TEST_F(MainWindow, AltSpaceOpensTheSystemMenuFromEveryPage)
{
    Connect();
    dlg->show();
    dlg->Link().bReady = true;
    dlg->Maximize();  // the EDID tab in reach
    for (int tab : {1011, 1013}) {
        SCOPED_TRACE(tab);
        dlg->PressTab(tab);
        port->Run(1000);
        QWidget* focused = dlg->focusWidget();
        ASSERT_NE(focused, nullptr);
        ASSERT_NE(focused->parentWidget(), dlg.get()) << "focus is on a page control";
        port->writes.clear();
        QTest::keyClick(focused, Qt::Key_Space, Qt::AltModifier);
        ASSERT_NE(dlg->SystemMenu(), nullptr);
        EXPECT_TRUE(dlg->SystemMenu()->isVisible());
        // Open, the menu is one of the application's windows for a screen reader.
        QAccessibleInterface* app = QAccessible::queryAccessibleInterface(qApp);
        QAccessibleInterface* menu = app->child(app->childCount() - 1);
        ASSERT_NE(menu, nullptr);
        EXPECT_EQ(menu->role(), QAccessible::PopupMenu);
        EXPECT_EQ(menu->parent()->object(), qApp);
        EXPECT_EQ(app->indexOfChild(menu), app->childCount() - 1);
        EXPECT_EQ(menu->child(0)->text(QAccessible::Name), QStringLiteral("Restore"));
        dlg->SystemMenu()->hide();
        EXPECT_NE(app->child(app->childCount() - 1)->role(), QAccessible::PopupMenu);
        EXPECT_TRUE(port->writes.empty());
    }
}

// What lies beyond the window's edge is not showing for a screen reader until the window shows
// it; the device lines no reply writes are never shown.
TEST_F(MainWindow, ScreenReaderFindsOnlyWhatTheWindowShows)
{
    dlg->show();
    const auto offscreen = [](QWidget* w) { return QAccessible::queryAccessibleInterface(w)->state().offscreen; };
    QWidget* beyond[] = {dlg->Control(1095), dlg->Control(1011), dlg->Control(1096), dlg->Control(1045)};
    for (QWidget* w : beyond)
        EXPECT_TRUE(offscreen(w)) << w->objectName().toStdString();
    EXPECT_FALSE(offscreen(dlg->Control(1024)));
    EXPECT_FALSE(offscreen(dlg->Control(1012)));
    dlg->Maximize();
    for (QWidget* w : beyond)
        EXPECT_FALSE(offscreen(w)) << w->objectName().toStdString();
    for (int id : {1030, 1033, 1036, 1041})
        EXPECT_FALSE(dlg->Control(id)->isVisible()) << id;
    EXPECT_TRUE(dlg->Control(1029)->isVisible());
    dlg->PressTab(1012);
    dlg->PressTab(1008);
    EXPECT_FALSE(dlg->Control(1030)->isVisible());
}

TEST_F(MainWindow, ScreenReaderNamesWhatShowsNoText)
{
    dlg->PressTab(1013);
    auto* fw = dlg->findChild<CFWDlg*>();
    ASSERT_NE(fw, nullptr);
    const auto read = [](QWidget* w, QAccessible::Text t) { return QAccessible::queryAccessibleInterface(w)->text(t); };
    const struct {
        QWidget* w;
        const char* name;
    } named[] = {{dlg->Control(1042), "RX"}, {dlg->Control(1043), "TX"}, {fw->PathEdit(), "Open FW File"},
                 {fw->Messages(), "Messages"}};
    for (const auto& n : named)
        EXPECT_EQ(read(n.w, QAccessible::Name), QString::fromLatin1(n.name));
    // A list is read by its value here; its label comes with it as the "labelled by" relation.
    for (auto [list, label] : {std::pair{1020, "Port"}, std::pair{1060, "Switcher IP"}}) {
        SCOPED_TRACE(label);
        const auto labels = QAccessible::queryAccessibleInterface(dlg->Control(list))->relations(QAccessible::Label);
        ASSERT_EQ(labels.size(), 1);
        EXPECT_EQ(labels[0].first->text(QAccessible::Name), QString::fromLatin1(label));
        EXPECT_EQ(dlg->Control(list)->accessibleName(), QString::fromLatin1(label));
    }
    // The two "Clear" buttons say what each clears; the band's buttons are not read twice.
    EXPECT_NE(read(dlg->Control(1025), QAccessible::Description), read(dlg->Control(1123), QAccessible::Description));
    EXPECT_FALSE(read(dlg->Control(1123), QAccessible::Description).isEmpty());
    for (int id : {1002, 1005}) {
        EXPECT_FALSE(read(dlg->Control(id), QAccessible::Name).isEmpty());
        EXPECT_NE(read(dlg->Control(id), QAccessible::Description), read(dlg->Control(id), QAccessible::Name));
    }
}

}  // namespace
}  // namespace corvane::test
