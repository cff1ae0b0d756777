// The busy indicator: the dots on the virtual clock, the final view, its look and the modal
// flows behind OpenStatus, FinishStatus and CloseStatus.
#include <QApplication>
#include <QLabel>
#include <QTest>
#include <QTimer>

#include "panel/widgets/qt_ui.h"
#include "panel/widgets/status_dlg.h"
#include "widgets_test.h"

namespace corvane::test {
namespace {

int OpenBusyWindows()
{
    int n = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (qobject_cast<CStatusDlg*>(w) && w->isVisible())
            ++n;
    return n;
}

class StatusTest : public WidgetTest {};

TEST_F(StatusTest, DotsCycleEvery300ms)
{
    g_strStatusText = "Getting status";
    CStatusDlg dlg(m_clock);
    struct Step {
        int at;
        const char* text;
    } steps[] = {{0, "Getting status . . ."},   {299, "Getting status . . ."}, {300, "Getting status ."},
                 {600, "Getting status . ."},   {900, "Getting status . . ."}, {1200, "Getting status ."}};
    for (const auto& s : steps) {
        m_clock.Advance(s.at - m_clock.Now());
        EXPECT_EQ(dlg.Text(), s.text) << s.at;
        // Only the shown text animates: a screen reader reads the caption, not every step.
        EXPECT_EQ(dlg.TextLabel()->accessibleName(), "Getting status") << s.at;
        EXPECT_EQ(dlg.accessibleDescription(), "Getting status") << s.at;
    }
    EXPECT_FALSE(dlg.Picture()->isVisibleTo(&dlg));
}

TEST_F(StatusTest, CaptionChangeShowsAtTheNextStep)
{
    g_strStatusText = "Setting";
    CStatusDlg dlg(m_clock);
    m_clock.Advance(450);
    EXPECT_EQ(dlg.Text(), "Setting .");
    g_strStatusText = "Configuring";
    EXPECT_EQ(dlg.Text(), "Setting .");
    m_clock.Advance(150);
    EXPECT_EQ(dlg.Text(), "Configuring . .");  // the dots carry on where they were
    EXPECT_EQ(dlg.TextLabel()->accessibleName(), "Configuring");
}

TEST_F(StatusTest, FinalViewStopsTheDots)
{
    g_strStatusText = "Setting";
    CStatusDlg dlg(m_clock);
    dlg.show();
    const QImage busy = Shot(dlg);
    SaveShot(busy, "busy");
    m_clock.Advance(300);
    g_strStatusText = "Set successfully!";
    dlg.ShowFinal();
    EXPECT_EQ(dlg.Text(), "Set successfully!");
    EXPECT_TRUE(dlg.Picture()->isVisible());
    m_clock.Advance(5000);
    EXPECT_EQ(dlg.Text(), "Set successfully!");
    g_strStatusText = "Something else";
    m_clock.Advance(5000);
    EXPECT_EQ(dlg.Text(), "Set successfully!");  // nothing changes any more

    const QImage final = Shot(dlg);
    SaveShot(final, "busy_final");
    ASSERT_EQ(final.size(), QSize(287, 116));
    // The outline: the band blue at alpha 150 over white, all around; white inside.
    const QColor outline = OverWhite(QColor(30, 144, 225), 150);
    for (QPoint p : {QPoint(0, 50), QPoint(286, 50), QPoint(100, 0), QPoint(100, 115), QPoint(0, 0), QPoint(286, 115)}) {
        EXPECT_TRUE(Near(final.pixelColor(p), outline)) << p.x() << "," << p.y();
        EXPECT_TRUE(Near(busy.pixelColor(p), outline)) << p.x() << "," << p.y();
    }
    EXPECT_EQ(final.pixelColor(10, 10), QColor(Qt::white));
    // The check mark at (54, 42), 31 x 31: green disc in the final view only.
    const QRect mark = dlg.Picture()->geometry();
    EXPECT_EQ(mark, QRect(54, 42, 31, 31));
    const QColor disc = final.pixelColor(mark.left() + 15, mark.top() + 4);
    EXPECT_GT(disc.green(), disc.red() + 60);
    EXPECT_EQ(busy.pixelColor(mark.left() + 15, mark.top() + 4), QColor(Qt::white));
    // The caption's ink lies in its own rectangle, on white.
    const QRect text = dlg.TextLabel()->geometry();
    EXPECT_EQ(text, QRect(107, 50, 152, 16));
    int ink = 0;
    for (int y = text.top(); y <= text.bottom(); ++y)
        for (int x = text.left(); x <= text.right(); ++x)
            ink += IsDark(final.pixel(x, y)) ? 1 : 0;
    EXPECT_GT(ink, 20);
}

class StatusFlowTest : public WidgetTest {
protected:
    // Presses the key on the busy indicator the next OpenStatus shows. The key must end it; if it
    // does not, the window is closed by force so the test fails instead of waiting for good.
    void PressWhileOpen(Qt::Key key)
    {
        QTimer::singleShot(0, [this, key] {
            ASSERT_NE(notices.StatusDlg(), nullptr);
            QTest::keyClick(notices.StatusDlg(), key);
            if (notices.StatusDlg() && notices.StatusDlg()->isVisible()) {
                ADD_FAILURE() << "key " << key << " did not end the busy indicator";
                notices.CloseStatus();
            }
        });
    }

    CQtNotices notices{m_clock};
};

TEST_F(StatusFlowTest, OpenFinishClose)
{
    bool checked = false;
    QTimer::singleShot(0, [&] {
        CStatusDlg* dlg = notices.StatusDlg();
        ASSERT_NE(dlg, nullptr);
        EXPECT_TRUE(g_bStatusOpen);
        EXPECT_EQ(dlg->Text(), "Getting status . . .");
        m_clock.Advance(300);
        EXPECT_EQ(dlg->Text(), "Getting status .");

        // A second opening only changes the caption and does not block.
        notices.OpenStatus("Setting");
        EXPECT_EQ(notices.StatusDlg(), dlg);
        EXPECT_EQ(OpenBusyWindows(), 1);
        EXPECT_EQ(dlg->Text(), "Getting status .");
        m_clock.Advance(300);
        EXPECT_EQ(dlg->Text(), "Setting . .");

        notices.FinishStatus("Set successfully!");
        EXPECT_EQ(dlg->Text(), "Set successfully!");
        m_clock.Advance(900);
        EXPECT_EQ(dlg->Text(), "Set successfully!");
        notices.OpenStatus("Setting");  // while final: only the string
        EXPECT_EQ(dlg->Text(), "Set successfully!");
        notices.CloseStatus();
        EXPECT_FALSE(dlg->isVisible());  // gone at once
        checked = true;
    });
    notices.OpenStatus("Getting status");
    EXPECT_TRUE(checked);
    EXPECT_FALSE(g_bStatusOpen);
    EXPECT_EQ(notices.StatusDlg(), nullptr);
    EXPECT_EQ(OpenBusyWindows(), 0);
}

TEST_F(StatusFlowTest, EscapeEndsTheWindowButNotTheOpening)
{
    PressWhileOpen(Qt::Key_Escape);
    notices.OpenStatus("Configuring");
    EXPECT_TRUE(g_bStatusOpen);  // until a caller closes it
    notices.OpenStatus("Configuring");  // does not open again, returns at once
    EXPECT_EQ(OpenBusyWindows(), 0);
    notices.FinishStatus("Configure successfully!");
    EXPECT_EQ(g_strStatusText, "Configure successfully!");
    notices.CloseStatus();
    EXPECT_FALSE(g_bStatusOpen);

    // Enter ends it the same way.
    PressWhileOpen(Qt::Key_Return);
    notices.OpenStatus("Setting");
    EXPECT_TRUE(g_bStatusOpen);
    notices.CloseStatus();
}

TEST_F(StatusFlowTest, OwnersKeyFilterLeavesTheBusyWindowAlone)
{
    // The main window filters its keys; the busy indicator it owns does not, the message box
    // filters its own.
    QWidget owner;
    InstallKeyFilter(&owner);
    owner.show();
    notices.SetOwner(&owner);
    QTimer::singleShot(0, [&] { EXPECT_EQ(notices.StatusDlg()->parentWidget(), &owner); });
    PressWhileOpen(Qt::Key_Escape);
    notices.OpenStatus("Setting");
    notices.CloseStatus();

    QTimer::singleShot(0, [&] {
        QTest::keyClick(notices.MessageDlg(), Qt::Key_Escape);
        EXPECT_TRUE(notices.MessageDlg()->isVisible());
        QTest::mouseClick(notices.MessageDlg()->Item(1058), Qt::LeftButton);
    });
    notices.ShowMessage("Time out!");
    EXPECT_FALSE(g_bMessageOpen);
}

TEST_F(StatusFlowTest, TimeOutClosesThenReports)
{
    // The time-out path: close the busy window, then show "Time out!" in the message box.
    std::vector<std::string> order;
    QTimer::singleShot(0, [&] {
        notices.CloseStatus();
        QTimer::singleShot(0, [&] {
            order.push_back(g_bMessageOpen ? "box open" : "no box");
            QTest::mouseClick(notices.MessageDlg()->Item(1058), Qt::LeftButton);
        });
        notices.ShowMessage("Time out!", [&] { order.push_back("after box"); });
    });
    notices.OpenStatus("Getting status");
    order.push_back("status returned");
    EXPECT_EQ(order, (std::vector<std::string>{"box open", "after box", "status returned"}));
    EXPECT_FALSE(g_bStatusOpen);
    EXPECT_FALSE(g_bMessageOpen);
}

}  // namespace
}  // namespace corvane::test
