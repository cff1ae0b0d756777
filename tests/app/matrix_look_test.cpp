// The routing page's look and how it is operated without a mouse: the grabbed window, the
// pictures' digits, the placement of the buttons in their groups, assistive technology, keys.
#include "panel/widgets/accessible_window.h"
#include "tests/app/matrix_fixture.h"

#include <QAccessible>
#include <QCoreApplication>
#include <QGroupBox>
#include <QKeyEvent>
#include <QMenu>

#include "panel/res/icons.h"
#include "panel/widgets/icon_button.h"

namespace corvane::test {
namespace {

class MatrixLook : public MatrixFixture {};

// Centres of the seven segments in an 80 x 80 digit, a to g: top, upper right, lower right,
// bottom, lower left, upper left, middle.
const QPoint kSegment[7] = {{40, 14}, {53, 27}, {53, 53}, {40, 66}, {27, 53}, {27, 27}, {40, 40}};
const char* const kLit[5] = {"", "bc", "abged", "abgcd", "fgbc"};

bool IsWhite(QRgb c) { return qRed(c) > 220 && qGreen(c) > 220 && qBlue(c) > 220; }

TEST_F(MatrixLook, EachDigitLightsItsOwnSegments)
{
    for (int input = 1; input <= 4; ++input) {
        SCOPED_TRACE(input);
        const int id = DigitBitmap(input);
        const QImage img = ResourcePixmap(id).toImage();
        ASSERT_EQ(img.size(), QSize(80, 80));
        for (int s = 0; s < 7; ++s) {
            const bool lit = std::strchr(kLit[input], 'a' + s) != nullptr;
            EXPECT_EQ(IsWhite(img.pixel(kSegment[s])), lit) << char('a' + s);
        }
        EXPECT_FALSE(IsWhite(img.pixel(40, 27))) << "the ground between the segments stays blue";
        EXPECT_FALSE(IsWhite(img.pixel(40, 53)));
    }
    EXPECT_EQ(DigitBitmap(0), 0);
    EXPECT_EQ(DigitBitmap(5), 0);
}

TEST_F(MatrixLook, GroupsHoldTheirOutputsControlsInOrder)
{
    Open(3, 4);
    const QImage img = Grab();
    EXPECT_EQ(page->geometry(), QRect(QPoint(1, 56), DialogSize(*Template(134))));
    EXPECT_LE(page->geometry().right(), dlg->width() - 2) << "the outline stays visible";
    EXPECT_LE(page->geometry().bottom(), dlg->height() - 2);

    struct Output {
        const char* group;
        int picture, previous, next;
        int in[4];
    };
    const Output outputs[2] = {{"OUTPUT 1", 1114, 1116, 1118, {1101, 1102, 1103, 1104}},
                               {"OUTPUT 2", 1120, 1119, 1123, {1121, 1122, 1109, 1110}}};
    const int routed[2] = {3, 4};
    QRect boxes[2];
    for (int o = 0; o < 2; ++o) {
        const Output& out = outputs[o];
        SCOPED_TRACE(out.group);
        QGroupBox* g = Group(page, out.group);
        ASSERT_NE(g, nullptr);
        boxes[o] = g->geometry();
        const QRect pic = page->Control(out.picture)->geometry();
        EXPECT_EQ(pic.size(), QSize(80, 80));
        EXPECT_TRUE(boxes[o].contains(pic));
        EXPECT_LE(std::abs(pic.center().x() - boxes[o].center().x()), 3) << "digit centred in its group";

        const QRect prev = page->Control(out.previous)->geometry();
        const QRect next = page->Control(out.next)->geometry();
        EXPECT_TRUE(boxes[o].contains(prev));
        EXPECT_TRUE(boxes[o].contains(next));
        EXPECT_LT(prev.right(), pic.left()) << "previous left of the digit";
        EXPECT_GT(next.left(), pic.right()) << "next right of the digit";
        EXPECT_LE(std::abs(prev.center().y() - pic.center().y()), 2);
        EXPECT_LE(std::abs(next.center().y() - pic.center().y()), 2);
        for (int id : {out.previous, out.next}) {
            auto* arrow = qobject_cast<CIconButton*>(page->Control(id));
            EXPECT_FALSE(arrow->FlatLook()) << id;
            EXPECT_EQ(arrow->CurrentIcon().size(), QSize(32, 32)) << id;
            EXPECT_GE(arrow->width(), 34) << "the icon and the raised edge fit";
            EXPECT_GE(arrow->height(), 34);
        }

        int lastRight = boxes[o].left();
        for (int i = 0; i < 4; ++i) {
            const QRect b = page->Control(out.in[i])->geometry();
            EXPECT_TRUE(boxes[o].contains(b)) << out.in[i];
            EXPECT_GT(b.left(), lastRight) << "IN buttons left to right in input order";
            EXPECT_GT(b.top(), pic.bottom()) << "below the digit";
            EXPECT_EQ(b.top(), page->Control(out.in[0])->geometry().top());
            EXPECT_EQ(b.size(), page->Control(out.in[0])->geometry().size());
            lastRight = b.right();
            EXPECT_EQ(qobject_cast<QAbstractButton*>(page->Control(out.in[i]))->text(),
                      QStringLiteral("IN%1").arg(i + 1));
        }

        // The grabbed window shows the routed digit in the picture.
        const QPoint at = page->mapTo(dlg.get(), pic.topLeft());
        for (int s = 0; s < 7; ++s) {
            const bool lit = std::strchr(kLit[routed[o]], 'a' + s) != nullptr;
            EXPECT_EQ(IsWhite(img.pixel(at + kSegment[s])), lit) << char('a' + s);
        }
    }
    EXPECT_FALSE(boxes[0].intersects(boxes[1]));
    EXPECT_EQ(boxes[0].top(), boxes[1].top());
    EXPECT_LT(boxes[0].right(), boxes[1].left());
}

TEST_F(MatrixLook, CheckedInButtonLooksPressed)
{
    Open(2, 3);
    const QImage img = Grab();
    auto face = [&](int output, int input) {
        const QRect r = page->InputButton(output, input)->geometry();
        return img.pixelColor(page->mapTo(dlg.get(), QPoint(r.left() + 5, r.center().y())));
    };
    EXPECT_NE(face(1, 2), face(1, 1));
    EXPECT_EQ(face(1, 1), face(1, 3));
    EXPECT_EQ(face(2, 3), face(1, 2));
}

TEST_F(MatrixLook, AssistiveTechnologyReadsAndOperatesTheButtonsLikeAClick)
{
    Open(1, 2);
    QAbstractButton* in3 = page->InputButton(2, 3);
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(in3);
    ASSERT_NE(a, nullptr);
    // One choice of the output's four, read with the output it sets and whether it is chosen.
    EXPECT_EQ(a->text(QAccessible::Name), QStringLiteral("Output 2: IN3"));
    EXPECT_EQ(in3->text(), QStringLiteral("IN3"));
    EXPECT_EQ(a->role(), QAccessible::RadioButton);
    EXPECT_TRUE(a->state().checkable);
    EXPECT_FALSE(a->state().checked);
    EXPECT_TRUE(QAccessible::queryAccessibleInterface(page->InputButton(2, 2))->state().checked);
    QAccessibleActionInterface* actions = a->actionInterface();
    ASSERT_NE(actions, nullptr);

    struct Case {
        QString action;
        int input;
    };
    const Case cases[] = {{QAccessibleActionInterface::toggleAction(), 3},
                          {QAccessibleActionInterface::pressAction(), 4}};
    EXPECT_TRUE(actions->actionNames().contains(QAccessibleActionInterface::toggleAction()));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.action.toStdString());
        QAbstractButton* b = page->InputButton(2, c.input);
        QAccessibleInterface* ai = QAccessible::queryAccessibleInterface(b);
        if (!ai->actionInterface()->actionNames().contains(c.action))
            continue;  // only the actions offered
        port->writes.clear();
        ai->actionInterface()->doAction(c.action);
        EXPECT_TRUE(port->writes.empty()) << "the action returns before its click runs";
        QCoreApplication::processEvents();
        EXPECT_EQ(Sent(), (std::vector<std::vector<uint8_t>>{{0x02, 0x03, uint8_t(c.input), 0x00, 0x02}}));
        EXPECT_FALSE(b->isChecked()) << "no check mark before the switcher's answer";
        EXPECT_FALSE(ai->state().checked);
        port->Run(0);
        EXPECT_TRUE(b->isChecked());
        EXPECT_TRUE(ai->state().checked);
        EXPECT_EQ(page->Picture(2)->accessibleName(), QStringLiteral("Output 2: input %1").arg(c.input));
        // The outcome is said: the window's notification names it.
        ASSERT_NE(AnnouncerOf(dlg.get()), nullptr);
        EXPECT_EQ(AnnouncerOf(dlg.get())->Text(), QStringLiteral("Output 2: input %1").arg(c.input));
        EXPECT_EQ(QAccessible::queryAccessibleInterface(AnnouncerOf(dlg.get()))->role(), QAccessible::Notification);
    }
    // A refused action (a command pending) leaves the state as it was.
    const int routed = page->Page().ShownInput(2);
    page->InputButton(1, 2)->click();
    QAccessibleInterface* in1 = QAccessible::queryAccessibleInterface(page->InputButton(2, 1));
    in1->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    QCoreApplication::processEvents();
    EXPECT_FALSE(page->InputButton(2, 1)->isChecked());
    EXPECT_TRUE(page->InputButton(2, routed)->isChecked());
    EXPECT_EQ(Sent().back(), (std::vector<uint8_t>{0x02, 0x03, 0x02, 0x00, 0x01}));
}

TEST_F(MatrixLook, EnterEscapeAndSpaceDoNothingOnThePage)
{
    Open(1, 2);
    dlg->show();
    port->writes.clear();
    QWidget* targets[] = {page->InputButton(1, 3), page->NextButton(2), page};
    for (QWidget* w : targets) {
        w->setFocus();
        for (int key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape, Qt::Key_Space}) {
            QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
            QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
            QCoreApplication::sendEvent(w, &press);
            QCoreApplication::sendEvent(w, &release);
        }
    }
    EXPECT_TRUE(page->isVisible());
    EXPECT_TRUE(port->writes.empty());
    EXPECT_TRUE(dlg->Link().bReady);

    // Alt+Space on the page opens the main window's system menu and presses nothing.
    page->InputButton(2, 3)->setFocus();
    QKeyEvent altSpace(QEvent::KeyPress, Qt::Key_Space, Qt::AltModifier);
    QCoreApplication::sendEvent(page->InputButton(2, 3), &altSpace);
    auto* menu = dlg->findChild<QMenu*>();
    ASSERT_NE(menu, nullptr);
    EXPECT_TRUE(menu->isVisible());
    menu->hide();
    EXPECT_TRUE(port->writes.empty());

    // The page on its own filters the same keys.
    CMatrixDlg alone(dlg->Link());
    alone.show();
    alone.InputButton(1, 1)->setFocus();
    for (int key : {Qt::Key_Return, Qt::Key_Escape, Qt::Key_Space}) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
        QCoreApplication::sendEvent(alone.InputButton(1, 1), &press);
        QCoreApplication::sendEvent(alone.InputButton(1, 1), &release);
    }
    EXPECT_TRUE(alone.isVisible());
    EXPECT_TRUE(port->writes.empty());
}

}  // namespace
}  // namespace corvane::test
