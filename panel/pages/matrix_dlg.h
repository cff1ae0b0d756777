// The routing page's window (template 134): two groups, one per output, each with the digit of
// the routed input, previous and next buttons and four IN buttons. It only shows and forwards:
// what is sent and what a reply means is CMatrixPage's business.
#pragma once

#include <QWidget>
#include <vector>

#include "core/pages/matrix_page.h"
#include "panel/widgets/dialog_builder.h"

class QAbstractButton;
class QLabel;

namespace corvane {

class CIconButton;

class CMatrixDlg final : public QWidget, public IMatrixView {
    Q_OBJECT
public:
    explicit CMatrixDlg(CLinkCore& link, QWidget* parent = nullptr);

    // Every reply with a valid checksum while the page is shown.
    void OnReply(const Frame& frame) { m_page.OnRoutingReply(frame); }

    CMatrixPage& Page() { return m_page; }
    QWidget* Control(int id) const;
    // The controls in reading order, as Tab visits them.
    std::vector<QWidget*> FocusOrder() const;
    QAbstractButton* InputButton(int output, int input) const;
    QLabel* Picture(int output) const;
    CIconButton* PreviousButton(int output) const;
    CIconButton* NextButton(int output) const;
    // The input whose digit the output's picture shows.
    int DigitShown(int output) const;

    // IMatrixView
    void CheckInput(int output, int input) override;
    void ShowDigit(int output, int input) override;
    void RouteSet(int output, int input) override;

private:
    void SetPictureName(int output);

    ControlMap m_controls;
    int m_digit[2] = {1, 1};  // the template shows digit 1 in both pictures
    CMatrixPage m_page;
};

}  // namespace corvane
