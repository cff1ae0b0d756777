#include "panel/corvane_dlg.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStyleOptionGroupBox>
#include <QStylePainter>
#include <QWindowStateChangeEvent>

#include "panel/config_ip_dlg.h"
#include "panel/log_pane_widget.h"
#include "panel/port_combo_widget.h"
#include "platform/notices.h"
#include "panel/widgets/qt_ui.h"
#include "panel/res/dialog_template.h"
#include "panel/res/icons.h"
#include "panel/widgets/about_dlg.h"
#include "panel/widgets/accessible_window.h"
#include "panel/widgets/dialog_builder.h"
#include "panel/widgets/icon_button.h"
#include "panel/widgets/page_tabs.h"

namespace corvane {

namespace {
const QColor kOutline(128, 128, 128, 50);
const QColor kGeneralFrame(30, 120, 200, 50);

constexpr int kTabIds[4] = {1008, 1011, 1012, 1013};
constexpr uint8_t kTabPages[4] = {PAGE_GENERAL, PAGE_EDID, PAGE_MATRIX, PAGE_FIRMWARE};

// Controls that belong to the General page and are hidden while another page is shown.
bool IsGeneralControl(int id)
{
    return (id >= 1015 && id <= 1022) || (id >= 1024 && id <= 1041) || id == 1063 || id == 1059 || id == 1060 ||
           id == 1045 || id == 1046 || id == 1047 || id == 1097 || id == 1098 || id == 1095 || id == 1096 ||
           id == 1101;
}

// The log panes, made when first needed.
bool IsLogPane(int id) { return id == 1042 || id == 1043; }

// Device information statics no reply ever writes: always empty, so kept hidden, where a screen
// reader does not meet them as nameless labels.
bool IsUnusedDeviceLine(int id) { return (id >= 1030 && id <= 1033) || (id >= 1036 && id <= 1041); }
}  // namespace

CCorvaneDlg::CCorvaneDlg(std::unique_ptr<ISerialPort> serial, ITimerService& timers, INotices& notices,
                         SPortPaths paths, QWidget* parent)
    : QDialog(parent), m_timerService(timers), m_notices(notices), m_serial(std::move(serial)),
      m_portPaths(std::move(paths))
{
    BuildWindow();
    WireControls();
    WireNetControls();

    // Dialog initialisation, in order.
    Ctl<QRadioButton>(1016)->setChecked(true);
    m_link->nControlMode = MODE_COM;
    ApplyControlMode();
    ClearDeviceInfo();
    RefreshPortList();
    m_link->SetTimer(TIMER_PORT_POLL, 600);
}

CCorvaneDlg::~CCorvaneDlg()
{
    // The serial transport goes first: its worker is stopped and joined before anything it
    // could deliver to is destroyed.
    m_serial.reset();
    m_configDlg.reset();
    m_net.reset();
    m_tcp.reset();
    m_udp.reset();
    m_link = nullptr;
    m_linkCore.reset();
}

void CCorvaneDlg::BuildWindow()
{
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint);
    // The task bar, the band and the About box name one version: the program's.
    setWindowTitle(QString::fromLatin1(kTitle));
    InstallAccessibleWindows();  // also where no application object has (tests)
    setAccessibleName(QString::fromLatin1(kTitle));
    setAttribute(Qt::WA_OpaquePaintEvent);  // the painting covers the whole client area

    m_controls = BuildDialog(
        *Template(102), this, true, [](const ControlTemplate& c) { return IsLogPane(c.id); }, m_deferred);
    for (QGroupBox* g : findChildren<QGroupBox*>())
        if (g->title() == QLatin1String("DVI Compatibility"))
            m_dviGroup = g;
    // The device information has one frame, the one the window paints: its group box shows only
    // its title.
    Control(1022)->installEventFilter(this);
    for (auto& [id, w] : m_controls)
        if (IsUnusedDeviceLine(id))
            w->hide();

    m_btnClose = Ctl<CIconButton>(1002);
    m_btnMinimize = Ctl<CIconButton>(1005);
    const struct {
        CIconButton* button;
        int hot, rest;
        const char* tip;
    } buttons[] = {{m_btnClose, 132, 129, "Close"}, {m_btnMinimize, 131, 130, "Minimize"}};
    for (const auto& b : buttons) {
        b.button->SetHoverFrame(false);
        b.button->SetStateIcons(ResourcePixmap(b.hot), ResourcePixmap(b.rest));
        b.button->SetTipText(QString::fromLatin1(b.tip));
        for (int slot : {CIconButton::COLOR_BK_HOT, CIconButton::COLOR_BK_REST, CIconButton::COLOR_BK_FOCUS})
            b.button->SetStateColor(slot, BandColor());
    }

    for (int i = 0; i < 4; ++i) {
        m_tabs[i] = Ctl<QLabel>(kTabIds[i]);
        m_tabs[i]->setFont(TitleFont());
        m_tabs[i]->setAutoFillBackground(true);
    }

    m_txPane = std::make_unique<CPlainTextPane>();
    m_rxPane = std::make_unique<CPlainTextPane>();
    // Each page answers a refusal in its own way.
    m_linkCore = std::make_unique<CLinkCore>(m_timerService, m_notices, *m_txPane, *m_rxPane);
    m_link = m_linkCore.get();
    m_link->SetTransports(m_serial.get(), nullptr);
    m_link->SetComModeChecked([this] { return Ctl<QRadioButton>(1016)->isChecked(); });
    m_link->SetOtherTimerHandler([this](unsigned id) { OnOtherTimer(id); });
    m_link->SetLinkLostHandler([this] {
        bool busyShown = m_general && m_general->OnLinkLost();
        for (auto& [id, page] : m_pages)
            busyShown = page->LinkLost() || busyShown;
        return busyShown;
    });
    CreateGeneralPage();
    m_link->SetPageHandler(PAGE_GENERAL, [this](const Frame& f) { OnGeneralReply(f); });
    for (uint8_t page : {PAGE_MATRIX, PAGE_EDID, PAGE_FIRMWARE})
        m_link->SetPageHandler(page, [this, page](const Frame& f) {
            auto it = m_pages.find(page);
            if (it != m_pages.end())
                it->second->OnReply(f);
        });

    m_portCombo = std::make_unique<CQtPortCombo>(Ctl<QComboBox>(1020));
    UpdateTabColours();

    m_keyFilter = InstallKeyFilter(this, [this] { ShowSystemMenu(mapToGlobal(QPoint(1, 56))); });
    SetUpKeyboard();
}

void CCorvaneDlg::WireControls()
{
    connect(m_btnClose, &QAbstractButton::clicked, this, &CCorvaneDlg::RequestClose);
    connect(m_btnMinimize, &QAbstractButton::clicked, this, [this] { showMinimized(); });
    connect(Ctl<QPushButton>(1021), &QPushButton::clicked, this, [this] { OnConnectButton(); });
    connect(Ctl<QPushButton>(1024), &QPushButton::clicked, this, [this] { OnStatusButton(); });
    connect(Ctl<QPushButton>(1025), &QPushButton::clicked, this, [this] { ClearDeviceInfo(); });
    connect(Ctl<QCheckBox>(1096), &QCheckBox::clicked, this, [this](bool c) { OnBeepClicked(c); });
    connect(Ctl<QCheckBox>(1101), &QCheckBox::clicked, this, [this](bool c) { OnDviClicked(c); });
    connect(Ctl<QPushButton>(1095), &QPushButton::clicked, this, [this] { OnFactoryResetButton(); });
    connect(Ctl<QPushButton>(1123), &QPushButton::clicked, this, [this] { m_link->ClearLogs(); });
    connect(Ctl<QRadioButton>(1016), &QRadioButton::clicked, this, [this] {
        m_link->nControlMode = MODE_COM;
        ApplyControlMode();
    });
    connect(Ctl<QRadioButton>(1017), &QRadioButton::clicked, this, [this] {
        m_link->nControlMode = MODE_TCP;
        ApplyControlMode();
    });

    if (m_serial) {
        m_serial->onByte = [this](uint8_t b) { m_link->OnPortByte(b); };
        m_serial->onLinkLost = [this](const std::string& why) { OnPortLinkLost(why); };
    }
}

QWidget* CCorvaneDlg::Control(int id) const
{
    if (IsLogPane(id) && !m_deferred.empty())
        const_cast<CCorvaneDlg*>(this)->BuildLogPanes();  // made on first use
    return Existing(id);
}

void CCorvaneDlg::BuildLogPanes()
{
    if (m_deferred.empty() || !m_rxPane)
        return;
    const ControlMap panes = BuildDeferred(std::exchange(m_deferred, {}), this);
    m_controls.insert(panes.begin(), panes.end());
    auto* rx = Ctl<QPlainTextEdit>(1042);
    auto* tx = Ctl<QPlainTextEdit>(1043);
    // Named, as they show no text of their own; Tab leaves a pane instead of typing into it.
    rx->setAccessibleName(QStringLiteral("RX"));
    tx->setAccessibleName(QStringLiteral("TX"));
    for (QPlainTextEdit* e : {rx, tx})
        e->setTabChangesFocus(true);
    m_rxPane->Attach(rx);
    m_txPane->Attach(tx);
    KeepLogPanesInSight();
}

void CCorvaneDlg::KeepLogPanesInSight()
{
    const QRect r = rect();
    if (!m_deferred.empty()) {
        for (const DeferredControl& d : m_deferred) {
            const ControlTemplate& c = *d.control;
            if (r.intersects(DuRect(c.x, c.y, c.w, c.h))) {
                BuildLogPanes();  // ends here again, with the panes made
                return;
            }
        }
        return;
    }
    for (int id : {1042, 1043})
        if (QWidget* pane = Existing(id))
            pane->setVisible(r.intersects(pane->geometry()));
}

void CCorvaneDlg::SetPageFactory(uint8_t page, std::function<std::unique_ptr<IPage>(CCorvaneDlg&)> factory)
{
    m_pageFactories[page] = std::move(factory);
}

// ---- Look -----------------------------------------------------------------------------------

void CCorvaneDlg::LayoutBand()
{
    const QRect r = rect();
    m_btnClose->setGeometry(r.width() - 26, 1, 25, 25);
    m_btnMinimize->setGeometry(r.width() - 51, 1, 25, 25);
    const QSize tab = m_tabs[0]->size();
    const int w = tab.width(), y = 56 - tab.height();
    m_tabs[0]->move(1, y);
    m_tabs[2]->move(w + 2, y);
    m_tabs[3]->move(2 * w + 3, y);
    if (m_tabList)
        m_tabList->resize(r.width(), 56);
}

void CCorvaneDlg::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    LayoutBand();
    KeepLogPanesInSight();
    KeepCurrentTabInSight();
}

void CCorvaneDlg::KeepCurrentTabInSight()
{
    if (!m_link || !m_tabs[0])
        return;  // the window is still being built
    QLabel* current = nullptr;
    for (int i = 0; i < 4; ++i)
        if (kTabPages[i] == CurrentPage())
            current = m_tabs[i];
    if (!current || rect().contains(current->geometry().center())) {
        m_link->KillTimer(TIMER_TAB_IN_SIGHT);
        return;
    }
    // Shrunk past the page's tab (the EDID page, restored): the first page, once no command
    // waits for the page's answer.
    if (!m_link->bReady) {
        m_link->SetTimer(TIMER_TAB_IN_SIGHT, kTabInSightPollMs);
        return;
    }
    m_link->KillTimer(TIMER_TAB_IN_SIGHT);
    PressTab(kTabIds[0]);
}

void CCorvaneDlg::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    LayoutBand();
}

void CCorvaneDlg::paintEvent(QPaintEvent*)
{
    const QRect r = rect();
    const int W = r.width(), H = r.height();
    const QSize tab = m_tabs[0]->size();
    const int w = tab.width(), h = tab.height();

    QPainter p(this);
    p.fillRect(r, ButtonFaceColor());
    OutlineRect(p, 0, 0, W - 1, H - 1, kOutline);
    if (CurrentPage() == PAGE_GENERAL) {
        const QPoint at = Control(1026)->pos() - QPoint(2, 9);
        OutlineRect(p, at.x(), at.y(), 314, 260, kGeneralFrame);
    }
    p.fillRect(1, 1, W - 2, 55, BandColor());
    p.setPen(QPen(BandEdgeColor(), 1));
    p.drawLine(0, 0, W - 2, 0);
    p.drawLine(0, 0, 0, 55);
    p.drawLine(W - 1, 0, W - 1, 55);
    p.setPen(QPen(TabSeparatorColor(), 1));
    for (int k = 1; k <= 3; ++k)
        p.drawLine(k * w + k, 62 - h, k * w + k, 76 - h);

    p.setFont(TitleFont());
    p.setPen(Qt::white);
    // Centred with its fourteen trailing blanks, which shift the name left of centre.
    const QRect titleRect(QPoint(1, 1), QPoint(289, 29));
    p.drawText(titleRect, Qt::AlignCenter | Qt::TextSingleLine,
               QString::fromLatin1(kTitle) + QString(14, QLatin1Char(' ')));
}

void CCorvaneDlg::UpdateTabColours()
{
    for (int i = 0; i < 4; ++i) {
        const bool current = kTabPages[i] == CurrentPage();
        QPalette pal = m_tabs[i]->palette();
        pal.setColor(QPalette::Window, current ? ButtonFaceColor() : BandColor());
        pal.setColor(QPalette::WindowText, current ? QColor(Qt::black) : QColor(Qt::white));
        m_tabs[i]->setPalette(pal);
        if (current && m_tabList)
            m_tabList->SetCurrent(m_tabs[i]);
    }
}

void CCorvaneDlg::changeEvent(QEvent* event)
{
    QDialog::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange)
        return;
    // The window manager's own maximize (its menu, Super+Up, ...) is the system menu's Maximize:
    // the window manager sizes the window, and the system menu offers Restore.
    const Qt::WindowStates full = Qt::WindowMaximized | Qt::WindowFullScreen;
    const bool now = windowState() & full;
    const bool before = static_cast<QWindowStateChangeEvent*>(event)->oldState() & full;
    if (now && !before && !m_bMaximized) {
        m_normalGeometry = normalGeometry().isValid() ? normalGeometry() : geometry();
        m_bMaximized = true;
    } else if (!now && before) {
        m_bMaximized = false;
    }
    LayoutBand();
}

void CCorvaneDlg::closeEvent(QCloseEvent* event)
{
    event->ignore();  // the program ends by RequestClose, once nothing is cut off unasked
    RequestClose();
}

std::string CCorvaneDlg::CloseQuestion() const
{
    std::string question;
    for (auto it = m_pages.begin(); question.empty() && it != m_pages.end(); ++it)
        question = it->second->CloseQuestion();
    return question;
}

void CCorvaneDlg::RequestClose()
{
    const std::string question = CloseQuestion();
    if (question.empty()) {
        m_quit();
        return;
    }
    // The transfer goes on while the question is open; only "Ok" ends it. A transfer that ends
    // meanwhile withdraws the question: the window stays, showing how it ended.
    m_link->SetTimer(TIMER_CLOSE_QUESTION, kCloseQuestionPollMs);
    m_link->Notices().AskMessage(question, [this](int answer) {
        m_link->KillTimer(TIMER_CLOSE_QUESTION);
        if (answer == IDOK)
            m_quit();
    });
}

bool CCorvaneDlg::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Paint && watched == Control(1022)) {
        auto* box = static_cast<QGroupBox*>(watched);
        QStyleOptionGroupBox opt;
        opt.initFrom(box);
        opt.text = box->title();
        opt.textAlignment = box->alignment();
        opt.subControls = QStyle::SC_GroupBoxLabel;
        opt.features = QStyleOptionFrame::None;
        QStylePainter painter(box);
        painter.drawComplexControl(QStyle::CC_GroupBox, opt);
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

// ---- Pointer, keys, system menu ----------------------------------------------------------

void CCorvaneDlg::mousePressEvent(QMouseEvent* event)
{
    const QPoint pos = event->position().toPoint();
    if (event->button() == Qt::RightButton && pos.y() < 56) {
        ShowSystemMenu(event->globalPosition().toPoint());
        return;
    }
    if (event->button() != Qt::LeftButton) {
        QDialog::mousePressEvent(event);
        return;
    }
    for (int i = 0; i < 4; ++i)
        if (m_tabs[i]->geometry().contains(pos)) {
            PressTab(kTabIds[i]);
            return;
        }
    StartWindowDrag(this);
}

void CCorvaneDlg::ShowSystemMenu(const QPoint& globalPos)
{
    if (!m_systemMenu) {
        m_systemMenu = new QMenu(this);
        m_systemMenu->setAccessibleName(QStringLiteral("System menu"));
        m_systemMenu->addAction(QStringLiteral("Restore"), this, [this] { Restore(); });
        m_systemMenu->addAction(QStringLiteral("Minimize"), this, [this] { showMinimized(); });
        m_systemMenu->addAction(QStringLiteral("Maximize"), this, [this] { Maximize(); });
        m_systemMenu->addSeparator();
        m_systemMenu->addAction(QStringLiteral("Close\tAlt+F4"), this, &CCorvaneDlg::RequestClose);
        m_systemMenu->addSeparator();
        m_systemMenu->addAction(QString::fromUtf8("关于 Corvane(&A)..."), this, [this] { ShowAboutBox(this); });
    }
    const auto actions = m_systemMenu->actions();
    actions[0]->setEnabled(m_bMaximized || isMinimized());
    actions[2]->setEnabled(!m_bMaximized);
    m_systemMenu->popup(globalPos);
}

void CCorvaneDlg::Maximize()
{
    if (isMinimized())
        showNormal();
    if (m_bMaximized)
        return;
    m_normalGeometry = geometry();
    m_bMaximized = true;
    if (QScreen* s = screen())
        setGeometry(s->availableGeometry());
}

void CCorvaneDlg::Restore()
{
    if (isMinimized())
        showNormal();
    if (!m_bMaximized)
        return;
    m_bMaximized = false;
    if (windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen))
        showNormal();  // the window manager maximized it and puts it back
    else
        setGeometry(m_normalGeometry);
}

// ---- Pages -----------------------------------------------------------------------------------

void CCorvaneDlg::PressTab(int labelId)
{
    if (!m_link->bReady)
        return;  // a command is outstanding
    for (int i = 0; i < 4; ++i)
        if (kTabIds[i] == labelId) {
            const bool onTabs = m_tabList && m_tabList->isAncestorOf(focusWidget());
            m_link->SetCurrentPage(kTabPages[i]);
            UpdateTabColours();
            SwitchToPage(kTabPages[i]);
            update();
            PlaceFocusAfterSwitch(onTabs);
            return;
        }
}

void CCorvaneDlg::ShowGeneralControls(bool show)
{
    for (auto& [id, w] : m_controls)
        if (IsGeneralControl(id))
            w->setVisible(show && !IsUnusedDeviceLine(id));
    if (m_dviGroup)
        m_dviGroup->setVisible(show);
}

void CCorvaneDlg::SwitchToPage(uint8_t page)
{
    if (page == PAGE_GENERAL) {
        ShowGeneralControls(true);
        for (auto& [n, p] : m_pages)
            p->Widget()->hide();
        return;
    }
    auto factory = m_pageFactories.find(page);
    if (m_pages.count(page) == 0 && factory != m_pageFactories.end())
        m_pages[page] = factory->second(*this);
    ShowGeneralControls(false);
    for (auto& [n, p] : m_pages)
        p->Widget()->setVisible(n == page);
    auto it = m_pages.find(page);
    if (it == m_pages.end())
        return;  // no page of this kind in this build: nothing to ask the switcher
    it->second->Widget()->move(1, page == PAGE_FIRMWARE ? 70 : 56);

    m_link->SendOpeningQuery(page);
}

// ---- Timers ----------------------------------------------------------------------------------

void CCorvaneDlg::OnOtherTimer(unsigned id)
{
    switch (id) {
    case TIMER_PORT_POLL:
        RefreshPortList();
        break;
    case TIMER_TAB_IN_SIGHT:
        KeepCurrentTabInSight();
        break;
    case TIMER_CLOSE_QUESTION:
        if (CloseQuestion().empty()) {
            m_link->KillTimer(id);
            m_link->Notices().WithdrawQuestion();
        }
        break;
    default:
        break;
    }
}

}  // namespace corvane
