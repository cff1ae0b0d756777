// Dialog units, the template registry, the painted resources, the dialog builder, the key filter
// and the About box.
#include <QAccessible>
#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "panel/widgets/qt_ui.h"
#include "panel/res/dialog_template.h"
#include "panel/res/icons.h"
#include "panel/widgets/about_dlg.h"
#include "panel/widgets/dialog_builder.h"
#include "panel/widgets/icon_button.h"
#include "widgets_test.h"

namespace corvane::test {
namespace {

TEST(DialogUnits, MapCornersWithRoundingHalvesUp)
{
    struct Case {
        int du, px;
    } xs[] = {{0, 0}, {1, 2}, {2, 4}, {3, 5}, {94, 165}, {137, 240}, {178, 312}, {185, 324}, {164, 287}, {-3, -5}};
    for (auto c : xs)
        EXPECT_EQ(DuX(c.du), c.px) << c.du;
    EXPECT_EQ(DuY(73), 146);
    EXPECT_EQ(DuY(60), 120);
    // Position and size convert on their own: equal template sizes stay equal wherever they lie
    // (the message box's Ok and Cancel, the main window's tabs).
    EXPECT_EQ(DuRect(137, 60, 41, 11), QRect(240, 120, 72, 22));
    EXPECT_EQ(DuRect(94, 60, 41, 11), QRect(165, 120, 72, 22));
    for (int x : {1, 64, 127, 345})
        EXPECT_EQ(DuRect(x, 16, 62, 12).size(), QSize(109, 24)) << x;
}

TEST(Templates, RegisteredWithTheirSizes)
{
    struct Case {
        int id, w, h;
    } cases[] = {{100, 170, 62}, {135, 185, 73}, {142, 164, 58}};
    for (auto c : cases) {
        const DialogTemplate* t = Template(c.id);
        ASSERT_NE(t, nullptr) << c.id;
        EXPECT_EQ(t->w, c.w);
        EXPECT_EQ(t->h, c.h);
    }
    EXPECT_EQ(Template(99999), nullptr);
    EXPECT_EQ(DialogSize(*Template(135)), QSize(324, 146));
    EXPECT_EQ(DialogSize(*Template(142)), QSize(287, 116));
    // A second table with a taken id does not replace the first.
    static const DialogTemplate impostor{135, 1, 1, "", {}};
    EXPECT_FALSE(RegisterTemplate(impostor));
    EXPECT_EQ(Template(135)->w, 185);
}

TEST(Resources, FixedSizesAndPictures)
{
    struct Case {
        int id;
        QSize size;
    } cases[] = {{129, {16, 16}}, {130, {16, 16}}, {131, {16, 16}}, {132, {16, 16}}, {161, {32, 32}},
                 {162, {32, 32}}, {136, {36, 36}}, {143, {31, 31}}, {128, {32, 32}}};
    for (auto c : cases) {
        EXPECT_EQ(ResourceSize(c.id), c.size) << c.id;
        EXPECT_EQ(ResourcePixmap(c.id).size(), c.size) << c.id;
        EXPECT_FALSE(ResourceDescription(c.id).isEmpty()) << c.id;
    }
    EXPECT_TRUE(ResourcePixmap(4711).isNull());

    // Close at rest is a white cross on a transparent ground; its hot twin has a dark-red ground.
    const QImage close = ResourcePixmap(IDI_CLOSE).toImage();
    EXPECT_EQ(qAlpha(close.pixel(0, 0)), 0);
    EXPECT_GT(qGray(close.pixel(8, 8)), 240);
    const QImage closeHot = ResourcePixmap(IDI_CLOSE_HOT).toImage();
    EXPECT_GT(qRed(closeHot.pixel(0, 0)), 2 * qGreen(closeHot.pixel(0, 0)));
}

TEST(DialogBuilder, PlacesNamesAndTypesControls)
{
    QWidget parent;
    const ControlMap controls = BuildDialog(135, &parent);
    EXPECT_EQ(parent.size(), QSize(324, 146));
    ASSERT_EQ(controls.size(), 5u);

    auto* ok = Control<QPushButton>(controls, 1058);
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(ok->geometry(), QRect(240, 120, 72, 22));
    EXPECT_EQ(ok->objectName(), "ctl1058");
    EXPECT_TRUE(ok->accessibleName().isEmpty());  // read with its current text
    // Read without the mnemonic marker (as Qt's own file dialog names its button), "&&" as "&".
    for (const auto& [text, read] : {std::pair{"&Open", "Open"}, std::pair{"Save && &Close", "Save & Close"}}) {
        ok->setText(QString::fromLatin1(text));
        EXPECT_EQ(QAccessible::queryAccessibleInterface(ok)->text(QAccessible::Name), QString::fromLatin1(read));
    }
    EXPECT_EQ(ok->font().family(), DialogFont().family());
    EXPECT_EQ(ok->font().pointSize(), 9);

    EXPECT_NE(Control<CIconButton>(controls, 1057), nullptr);
    EXPECT_EQ(Control<QPushButton>(controls, 1057), nullptr);  // wrong kind
    auto* picture = Control<QLabel>(controls, 1100);
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->geometry(), QRect(46, 58, 36, 36));
    EXPECT_EQ(picture->accessibleName(), "Information");
    EXPECT_TRUE(picture->testAttribute(Qt::WA_TransparentForMouseEvents));
    auto* check = Control<QCheckBox>(controls, 1101);
    ASSERT_NE(check, nullptr);
    EXPECT_EQ(check->text(), "No longer remind");
    EXPECT_EQ(check->geometry(), QRect(5, 120, 121, 20));

    EXPECT_TRUE(BuildDialog(4711, &parent).empty());
}

TEST(DialogBuilder, AdjacentRadioButtonsFormOneGroup)
{
    static const ControlTemplate kControls[] = {
        {1, Ctl::GroupBox, "A", 0, 0, 100, 40}, {2, Ctl::Radio, "a1", 5, 10, 40, 10},
        {3, Ctl::Radio, "a2", 5, 20, 40, 10},    {4, Ctl::GroupBox, "B", 0, 50, 100, 40},
        {5, Ctl::Radio, "b1", 5, 60, 40, 10},    {6, Ctl::Radio, "b2", 5, 70, 40, 10},
        {0, Ctl::Static, "no id", 5, 80, 40, 10}, {7, Ctl::DropDown, "", 5, 90, 60, 80},
        {8, Ctl::Edit, "", 5, 100, 40, 12},
    };
    static const DialogTemplate kTpl{9001, 120, 120, "", kControls};
    QWidget parent;
    const ControlMap c = BuildDialog(kTpl, &parent);
    EXPECT_EQ(c.size(), 8u);  // the static without an id is not in the map
    Control<QRadioButton>(c, 2)->click();
    Control<QRadioButton>(c, 5)->click();
    Control<QRadioButton>(c, 3)->click();
    EXPECT_FALSE(Control<QRadioButton>(c, 2)->isChecked());
    EXPECT_TRUE(Control<QRadioButton>(c, 3)->isChecked());
    EXPECT_TRUE(Control<QRadioButton>(c, 5)->isChecked());  // the other group keeps its choice
    EXPECT_TRUE(Control<QGroupBox>(c, 1)->testAttribute(Qt::WA_TransparentForMouseEvents));
    // A closed drop-down list is one line high, whatever its template reserves for the list.
    auto* list = Control<QComboBox>(c, 7);
    EXPECT_LT(list->height(), DuY(80));
    // Its list is made when it first opens, and shows the dialog font as the box does.
    EXPECT_EQ(list->findChild<QAbstractItemView*>(), nullptr);
    EXPECT_EQ(list->font(), DialogFont());
    list->addItem(QStringLiteral("one"));
    parent.show();
    list->showPopup();
    ASSERT_NE(list->view(), nullptr);
    EXPECT_EQ(list->view()->font(), DialogFont());
    list->hidePopup();
    EXPECT_NE(Control<QLineEdit>(c, 8), nullptr);
}

TEST(KeyFilter, SwallowsEnterEscapeSpaceOnlyForTheWholeTree)
{
    QWidget window;
    auto* button = new QPushButton("b", &window);
    auto* edit = new QLineEdit(&window);
    InstallKeyFilter(&window);
    auto* later = new QPushButton("later", &window);  // created after the filter
    window.show();

    QSignalSpy pressed(button, &QPushButton::clicked), pressedLater(later, &QPushButton::clicked);
    for (int key : {Qt::Key_Space, Qt::Key_Return, Qt::Key_Enter}) {
        QTest::keyClick(button, static_cast<Qt::Key>(key));
        QTest::keyClick(later, static_cast<Qt::Key>(key));
    }
    EXPECT_EQ(pressed.count(), 0);
    EXPECT_EQ(pressedLater.count(), 0);

    QTest::keyClicks(edit, "a b");
    EXPECT_EQ(edit->text(), "ab");  // other keys pass, the blank does not
    EXPECT_TRUE(CKeyFilter::IsFilteredKey(Qt::Key_Escape, Qt::NoModifier));
    EXPECT_TRUE(CKeyFilter::IsFilteredKey(Qt::Key_Enter, Qt::KeypadModifier));
    EXPECT_FALSE(CKeyFilter::IsFilteredKey(Qt::Key_F4, Qt::AltModifier));
    EXPECT_FALSE(CKeyFilter::IsFilteredKey(Qt::Key_Space, Qt::AltModifier));  // the system menu
    EXPECT_TRUE(CKeyFilter::IsSystemMenuKey(Qt::Key_Space, Qt::AltModifier));
    EXPECT_TRUE(CKeyFilter::IsSystemMenuKey(Qt::Key_Menu, Qt::NoModifier));
    EXPECT_TRUE(CKeyFilter::IsSystemMenuKey(Qt::Key_F10, Qt::ShiftModifier));
    EXPECT_FALSE(CKeyFilter::IsSystemMenuKey(Qt::Key_F10, Qt::NoModifier));  // a menu bar's key
    EXPECT_FALSE(CKeyFilter::IsSystemMenuKey(Qt::Key_F10, Qt::ShiftModifier | Qt::ControlModifier));
    EXPECT_FALSE(CKeyFilter::IsFilteredKey(Qt::Key_A, Qt::NoModifier));
}

// A group box frame, drawn as the look draws it, needs no image format plugin: they cost start-up
// time and memory and read nothing the program shows.
TEST(PlatformLook, GroupBoxesLoadNoImagePlugin)
{
    QGroupBox box(QStringLiteral("COM"));
    box.resize(200, 80);
    const QImage shot = box.grab().toImage();
    EXPECT_NE(shot.pixelColor(1, 40), shot.pixelColor(100, 40)) << "the frame is drawn";
    QFile maps(QStringLiteral("/proc/self/maps"));
    ASSERT_TRUE(maps.open(QIODevice::ReadOnly));
    EXPECT_FALSE(maps.readAll().contains("plugins/imageformats/"));
}

TEST(AboutBox, ProgramNameVersionAndOk)
{
    CAboutDlg dlg;
    const QList<QLabel*> labels = dlg.findChildren<QLabel*>();
    QStringList texts;
    for (QLabel* l : labels)
        texts << l->text();
    EXPECT_TRUE(texts.contains("4x2 Corvane Controller"));
    EXPECT_TRUE(texts.contains("Version 1.32"));
    EXPECT_EQ(dlg.size(), QSize(DuX(170), DuY(62)));
    dlg.show();
    SaveShot(Shot(dlg), "about");
    auto* ok = dlg.findChild<QPushButton*>("ctl1");
    ASSERT_NE(ok, nullptr);
    QTimer::singleShot(0, ok, [ok] { ok->click(); });
    EXPECT_EQ(dlg.exec(), QDialog::Accepted);
}

}  // namespace
}  // namespace corvane::test
