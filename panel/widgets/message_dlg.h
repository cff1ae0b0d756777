// The program's message box: a borderless window with a blue title band, an information
// picture, a line of text (two for a long one) and "Ok"; a question adds "Cancel", the
// factory-reset question also "No longer remind". One opening at a time; CQtNotices opens and
// closes it.
#pragma once

#include <QDialog>
#include <QPointer>
#include <QRect>
#include <string>

#include "panel/widgets/dialog_builder.h"

class QCheckBox;
class QLabel;
class QMenu;
class QPushButton;

namespace corvane {

class CIconButton;
class CSpokenText;

// The text to show; read at every repaint, so a later message only replaces it.
extern std::string g_strMessageText;
// From the moment a caller decides to open the box until the operator closes it.
extern bool g_bMessageOpen;
// Only while the factory-reset question is being asked: selects the question layout.
extern bool g_bMessageAsk;
// The operator's last answer in the box's "No longer remind" check box.
extern bool g_bNoLongerRemind;

// The one question the box asks; its text also widens the text area and moves the picture.
inline constexpr const char* kFactoryResetQuestion = "Do you want to reset to factory settings?";

class CMessageDlg : public QDialog {
    Q_OBJECT
public:
    enum : int {
        IDC_CLOSE = 1057,
        IDC_OK = 1058,
        IDC_CANCEL = 1099,
        IDC_PICTURE = 1100,
        IDC_NO_LONGER_REMIND = 1101,
    };

    // Builds the window from template 135; the question layout when g_bMessageAsk is set.
    explicit CMessageDlg(QWidget* owner = nullptr);

    // The rectangle (right and bottom exclusive) the text is centred in, chosen by the text:
    // the wide one whenever the narrow one would cut it.
    static QRect TextRect(const std::string& text);
    // Two lines: the text is wider than even the wide rectangle.
    static bool TextWraps(const std::string& text);
    // The colour of the bottom band: the button face plus (5, 10, 0), each part modulo 256.
    static QColor BottomBandColor();

    // Follows a change of g_strMessageText: moves the picture for the question's wide text,
    // repaints and tells assistive technology. Every writer of the text calls it.
    void RefreshText();

    QWidget* Item(int id) const;
    // The box's system menu (Alt+Space): Close.
    void ShowSystemMenu();
    QMenu* SystemMenu() const;
    CIconButton* CloseButton() const { return m_btnClose; }

public slots:
    void reject() override;  // close command, Alt+F4: handled like "Cancel"

protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    void OnOk();
    void OnCancel();
    void PlaceCloseButton();

    ControlMap m_controls;
    CIconButton* m_btnClose = nullptr;
    QPushButton* m_btnOk = nullptr;
    QPushButton* m_btnCancel = nullptr;
    QCheckBox* m_chkNoLongerRemind = nullptr;
    QLabel* m_picture = nullptr;
    QPoint m_picturePos;  // where the template puts it
    QPointer<QMenu> m_systemMenu;
    CSpokenText* m_spokenText = nullptr;  // the painted text, as assistive technology reads it
};

}  // namespace corvane
