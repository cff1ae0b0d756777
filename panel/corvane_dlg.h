// The main window: a borderless window with a painted title band, page tabs, the General page's
// controls and the two log panes. It owns the link session with the switcher.
#pragma once

#include <QCoreApplication>
#include <QDialog>
#include <QMenu>
#include <QPointer>
#include <map>
#include <memory>
#include <string>

#include "panel/serial_port.h"
#include "core/link/link_core.h"
#include "core/link/link_core.h"
#include "core/link/net_link.h"
#include "transport/serial_device.h"
#include "core/pages/general_page.h"
#include "panel/widgets/dialog_builder.h"

class QLabel;

namespace corvane {

class CConfigIPDlg;
class CIconButton;
class CKeyFilter;
class CPageTabList;
class CPlainTextPane;
class IPortCombo;

// A page shown below the band (routing, EDID, firmware); created when its tab is first chosen.
class IPage {
public:
    virtual ~IPage() = default;
    virtual QWidget* Widget() = 0;
    virtual void OnReply(const Frame& frame) = 0;
    // The question to ask before closing cuts off a transfer of this page; "" when none runs.
    virtual std::string CloseQuestion() const { return {}; }
    // The link is closed: nothing the switcher said stays shown as current.
    virtual void ForgetSwitcher() {}
    // The link is gone: the page's exchange waiting on it ends (its timers stop).
    virtual bool LinkLost() { return false; }
    // The page's controls in reading order, as Tab visits them.
    virtual std::vector<QWidget*> FocusOrder() const = 0;
};

class CCorvaneDlg : public QDialog, private INetView {
    Q_OBJECT
public:
    // serial: the serial transport (the real one unless a test gives another); paths: where
    // the serial ports are listed from.
    // timers: the clock of the window and its link; notices: the operator's boxes.
    CCorvaneDlg(std::unique_ptr<ISerialPort> serial, ITimerService& timers, INotices& notices,
                SPortPaths paths = DefaultPortPaths(), QWidget* parent = nullptr);
    ~CCorvaneDlg() override;

    static constexpr const char* kTitle = "4x2 Corvane Controller Ver" CORVANE_VERSION;

    // Registers the factory of a page (PAGE_MATRIX, PAGE_EDID, PAGE_FIRMWARE).
    void SetPageFactory(uint8_t page, std::function<std::unique_ptr<IPage>(CCorvaneDlg&)> factory);

    CLinkCore& Link() { return *m_link; }
    uint8_t CurrentPage() const { return m_link->CurrentPage(); }
    QWidget* Control(int id) const;
    // The tab press of the operator (ignored while a command is outstanding).
    void PressTab(int labelId);
    void RefreshPortList();
    // Opens the system menu at a global position.
    void ShowSystemMenu(const QPoint& globalPos);
    // The close button, the system menu's Close and the window manager's close: while a page
    // sends a file to the switcher, the operator is asked first (Cancel keeps it running).
    void RequestClose();
    // What ends the program (tests watch it instead).
    void SetQuitHandler(std::function<void()> quit) { m_quit = std::move(quit); }
    // The system menu's Maximize and Restore. The window fills the screen's available area by
    // itself, so it works with any window manager, or none; the window manager's own maximize
    // counts as Maximize, and Restore undoes either.
    void Maximize();
    void Restore();
    bool IsMaximized() const { return m_bMaximized; }
    QMenu* SystemMenu() const { return m_systemMenu; }
    // The page tabs as the keyboard and assistive technology reach them.
    CPageTabList* PageTabs() const { return m_tabList; }
    // What Tab visits now, in order: the current tab, the shown page's controls, the log panes,
    // the band's buttons; only what is shown, enabled and inside the window.
    std::vector<QWidget*> FocusOrder() const;

    // The TCP control socket and the UDP socket (the real ones unless a test gives others).
    void SetNetTransports(std::unique_ptr<ITcpControl> tcp, std::unique_ptr<IDatagramSocket> udp,
                          SNetPorts ports = {});
    CNetLink& Net() { return *m_net; }
    // How the network configuration dialog is run: modal by default; flow tests drive it
    // themselves and return its result.
    void SetConfigDialogRunner(std::function<int(CConfigIPDlg&)> runner) { m_configRunner = std::move(runner); }
    CConfigIPDlg* ConfigDialog() const { return m_configDlg.get(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool focusNextPrevChild(bool next) override;

private:
    // The window's own timers beside the link's: the check that the current page's tab is on
    // screen, repeated while a command holds the page.
    // The close question's check whether it still stands.
    enum : unsigned { TIMER_TAB_IN_SIGHT = 3, TIMER_CLOSE_QUESTION = 4 };
    static constexpr unsigned kCloseQuestionPollMs = 200;
    // What closing now would cut off, as the question to ask first; "" when nothing.
    std::string CloseQuestion() const;
    static constexpr unsigned kTabInSightPollMs = 100;

    void BuildWindow();
    // The log panes lie beyond the window's edge at its normal size: they are made when the
    // window first shows them (or anything asks for them), and are hidden whenever the window
    // is too small to show them, so that assistive technology never reports them on screen.
    void BuildLogPanes();
    void KeepLogPanesInSight();
    QWidget* Existing(int id) const { return corvane::Control<QWidget>(m_controls, id); }
    // A window made smaller than the current page's tab (restored on the EDID page) shows the
    // General page instead, so a visible tab is always the selected one.
    void KeepCurrentTabInSight();
    void WireControls();
    void LayoutBand();
    void UpdateTabColours();
    void SwitchToPage(uint8_t page);
    void ShowGeneralControls(bool show);
    void OnOtherTimer(unsigned id);

    // Keyboard and assistive technology (main_keyboard.cpp): the tab list, names of the
    // controls that show none, the window's keys.
    void SetUpKeyboard();
    bool OnWindowKey(int key, Qt::KeyboardModifiers modifiers);
    // Ctrl+Tab and its kin: the next (1) or previous (-1) page whose tab is on screen.
    void StepPage(int steps);
    // After a page switch: on the page's first control, or on the new current tab when the
    // operator was choosing among the tabs.
    void PlaceFocusAfterSwitch(bool onTabs);
    int TabId(const QLabel* tab) const;

    // TCP control mode: the connect button, the search, the switcher list, the configuration.
    void WireNetControls();
    void OnConfigButton();
    void ClearSwitchers() override;
    void InsertSwitcher(std::size_t pos, const std::string& ip) override;
    void SelectSwitcher(std::size_t pos) override;
    void SetTcpButtonText(const std::string& text) override;
    void TcpClosed() override { ForgetSwitcher(); }
    bool TcpConnected() override;
    // A link closed or lost: the device information and the firmware page's device line
    // describe a switcher no longer connected, and are emptied.
    void ForgetSwitcher();

    // General page.
    void ApplyControlMode();
    void OnConnectButton();
    void CloseSerialLink();
    void OnPortLinkLost(const std::string& why);
    void ClearDeviceInfo();
    void OnStatusButton();
    void OnBeepClicked(bool checked);
    void OnDviClicked(bool checked);
    void OnFactoryResetButton();
    void OnGeneralReply(const Frame& frame);
    // The page behind the General page's controls.
    void CreateGeneralPage();

    template <typename T = QWidget>
    T* Ctl(int id) const
    {
        return qobject_cast<T*>(Control(id));
    }

    std::map<int, QWidget*> m_controls;
    std::vector<DeferredControl> m_deferred;  // the log panes until they are made
    QWidget* m_dviGroup = nullptr;
    CIconButton* m_btnClose = nullptr;
    CIconButton* m_btnMinimize = nullptr;
    QLabel* m_tabs[4] = {};  // 1008, 1011, 1012, 1013
    CPageTabList* m_tabList = nullptr;
    CKeyFilter* m_keyFilter = nullptr;
    std::unique_ptr<CPlainTextPane> m_txPane;
    std::unique_ptr<CPlainTextPane> m_rxPane;
    ITimerService& m_timerService;
    INotices& m_notices;
    std::unique_ptr<CLinkCore> m_linkCore;  // the link to the switcher
    CLinkCore* m_link = nullptr;              // the session's link core
    std::unique_ptr<ISerialPort> m_serial;
    std::unique_ptr<IPortCombo> m_portCombo;
    std::unique_ptr<ITcpControl> m_tcp;
    std::unique_ptr<IDatagramSocket> m_udp;
    std::unique_ptr<CNetLink> m_net;
    std::unique_ptr<CConfigIPDlg> m_configDlg;
    std::function<int(CConfigIPDlg&)> m_configRunner;
    std::map<uint8_t, std::function<std::unique_ptr<IPage>(CCorvaneDlg&)>> m_pageFactories;
    std::map<uint8_t, std::unique_ptr<IPage>> m_pages;
    SPortPaths m_portPaths;
    unsigned m_nPortNumber = 0;
    QPointer<QMenu> m_systemMenu;
    bool m_bMaximized = false;
    std::function<void()> m_quit = [] { QCoreApplication::exit(0); };
    QRect m_normalGeometry;
    std::unique_ptr<IGeneralView> m_generalView;  // the General page's controls
    std::unique_ptr<CGeneralPage> m_general;
};

}  // namespace corvane
