// The network configuration dialog: automatic or static addressing, the four address fields and
// the six MAC fields of the current switcher. Borderless, dragged by any free part of it; one
// instance for the program's life, opened modally each time.
#pragma once

#include <QDialog>

#include "core/link/network.h"
#include "panel/widgets/dialog_builder.h"
#include "platform/notices.h"

class QLineEdit;
class QPushButton;
class QRadioButton;

namespace corvane {

class CIconButton;

class CConfigIPDlg : public QDialog {
    Q_OBJECT
public:
    enum : int {
        IDC_GROUP = 1064,
        IDC_AUTO_IP = 1065,
        IDC_STATIC_IP = 1066,
        IDC_IP_FIRST = 1042,   // 1042..1045
        IDC_MAC_FIRST = 1078,  // 1078..1083
        IDC_OK = 1070,
        IDC_CANCEL = 1071,
        IDC_CLOSE = 1072,
    };
    static constexpr int kBandHeight = 25;

    // notices: where "Invalid IP address!" is said.
    explicit CConfigIPDlg(INotices& notices, QWidget* owner = nullptr);

    // The opening step: the mode and the fields from the network state, which "OK" writes.
    void Prepare(SNetworkState& net);

    QWidget* Item(int id) const;
    QLineEdit* IpField(int k) const;
    QLineEdit* MacField(int k) const;
    CIconButton* CloseButton() const { return m_btnClose; }

public slots:
    void reject() override;  // Alt+F4 and the like: as "Cancel"

protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    void EnableAddress(bool on);
    void OnOk();

    ControlMap m_controls;
    CIconButton* m_btnClose = nullptr;
    QRadioButton* m_auto = nullptr;
    QRadioButton* m_static = nullptr;
    INotices& m_notices;
    SNetworkState* m_net = nullptr;
};

}  // namespace corvane
