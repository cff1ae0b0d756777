// The message box: its painted chrome and layouts, and the modal flows behind ShowMessage and
// AskMessage.
#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "panel/widgets/accessible_window.h"
#include "panel/widgets/qt_ui.h"
#include "panel/widgets/icon_button.h"
#include "panel/widgets/message_dlg.h"
#include "widgets_test.h"

namespace corvane::test {
namespace {

const QColor kBand(30, 144, 225), kBandEdge(30, 120, 255);

int OpenMessageBoxes()
{
    int n = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (qobject_cast<CMessageDlg*>(w) && w->isVisible())
            ++n;
    return n;
}

class MessageLookTest : public WidgetTest {
protected:
    QImage Open(const std::string& text, bool ask, const char* shotName)
    {
        g_strMessageText = text;
        g_bMessageAsk = ask;
        dlg = std::make_unique<CMessageDlg>();
        dlg->show();
        QImage img = Shot(*dlg);
        SaveShot(img, shotName);
        return img;
    }
    std::unique_ptr<CMessageDlg> dlg;
};

TEST_F(MessageLookTest, ChromeBandsAndOutline)
{
    const QImage img = Open("Time out!", false, "message_notice");
    ASSERT_EQ(img.size(), QSize(324, 146));
    const QColor outline = OverWhite(QColor(128, 128, 128), 150);
    struct Px {
        int x, y;
        QColor c;
    } cases[] = {
        {0, 60, outline},      {323, 60, outline},      {100, 145, outline}, {0, 145, outline}, {323, 145, outline},
        {0, 0, kBandEdge},     {160, 0, kBandEdge},     {323, 0, kBandEdge}, {0, 25, kBandEdge}, {323, 25, kBandEdge},
        {0, 26, outline},      {1, 1, kBand},           {150, 13, kBand},    {150, 25, kBand},   {322, 25, kBand},
        {5, 26, Qt::white},    {5, 119, Qt::white},     {40, 100, Qt::white},
        {5, 120, CMessageDlg::BottomBandColor()},       {5, 144, CMessageDlg::BottomBandColor()},
        {322, 144, CMessageDlg::BottomBandColor()},
    };
    for (const auto& p : cases)
        EXPECT_TRUE(Near(img.pixelColor(p.x, p.y), p.c)) << p.x << "," << p.y << ": " << img.pixelColor(p.x, p.y).name().toStdString()
                                                        << " want " << p.c.name().toStdString();
    const QColor face = ButtonFaceColor();
    EXPECT_EQ(CMessageDlg::BottomBandColor(), QColor((face.red() + 5) % 256, (face.green() + 10) % 256, face.blue()));
}

TEST_F(MessageLookTest, CloseButtonAtTheBandsRightEnd)
{
    const QImage img = Open("Time out!", false, "message_close");
    CIconButton* close = dlg->CloseButton();
    EXPECT_EQ(close->geometry(), QRect(298, 1, 25, 25));
    EXPECT_EQ(close->toolTip(), "Close");
    EXPECT_FALSE(close->HoverFrame());
    EXPECT_TRUE(close->FlatLook());
    for (int slot : {CIconButton::COLOR_BK_HOT, CIconButton::COLOR_BK_REST, CIconButton::COLOR_BK_FOCUS})
        EXPECT_EQ(close->StateColor(slot), kBand);
    // The white cross at rest, centred in the button: (298 + 4 + 8, 1 + 4 + 8).
    EXPECT_GT(qGray(img.pixel(310, 13)), 240);
    EXPECT_TRUE(Near(img.pixelColor(299, 2), kBand));
}

// Where the text goes: dark pixels inside the rectangle chosen by the text, none beside it.
TEST_F(MessageLookTest, TextRectangleChosenByTheText)
{
    struct Case {
        const char* text;
        int left, right;  // right exclusive; top 60, bottom 100
    } cases[] = {
        {"Time out!", 100, 220},
        {"Open COM failed!", 100, 220},
        {"Connect to Matrix failed!", 100, 255},
        {"Please open the file(.fw)!", 100, 260},
        {"Do you want to reset to factory settings?", 50, 320},
        {"Invalid IP address!", 100, 220},
        {"Firmware file too large (at most 100000 bytes)!", 50, 320},  // two lines
        {"Firmware file without image!", 50, 320},
        {"Connection to Matrix lost!", 50, 320},
        {"A rather longer text than the default rectangle holds, so long it needs two lines", 50, 320},
    };
    for (const auto& c : cases) {
        const QImage img = Open(c.text, false, "message_text");
        EXPECT_EQ(CMessageDlg::TextRect(c.text), QRect(QPoint(c.left, 60), QPoint(c.right - 1, 99)));
        int inside = 0, outside = 0, minX = 9999, maxX = -1;
        for (int y = 60; y < 100; ++y)
            for (int x = 0; x < img.width(); ++x) {
                if (!IsDark(img.pixel(x, y)))
                    continue;
                if (x >= c.left && x < c.right) {
                    ++inside;
                    minX = std::min(minX, x);
                    maxX = std::max(maxX, x);
                } else {
                    ++outside;
                }
            }
        EXPECT_GT(inside, 20) << c.text;
        EXPECT_EQ(outside, 0) << c.text;
        // Centred and whole: the margins left and right of the ink differ by a few pixels at
        // most, and the ink keeps off the edges where a cut text would touch them.
        const int leftMargin = minX - c.left, rightMargin = c.right - 1 - maxX;
        EXPECT_LE(std::abs(leftMargin - rightMargin), 4) << c.text;
        EXPECT_GE(std::min(leftMargin, rightMargin), 2) << c.text;
        for (int x = c.left; x < c.right; ++x)
            EXPECT_FALSE(IsDark(img.pixel(x, 60)) || IsDark(img.pixel(x, 99))) << c.text << " cut at x " << x;
        // The picture stands clear of the text.
        EXPECT_LT(dlg->Item(CMessageDlg::IDC_PICTURE)->geometry().right(), minX) << c.text;
    }
}

TEST_F(MessageLookTest, NoticeLayout)
{
    const QImage img = Open("Time out!", false, "message_timeout");
    EXPECT_TRUE(dlg->Item(CMessageDlg::IDC_OK)->isVisible());
    EXPECT_EQ(dlg->Item(CMessageDlg::IDC_OK)->geometry(), QRect(240, 120, 72, 22));
    EXPECT_FALSE(dlg->Item(CMessageDlg::IDC_CANCEL)->isVisible());
    EXPECT_FALSE(dlg->Item(CMessageDlg::IDC_NO_LONGER_REMIND)->isVisible());
    EXPECT_EQ(dlg->Item(CMessageDlg::IDC_PICTURE)->pos(), QPoint(46, 58));
    // The light-blue disc at its template place.
    EXPECT_GT(qBlue(img.pixel(46 + 8, 58 + 18)), qRed(img.pixel(46 + 8, 58 + 18)) + 60);
}

TEST_F(MessageLookTest, ScreenReaderHearsTheTextAndStartsOnTheSafeAnswer)
{
    // Read as "<text> dialog, <text> label, Ok button": named by its text, the text a label, focus
    // on the answer (not on the close button, not on a nameless "Message"); a question starts on
    // "Cancel", visibly focused.
    struct Case {
        const char* text;
        bool ask;
        std::vector<int> tabOrder;  // from the first focused control on
    };
    const Case cases[] = {
        {"Time out!", false, {CMessageDlg::IDC_OK, CMessageDlg::IDC_CLOSE}},
        {kFactoryResetQuestion, true,
         {CMessageDlg::IDC_CANCEL, CMessageDlg::IDC_NO_LONGER_REMIND, CMessageDlg::IDC_CLOSE, CMessageDlg::IDC_OK}},
        {"An upgrade is running. Close anyway?", true,
         {CMessageDlg::IDC_CANCEL, CMessageDlg::IDC_CLOSE, CMessageDlg::IDC_OK}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Open(c.text, c.ask, "message_spoken");
        QAccessibleInterface* box = QAccessible::queryAccessibleInterface(dlg.get());
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->text(QAccessible::Name), QString::fromLatin1(c.text));
        EXPECT_NE(box->text(QAccessible::Description), QString::fromLatin1(c.text)) << "said once, not twice";
        int labels = 0;
        for (int i = 0; i < box->childCount(); ++i) {
            QAccessibleInterface* child = box->child(i);
            if (child->role() == QAccessible::StaticText && child->text(QAccessible::Name) == QLatin1String(c.text))
                ++labels;
            EXPECT_NE(child->text(QAccessible::Name), child->text(QAccessible::Description))
                << "read twice: " << child->text(QAccessible::Name).toStdString();
        }
        EXPECT_EQ(labels, 1);
        EXPECT_EQ(dlg->focusWidget(), dlg->Item(c.tabOrder[0]));
        // The focus ring is drawn from the start, not only after a Tab.
        dlg->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(dlg.get()));
        QWidget* first = dlg->Item(c.tabOrder[0]);
        const QImage ringed = first->grab().toImage();
        dlg->setAttribute(Qt::WA_KeyboardFocusChange, false);
        EXPECT_NE(first->grab().toImage(), ringed);
        for (std::size_t k = 1; k < c.tabOrder.size() + 1; ++k) {
            QTest::keyClick(dlg->focusWidget(), Qt::Key_Tab);
            EXPECT_EQ(dlg->focusWidget(), dlg->Item(c.tabOrder[k % c.tabOrder.size()])) << k;
        }
    }
}

TEST_F(MessageLookTest, QuestionLayout)
{
    const QImage img = Open(kFactoryResetQuestion, true, "message_question");
    EXPECT_EQ(dlg->Item(CMessageDlg::IDC_OK)->geometry(), QRect(165, 120, 72, 22));
    // Ok and Cancel have one template size, so one size on the screen.
    EXPECT_EQ(dlg->Item(CMessageDlg::IDC_CANCEL)->geometry(), QRect(240, 120, 72, 22));
    EXPECT_TRUE(dlg->Item(CMessageDlg::IDC_CANCEL)->isVisible());
    auto* check = qobject_cast<QCheckBox*>(dlg->Item(CMessageDlg::IDC_NO_LONGER_REMIND));
    EXPECT_TRUE(check->isVisible());
    EXPECT_FALSE(check->isChecked());
    EXPECT_EQ(dlg->Item(CMessageDlg::IDC_PICTURE)->pos(), QPoint(9, 60));
    EXPECT_EQ(dlg->Item(CMessageDlg::IDC_PICTURE)->size(), QSize(36, 36));
    EXPECT_GT(qBlue(img.pixel(9 + 8, 60 + 18)), qRed(img.pixel(9 + 8, 60 + 18)) + 60);
    // "Ok" really stands left of "Cancel" on screen.
    const QPoint okCentre = dlg->Item(CMessageDlg::IDC_OK)->geometry().center();
    EXPECT_EQ(dlg->childAt(okCentre), dlg->Item(CMessageDlg::IDC_OK));

    // Any other question: Ok and Cancel, no "No longer remind" (it would silence the factory-reset
    // question), and Cancel, which loses nothing, comes first.
    Open("An upgrade is running. Close anyway?", true, "message_close_question");
    EXPECT_TRUE(dlg->Item(CMessageDlg::IDC_CANCEL)->isVisible());
    EXPECT_FALSE(dlg->Item(CMessageDlg::IDC_NO_LONGER_REMIND)->isVisible());
    EXPECT_EQ(dlg->focusWidget(), dlg->Item(CMessageDlg::IDC_CANCEL));
}

class MessageFlowTest : public WidgetTest {
protected:
    // Runs f inside the nested loop of the box that the next notice opens.
    template <class F>
    void WhileOpen(F f)
    {
        QTimer::singleShot(0, [this, f] {
            ASSERT_NE(notices.MessageDlg(), nullptr);
            QPointer<CMessageDlg> dlg = notices.MessageDlg();
            f(*dlg);
            // A box the test meant to close but did not would block the test for good.
            if (dlg && dlg->isVisible()) {
                ADD_FAILURE() << "the box is still open";
                dlg->done(IDCANCEL);
            }
        });
    }
    static void Click(CMessageDlg& dlg, int id) { QTest::mouseClick(dlg.Item(id), Qt::LeftButton); }

    CQtNotices notices{m_clock};
};

TEST_F(MessageFlowTest, OkReturnsAfterTheBoxClosed)
{
    std::vector<std::string> order;
    WhileOpen([&](CMessageDlg& dlg) {
        order.push_back("open");
        EXPECT_TRUE(g_bMessageOpen);
        EXPECT_TRUE(dlg.isVisible());
        Click(dlg, CMessageDlg::IDC_OK);
    });
    notices.ShowMessage("Time out!", [&] { order.push_back("then"); });
    EXPECT_EQ(order, (std::vector<std::string>{"open", "then"}));
    EXPECT_FALSE(g_bMessageOpen);
    EXPECT_EQ(notices.MessageDlg(), nullptr);
    EXPECT_EQ(OpenMessageBoxes(), 0);
}

TEST_F(MessageFlowTest, SecondMessageOnlyReplacesTheText)
{
    bool innerRan = false, outerRan = false;
    QWidget owner;  // its announcer says what the open box now shows
    notices.SetOwner(&owner);
    WhileOpen([&](CMessageDlg& dlg) {
        notices.ShowMessage("Open COM failed!", [&] { innerRan = true; });
        EXPECT_TRUE(AnnouncerOf(&owner) && AnnouncerOf(&owner)->Text() == QStringLiteral("Open COM failed!"));
        EXPECT_TRUE(innerRan);  // the caller went on at once
        EXPECT_FALSE(outerRan);
        EXPECT_EQ(OpenMessageBoxes(), 1);
        EXPECT_EQ(notices.MessageDlg(), &dlg);
        EXPECT_EQ(g_strMessageText, "Open COM failed!");
        EXPECT_EQ(QAccessible::queryAccessibleInterface(&dlg)->text(QAccessible::Name), "Open COM failed!");
        // A question due meanwhile is not asked: the caller hears Cancel at once.
        int answer = 0;
        notices.AskMessage(kFactoryResetQuestion, [&](int r) { answer = r; });
        EXPECT_EQ(answer, IDCANCEL);
        EXPECT_FALSE(dlg.Item(CMessageDlg::IDC_CANCEL)->isVisible());
        // Its text still replaces the notice's, and the picture makes way for it.
        EXPECT_EQ(dlg.Item(CMessageDlg::IDC_PICTURE)->pos(), QPoint(9, 60));
        Click(dlg, CMessageDlg::IDC_OK);
    });
    notices.ShowMessage("Time out!", [&] { outerRan = true; });
    EXPECT_TRUE(outerRan);
}

TEST_F(MessageFlowTest, AnswersOfTheQuestion)
{
    struct Case {
        const char* name;
        int clickId;  // 0: the platform's close command
        std::vector<int> checkClicks;
        int result;
        bool noLongerRemind;
    } cases[] = {
        {"ok", CMessageDlg::IDC_OK, {}, IDOK, false},
        {"cancel", CMessageDlg::IDC_CANCEL, {}, IDCANCEL, false},
        {"close button", CMessageDlg::IDC_CLOSE, {}, IDCANCEL, false},
        {"close command", 0, {}, IDCANCEL, false},
        {"ticked then cancel", CMessageDlg::IDC_CANCEL, {1}, IDCANCEL, true},
        {"ticked then ok", CMessageDlg::IDC_OK, {1}, IDOK, true},
        {"ticked and unticked", CMessageDlg::IDC_OK, {1, 1}, IDOK, false},
    };
    for (const auto& c : cases) {
        CQtNotices::ResetState();
        WhileOpen([&](CMessageDlg& dlg) {
            EXPECT_TRUE(g_bMessageAsk);
            for (size_t i = 0; i < c.checkClicks.size(); ++i)
                Click(dlg, CMessageDlg::IDC_NO_LONGER_REMIND);
            if (c.clickId)
                Click(dlg, c.clickId);
            else
                dlg.close();  // Alt+F4
        });
        int answer = -1;
        notices.AskMessage(kFactoryResetQuestion, [&](int r) { answer = r; });
        EXPECT_EQ(answer, c.result) << c.name;
        EXPECT_EQ(g_bNoLongerRemind, c.noLongerRemind) << c.name;
        EXPECT_FALSE(g_bMessageOpen) << c.name;
        EXPECT_FALSE(g_bMessageAsk) << c.name;
    }
}

TEST_F(MessageFlowTest, EachOpeningStartsUnticked)
{
    g_bNoLongerRemind = true;
    WhileOpen([&](CMessageDlg& dlg) {
        EXPECT_FALSE(qobject_cast<QCheckBox*>(dlg.Item(CMessageDlg::IDC_NO_LONGER_REMIND))->isChecked());
        Click(dlg, CMessageDlg::IDC_OK);
    });
    notices.AskMessage(kFactoryResetQuestion, [](int) {});
    EXPECT_TRUE(g_bNoLongerRemind);  // untouched without a click
}

TEST_F(MessageFlowTest, KeyboardCannotCloseOrPress)
{
    WhileOpen([&](CMessageDlg& dlg) {
        QWidget* ok = dlg.Item(CMessageDlg::IDC_OK);
        for (QWidget* target : {static_cast<QWidget*>(&dlg), ok, dlg.Item(CMessageDlg::IDC_CANCEL)})
            for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape, Qt::Key_Space})
                QTest::keyClick(target, key);
        QApplication::processEvents();
        EXPECT_TRUE(dlg.isVisible());
        EXPECT_TRUE(g_bMessageOpen);
        Click(dlg, CMessageDlg::IDC_CANCEL);
    });
    int answer = -1;
    notices.AskMessage(kFactoryResetQuestion, [&](int r) { answer = r; });
    EXPECT_EQ(answer, IDCANCEL);
}

TEST_F(MessageFlowTest, CtrlEnterPressesTheFocusedControl)
{
    // The keyboard's one way to answer (Enter, Escape and Space stay swallowed): Ctrl+Enter on
    // the focused control, a click like the mouse's, taken after the key's own handling.
    struct Case {
        int focused;
        int answer;            // how the box ends
        bool noLongerRemind;   // the check box's state on the way
    };
    const Case cases[] = {
        {CMessageDlg::IDC_OK, IDOK, false},
        {CMessageDlg::IDC_CANCEL, IDCANCEL, false},
        {CMessageDlg::IDC_NO_LONGER_REMIND, IDCANCEL, true},
        {CMessageDlg::IDC_CLOSE, IDCANCEL, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.focused);
        g_bNoLongerRemind = false;
        WhileOpen([&](CMessageDlg& dlg) {
            QWidget* w = dlg.Item(c.focused);
            w->setFocus();
            QTest::keyClick(w, Qt::Key_Return, Qt::ControlModifier);
            EXPECT_TRUE(dlg.isVisible()) << "pressed only once the key is handled";
            QApplication::processEvents();
            if (c.focused == CMessageDlg::IDC_NO_LONGER_REMIND) {
                EXPECT_TRUE(dlg.isVisible());
                EXPECT_TRUE(g_bNoLongerRemind);
                // Held down, the chord presses once: the auto-repeat is swallowed.
                QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Return, Qt::ControlModifier, QString(), true);
                QApplication::sendEvent(w, &repeat);
                QApplication::processEvents();
                EXPECT_TRUE(g_bNoLongerRemind);
                Click(dlg, CMessageDlg::IDC_CANCEL);
            }
        });
        int answer = -1;
        notices.AskMessage(kFactoryResetQuestion, [&](int r) { answer = r; });
        EXPECT_EQ(answer, c.answer);
        EXPECT_EQ(g_bNoLongerRemind, c.noLongerRemind);
    }
}

TEST_F(MessageFlowTest, AltSpaceOpensTheSystemMenuAndAnswersNothing)
{
    // With "Ok" focused, Alt+Space must not answer the factory-reset question.
    WhileOpen([&](CMessageDlg& dlg) {
        for (int id : {CMessageDlg::IDC_OK, CMessageDlg::IDC_CANCEL, CMessageDlg::IDC_NO_LONGER_REMIND}) {
            SCOPED_TRACE(id);
            QWidget* focused = dlg.Item(id);
            focused->setFocus();
            QTest::keyClick(focused, Qt::Key_Space, Qt::AltModifier);
            QApplication::processEvents();
            EXPECT_TRUE(dlg.isVisible());
            EXPECT_FALSE(qobject_cast<QCheckBox*>(dlg.Item(CMessageDlg::IDC_NO_LONGER_REMIND))->isChecked());
            ASSERT_NE(dlg.SystemMenu(), nullptr);
            EXPECT_TRUE(dlg.SystemMenu()->isVisible());
            dlg.SystemMenu()->hide();
        }
        // The menu's Close is the close button: the question's answer is Cancel.
        dlg.SystemMenu()->actions().first()->trigger();
    });
    int answer = -1;
    notices.AskMessage(kFactoryResetQuestion, [&](int r) { answer = r; });
    EXPECT_EQ(answer, IDCANCEL);
    EXPECT_FALSE(g_bNoLongerRemind);
}

}  // namespace
}  // namespace corvane::test
