// The EDID page's look and how it is operated without a mouse: the grabbed window, the rows of
// the "Manual Mode" group, texts that must fit their controls, the file tip, the file dialog's
// filter, assistive technology and keys.
#include "tests/app/edid_fixture.h"

#include <QAccessible>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QPushButton>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>
#include <QApplication>
#include <QFileSystemModel>
#include <QGroupBox>
#include <QGuiApplication>
#include <QScreen>
#include <QHelpEvent>
#include <QStyleOptionComboBox>
#include <QTest>
#include <QToolTip>

#include "panel/widgets/qt_ui.h"
#include "panel/widgets/accessible_window.h"
#include "panel/widgets/page_window.h"

namespace corvane::test {
namespace {

class EdidLook : public EdidFixture {
protected:
    QRect Rect(int id) const { return page->Control(id)->geometry(); }
};

TEST_F(EdidLook, RowsSitInTheirGroupsInReadingOrder)
{
    Open({11, 9, 3, 14});  // long names in the list
    const QImage img = Grab();
    EXPECT_EQ(page->geometry(), QRect(QPoint(1, 56), DialogSize(*Template(140))));
    EXPECT_LE(page->geometry().right(), dlg->width() - 2) << "the outline stays visible";
    EXPECT_LE(page->geometry().bottom(), dlg->height() - 2);

    QGroupBox* manual = Group(page, "Manual Mode");
    QGroupBox* list = Group(page, "Input EDID List");
    ASSERT_NE(manual, nullptr);
    ASSERT_NE(list, nullptr);
    EXPECT_LT(manual->geometry().bottom(), list->geometry().top());

    const std::vector<std::vector<int>> rows = {{1080, 1081, 1082, 1083, 1084},
                                                {1085, 1086, 1087, 1088, 1089},
                                                {1103, 1104, 1042, 1090, 1091, 1092}};
    int lastCentre = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row[0]);
        const int centre = Rect(row.back()).center().y();
        EXPECT_GT(centre, lastCentre + 20) << "rows one below the other";
        lastCentre = centre;
        int lastRight = manual->geometry().left();
        for (int id : row) {
            const QRect r = Rect(id);
            EXPECT_TRUE(manual->geometry().contains(r)) << id;
            EXPECT_GT(r.left(), lastRight) << id << " left to right, not overlapping";
            EXPECT_LE(std::abs(r.center().y() - centre), 3) << id << " on the row's line";
            lastRight = r.right();
        }
    }
    // The three "Set" buttons and the three target lists stand in columns.
    EXPECT_EQ(Rect(1084).x(), Rect(1089).x());
    EXPECT_EQ(Rect(1084).x(), Rect(1092).x());
    EXPECT_EQ(Rect(1083).x(), Rect(1091).x());
    EXPECT_EQ(Rect(1088).width(), Rect(1091).width());

    for (int n = 0; n < 4; ++n) {
        const QRect label = Rect(1105 + n), name = Rect(1109 + n);
        EXPECT_TRUE(list->geometry().contains(label));
        EXPECT_TRUE(list->geometry().contains(name));
        EXPECT_EQ(label.center().y(), name.center().y());
        EXPECT_LT(label.right(), name.left());
        if (n > 0) {
            EXPECT_GT(label.top(), Rect(1105 + n - 1).bottom());
        }
    }
    EXPECT_TRUE(list->geometry().contains(Rect(1113)));

    // The page's own ground between the groups.
    const QPoint free = page->mapTo(dlg.get(), QPoint(page->width() / 2, (manual->geometry().bottom() + list->geometry().top()) / 2));
    EXPECT_EQ(img.pixelColor(free), ButtonFaceColor());
}

TEST_F(EdidLook, EveryTextFitsItsControl)
{
    Open({9, 10, 11, 13});
    for (QLabel* label : page->findChildren<QLabel*>()) {
        SCOPED_TRACE(label->text().toStdString());
        EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width());
    }
    // The longest name fits the list statics whatever the switcher reports.
    for (int i = 0; i < kEdidNames; ++i) {
        page->ShowInputEdid(1, EdidListName(i));
        EXPECT_LE(page->InputEdid(1)->fontMetrics().horizontalAdvance(page->InputEdid(1)->text()),
                  page->InputEdid(1)->width());
    }
    for (QComboBox* box : page->findChildren<QComboBox*>()) {
        QStyleOptionComboBox opt;
        opt.initFrom(box);
        const QRect field = box->style()->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, box);
        for (int i = 0; i < box->count(); ++i)
            EXPECT_LE(box->fontMetrics().horizontalAdvance(box->itemText(i)), field.width()) << box->itemText(i).toStdString();
    }
    for (QPushButton* b : page->findChildren<QPushButton*>())
        EXPECT_LT(b->fontMetrics().horizontalAdvance(b->text()), b->width() - 4) << b->text().toStdString();
}

TEST_F(EdidLook, TheFileTipShowsOverThePathField)
{
    Open();
    OpenFile(WriteFile("office.bin", EdidBytesOf()));
    Grab();
    QLineEdit* edit = page->FileEdit();
    QHelpEvent help(QEvent::ToolTip, QPoint(5, 5), edit->mapToGlobal(QPoint(5, 5)));
    QCoreApplication::sendEvent(edit, &help);
    ASSERT_TRUE(QToolTip::isVisible());
    EXPECT_EQ(QToolTip::text(), edit->toolTip());
    EXPECT_TRUE(QToolTip::text().contains(QStringLiteral("Display: OFFICE 27")));
    // On a real display (xvfb-run) the whole screen shows the tip over the page.
    if (const QByteArray shots = qgetenv("CORVANE_SHOTS_DIR"); !shots.isEmpty() && QGuiApplication::platformName() == "xcb") {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 300)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QGuiApplication::primaryScreen()->grabWindow(0).save(QString::fromLocal8Bit(shots) + "/tip-on-screen.png");
    }
    QToolTip::hideText();
}

// The widget dialog that "..." opens, showing the folder: which names it offers.
TEST_F(EdidLook, TheFileDialogOffersBinFilesInAnyCase)
{
    Open();
    for (const char* name : {"upper.BIN", "lower.bin", "mixed.Bin", "other.txt", "bin"})
        WriteFile(name, EdidBytesOf());
    std::unique_ptr<QFileDialog> dialog = page->MakeFileDialog();
    EXPECT_EQ(dialog->nameFilters(), (QStringList{QStringLiteral("Binary file(*.BIN)"), QStringLiteral("All files (*)")}));
    EXPECT_EQ(OpenFileDialogSuffix(*dialog), QStringLiteral("BIN"));
    EXPECT_EQ(dialog->fileMode(), QFileDialog::ExistingFile);
    auto* model = dialog->findChild<QFileSystemModel*>();
    ASSERT_NE(model, nullptr);
    bool loaded = false;
    QObject::connect(model, &QFileSystemModel::directoryLoaded, [&](const QString& path) {
        loaded = loaded || QDir(path) == QDir(dir.path());
    });
    dialog->setDirectory(dir.path());
    dialog->show();
    QElapsedTimer t;
    t.start();
    while (!loaded && t.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    ASSERT_TRUE(loaded);
    QStringList offered;
    const QModelIndex root = model->index(dir.path());
    for (int r = 0; r < model->rowCount(root); ++r) {
        const QModelIndex i = model->index(r, 0, root);
        if (!model->isDir(i) && (model->flags(i) & Qt::ItemIsEnabled))
            offered << model->fileName(i);
    }
    offered.sort();
    EXPECT_EQ(offered, (QStringList{"lower.bin", "mixed.Bin", "upper.BIN"}));
    dialog->reject();
}

// A name typed into the dialog: as typed when such a file exists ("edid", as the kernel names a
// monitor's EDID), else with the default suffix in its own, lower or upper case; by Enter in the
// name field (typed as a name or as a whole path) or a click on "Open", each in one step. The
// page then takes the file.
TEST_F(EdidLook, TypedNamesGetTheSuffixOnlyWhenTheyNameNoFile)
{
    Open();
    WriteFile("edid", EdidBytesOf());
    WriteFile("monitor.BIN", EdidBytesOf());
    WriteFile("small.bin", EdidBytesOf());
    enum class How { Enter, Click, PathEnter };
    const struct {
        const char* typed;
        const char* chosen;
        How how;
    } cases[] = {
        {"edid", "edid", How::Enter},          {"monitor", "monitor.BIN", How::Enter},
        {"monitor.BIN", "monitor.BIN", How::Enter}, {"small", "small.bin", How::Enter},
        {"monitor", "monitor.BIN", How::Click}, {"small", "small.bin", How::Click},
        {"monitor", "monitor.BIN", How::PathEnter}, {"small", "small.bin", How::PathEnter},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.typed << " how " << static_cast<int>(c.how));
        std::unique_ptr<QFileDialog> dialog = page->MakeFileDialog();
        dialog->setDirectory(dir.path());
        dialog->show();
        dialog->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(dialog.get()));
        auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_NE(name, nullptr);
        name->setFocus();
        const QString typed = (c.how == How::PathEnter ? dir.path() + "/" : QString()) + QString::fromLatin1(c.typed);
        QTest::keyClicks(name, typed);
        // A refusal would open Qt's "File not found" box: closed, and counted.
        int refusals = 0;
        QTimer closer;
        closer.setSingleShot(true);
        QObject::connect(&closer, &QTimer::timeout, [&] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
                    ++refusals;
                    box->reject();
                }
        });
        closer.start(1000);
        if (c.how == How::Click) {
            auto* buttons = dialog->findChild<QDialogButtonBox*>();
            ASSERT_NE(buttons, nullptr);
            QTest::mouseClick(buttons->button(QDialogButtonBox::Open), Qt::LeftButton);
        } else {
            QTest::keyClick(name, Qt::Key_Return);
        }
        EXPECT_FALSE(dialog->isVisible());
        EXPECT_EQ(dialog->result(), QDialog::Accepted);
        EXPECT_EQ(refusals, 0);
        ASSERT_EQ(dialog->selectedFiles().size(), 1);
        EXPECT_EQ(dialog->selectedFiles().first(), dir.path() + "/" + QString::fromLatin1(c.chosen));
        QTest::qWait(0);
    }
    // Through the page: "edid" taken as it is.
    OpenFile(dir.path().toStdString() + "/edid");
    EXPECT_EQ(page->FileEdit()->text(), dir.path() + QStringLiteral("/edid"));
}

// A path longer than the field shows its end: files in one deep folder that differ only in
// their names must look different there.
TEST_F(EdidLook, LongPathShowsTheFileName)
{
    Open();
    const std::string deep = "a-rather-long-folder-name/and-another-one-below-it";
    QDir(dir.path()).mkpath(QString::fromStdString(deep));
    auto shown = [&](const std::string& relative) {
        OpenFile(WriteFile(relative, EdidBytesOf()));
        EXPECT_EQ(page->FileEdit()->text(), dir.path() + "/" + QString::fromStdString(relative));
        return page->FileEdit()->grab().toImage();
    };
    EXPECT_NE(shown(deep + "/office.bin"), shown(deep + "/studio.bin"));
}

TEST_F(EdidLook, AssistiveTechnologyReadsCurrentTextsAndPressesLikeAClick)
{
    Open({2, 15, 15, 15});
    OpenFile(WriteFile("office.bin", EdidBytesOf()));
    auto name = [](QWidget* w) { return QAccessible::queryAccessibleInterface(w)->text(QAccessible::Name); };
    auto value = [](QWidget* w) { return QAccessible::queryAccessibleInterface(w)->text(QAccessible::Value); };
    EXPECT_EQ(name(page->InputEdid(1)), QStringLiteral("1080i,HD Audio 7.1"));
    EXPECT_EQ(name(page->Control(1105)), QStringLiteral("IN1:"));
    page->List(EdidList::Preset)->setCurrentIndex(12);
    EXPECT_EQ(value(page->List(EdidList::Preset)), QStringLiteral("DVI 1024x768"));
    EXPECT_EQ(value(page->FileEdit()), QString::fromStdString(*chosen));
    // Buttons named by what they do (captions unchanged); every list and field tied to its caption.
    EXPECT_EQ(name(page->Control(1104)), QStringLiteral("Choose an EDID file"));
    EXPECT_EQ(qobject_cast<QPushButton*>(page->Control(1104))->text(), QStringLiteral("..."));
    const std::pair<QWidget*, const char*> captioned[] = {
        {page->List(EdidList::Preset), "Set EDID Mode"}, {page->List(EdidList::PresetTarget), "to"},
        {page->List(EdidList::CopySource), "Copy EDID From"}, {page->List(EdidList::CopyTarget), "to"},
        {page->FileEdit(), "Open EDID"}, {page->List(EdidList::FileTarget), "to"}, {page->InputEdid(3), "IN3:"}};
    for (const auto& [w, caption] : captioned) {
        SCOPED_TRACE(caption);
        const auto labels = QAccessible::queryAccessibleInterface(w)->relations(QAccessible::Label);
        ASSERT_EQ(labels.size(), 1);
        EXPECT_EQ(labels[0].first->text(QAccessible::Name), QString::fromLatin1(caption));
    }
    EXPECT_EQ(name(page->FileEdit()), QStringLiteral("EDID file"));

    const struct {
        int id;
        uint8_t mode;
        const char* name;
    } sets[] = {{1084, 0x00, "Set the preset"}, {1089, 0xEE, "Set the display's EDID"}, {1092, 0xBB, "Send the EDID file"}};
    for (const auto& s : sets) {
        SCOPED_TRACE(s.id);
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(page->Control(s.id));
        EXPECT_EQ(a->text(QAccessible::Name), QString::fromLatin1(s.name));
        EXPECT_EQ(qobject_cast<QPushButton*>(page->Control(s.id))->text(), QStringLiteral("Set"));
        ASSERT_NE(a->actionInterface(), nullptr);
        port->writes.clear();
        a->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        EXPECT_TRUE(port->writes.empty()) << "the action returns before its click runs";
        QCoreApplication::processEvents();
        EXPECT_EQ(Frames(), std::vector<Bytes>{SetRequest(s.mode)}) << "pressed by the queued click";
        port->Run(1000);
        EXPECT_TRUE(dlg->Link().bReady);
        // Said: the set, then the inputs read back.
        ASSERT_NE(AnnouncerOf(dlg.get()), nullptr);
        EXPECT_TRUE(AnnouncerOf(dlg.get())->Text().startsWith(QStringLiteral("IN1: "))) << AnnouncerOf(dlg.get())->Text().toStdString();
    }
}

TEST_F(EdidLook, EnterEscapeAndSpacePressNothing)
{
    Open();
    port->writes.clear();
    chooserCalls = 0;
    for (int id : {1084, 1089, 1092, 1104, 1113, 1081, 1042}) {
        for (Qt::Key key : {Qt::Key_Space, Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
            QTest::keyClick(page->Control(id), key);
            EXPECT_TRUE(port->writes.empty()) << id << " " << key;
        }
    }
    EXPECT_EQ(chooserCalls, 0);
    EXPECT_EQ(page->List(EdidList::Preset)->currentIndex(), 0);
    EXPECT_TRUE(page->isVisible() || !dlg->isVisible());
    // Other keys still work: the arrow keys choose in a list.
    QTest::keyClick(page->List(EdidList::Preset), Qt::Key_Down);
    EXPECT_EQ(page->List(EdidList::Preset)->currentIndex(), 1);
}

}  // namespace
}  // namespace corvane::test
