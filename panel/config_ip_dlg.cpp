#include "panel/config_ip_dlg.h"

#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>

#include "core/link/network.h"
#include "platform/notices.h"
#include "panel/widgets/qt_ui.h"
#include "panel/res/icons.h"
#include "panel/widgets/icon_button.h"

namespace corvane {

namespace {
const QColor kOutline(128, 128, 128, 90);
}  // namespace

CConfigIPDlg::CConfigIPDlg(INotices& notices, QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::FramelessWindowHint), m_notices(notices)
{
    setObjectName(QStringLiteral("configIpDialog"));
    setAccessibleName(QStringLiteral("TCP Config"));
    m_controls = BuildDialog(139, this);
    setFixedSize(size());

    m_btnClose = Control<CIconButton>(m_controls, IDC_CLOSE);
    m_auto = Control<QRadioButton>(m_controls, IDC_AUTO_IP);
    m_static = Control<QRadioButton>(m_controls, IDC_STATIC_IP);
    Q_ASSERT(m_btnClose && m_auto && m_static);

    m_btnClose->SetHoverFrame(false);
    m_btnClose->SetStateIcons(ResourcePixmap(IDI_CLOSE_HOT), ResourcePixmap(IDI_CLOSE));
    m_btnClose->SetTipText(QStringLiteral("Close"));
    for (int slot : {CIconButton::COLOR_BK_HOT, CIconButton::COLOR_BK_REST, CIconButton::COLOR_BK_FOCUS})
        m_btnClose->SetStateColor(slot, BandColor());

    // The fields have no caption of their own; their names tell them apart.
    const auto* digits = new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), this);
    for (int k = 0; k < 4; ++k) {
        IpField(k)->setValidator(digits);
        IpField(k)->setAccessibleName(QStringLiteral("IP address, part %1").arg(k + 1));
    }
    for (int k = 0; k < 6; ++k)
        MacField(k)->setAccessibleName(QStringLiteral("MAC address, part %1").arg(k + 1));

    connect(m_auto, &QRadioButton::clicked, this, [this] { EnableAddress(false); });
    connect(m_static, &QRadioButton::clicked, this, [this] { EnableAddress(true); });
    connect(Control<QPushButton>(m_controls, IDC_OK), &QPushButton::clicked, this, [this] { OnOk(); });
    connect(Control<QPushButton>(m_controls, IDC_CANCEL), &QPushButton::clicked, this, &CConfigIPDlg::reject);
    connect(m_btnClose, &CIconButton::clicked, this, &CConfigIPDlg::reject);

    InstallKeyFilter(this);
    SNetworkState start;  // the fields as at program start, until an opening prepares them
    Prepare(start);
    m_net = nullptr;
}

QWidget* CConfigIPDlg::Item(int id) const { return Control<QWidget>(m_controls, id); }
QLineEdit* CConfigIPDlg::IpField(int k) const { return Control<QLineEdit>(m_controls, IDC_IP_FIRST + k); }
QLineEdit* CConfigIPDlg::MacField(int k) const { return Control<QLineEdit>(m_controls, IDC_MAC_FIRST + k); }

void CConfigIPDlg::Prepare(SNetworkState& net)
{
    m_net = &net;
    const bool fixed = net.nIpMode == IP_MODE_STATIC;
    (fixed ? m_static : m_auto)->setChecked(true);
    EnableAddress(fixed);
    for (int k = 0; k < 4; ++k)
        IpField(k)->setText(QString::fromStdString(net.SwitcherIp[k]));
    for (int k = 0; k < 6; ++k)
        MacField(k)->setText(QString::fromStdString(net.SwitcherMac[k]));
    // Every opening starts on the first field, the address mode, visibly: never on "OK", where
    // Ctrl+Enter would send the configuration again.
    (fixed ? m_static : m_auto)->setFocus(Qt::OtherFocusReason);
}

void CConfigIPDlg::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    setAttribute(Qt::WA_KeyboardFocusChange);  // the first field's focus ring, before any Tab
}

void CConfigIPDlg::EnableAddress(bool on)
{
    for (int k = 0; k < 4; ++k)
        IpField(k)->setEnabled(on);
}

void CConfigIPDlg::OnOk()
{
    IpFields ip;
    for (int k = 0; k < 4; ++k)
        ip[k] = IpField(k)->text().toStdString();
    const bool fixed = m_static->isChecked();
    // A static address the switcher cannot take could leave it unreachable: refused here, with
    // the fields left as typed.
    if (fixed && !AddressFieldsValid(ip)) {
        m_notices.ShowMessage("Invalid IP address!");
        return;
    }
    if (!m_net)
        return;
    m_net->SwitcherIp = ip;
    for (int k = 0; k < 6; ++k)
        m_net->NewMac[k] = MacField(k)->text().toStdString();
    m_net->nIpMode = fixed ? IP_MODE_STATIC : IP_MODE_AUTO;
    done(QDialog::Accepted);
}

void CConfigIPDlg::reject() { done(QDialog::Rejected); }

void CConfigIPDlg::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    m_btnClose->setGeometry(width() - 26, 1, 25, 25);
}

void CConfigIPDlg::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && StartWindowDrag(this)) {
        event->accept();
        return;
    }
    QDialog::mousePressEvent(event);
}

void CConfigIPDlg::paintEvent(QPaintEvent*)
{
    const int w = width(), h = height();
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.fillRect(rect(), Qt::white);
    p.fillRect(QRect(1, 1, w - 2, kBandHeight), BandColor());
    p.fillRect(QRect(1, kBandHeight + 1, w - 2, h - kBandHeight - 2), ButtonFaceColor());
    FillHLine(p, 0, w - 2, 0, BandEdgeColor());
    FillVLine(p, 0, 0, kBandHeight, BandEdgeColor());
    FillVLine(p, w - 1, 0, kBandHeight, BandEdgeColor());
    OutlineRect(p, 0, 0, w - 1, h - 1, kOutline);

    p.setPen(Qt::white);
    p.setFont(DialogFont());
    p.drawText(QRect(QPoint(1, 1), QPoint(89, 29)), Qt::AlignCenter | Qt::TextSingleLine,
               QStringLiteral("TCP Config"));
}

}  // namespace corvane
