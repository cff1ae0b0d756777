// The main window's look and behaviour: pixels at the places the window is drawn by, the tabs,
// the key filter, the controls of its template.
#include "tests/app/app_fixture.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QPlainTextEdit>

#include "platform/qt_ui.h"
#include "res/dialog_template.h"

namespace corvane::test {
namespace {

class MainWindow : public AppFixture {
protected:
    QImage Grab()
    {
        dlg->show();
        QImage img = dlg->grab().toImage().convertToFormat(QImage::Format_RGB32);
        // CORVANE_SHOTS_DIR=dir keeps every grab as a PNG, to look at the window as a person would.
        if (const QByteArray shots = qgetenv("CORVANE_SHOTS_DIR"); !shots.isEmpty()) {
            const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
            img.save(QString::fromLocal8Bit(shots) + "/" + info->name() + "-" + QString::number(m_shot++) + ".png");
        }
        return img;
    }
    int m_shot = 0;
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
        if (c.id != 0)
            EXPECT_NE(dlg->Control(c.id), nullptr) << c.id;
    // Controls outside the template width exist and answer, out of sight.
    EXPECT_GE(dlg->Control(1042)->x(), 593);
    EXPECT_GE(dlg->Control(1095)->x(), 593);
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
    EXPECT_EQ(dlg->Control(1012)->accessibleName(), QStringLiteral("Matrix"));
    EXPECT_EQ(dlg->accessibleName(), QStringLiteral("4x2 Corvane Controller Ver1.32"));
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
        g_bReady = true;  // the page query may have claimed the gate
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
    g_bReady = false;
    dlg->PressTab(1012);
    EXPECT_EQ(dlg->CurrentPage(), PAGE_GENERAL);
    g_bReady = true;
    dlg->PressTab(1012);
    EXPECT_EQ(dlg->CurrentPage(), PAGE_MATRIX);
    // The General page's controls hide; the logs, "clear" and the tabs never do.
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
    // A spot on the frame's left side, away from the group box's own lines.
    ExpectNear(img.pixelColor(at.x(), at.y() + 150), frame, "frame left side");
    ExpectNear(img.pixelColor(at.x() + 314, at.y() + 150), frame, "frame right side");
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
    dlg->show();
    dlg->ShowSystemMenu(dlg->mapToGlobal(QPoint(10, 10)));
    auto* menu = dlg->findChild<QMenu*>();
    ASSERT_NE(menu, nullptr);
    QStringList texts;
    for (QAction* a : menu->actions())
        if (!a->isSeparator())
            texts << a->text();
    EXPECT_EQ(texts, (QStringList{"Restore", "Minimize", "Maximize", "Close\tAlt+F4", "About Corvane..."}));
    menu->actions()[2]->trigger();
    QCoreApplication::processEvents();
    EXPECT_TRUE(dlg->IsMaximized());
    ASSERT_GT(dlg->width(), 593);
    EXPECT_EQ(dlg->Control(1002)->geometry(), QRect(dlg->width() - 26, 1, 25, 25));  // laid out anew
    EXPECT_TRUE(dlg->Control(1042)->isVisible());  // the log panes come into view
    EXPECT_TRUE(dlg->Control(1095)->isVisible());
    dlg->ShowSystemMenu(dlg->mapToGlobal(QPoint(10, 10)));
    EXPECT_FALSE(menu->actions()[2]->isEnabled());
    menu->actions()[0]->trigger();  // Restore
    EXPECT_EQ(dlg->size(), QSize(593, 492));
    menu->hide();
}

}  // namespace
}  // namespace corvane::test
