// The panel's main window with its pages and its real transports, against the emulator process
// on a port directory of the test's own (no sysfs, no /dev of the machine).
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <filesystem>
#include <functional>
#include <memory>

#include "panel/corvane_dlg.h"
#include "panel/page_factories.h"
#include "panel/qt_serial_port.h"
#include "transport/port_list.h"
#include "platform/scripted_notices.h"
#include "tests/support/sim_process.h"

namespace corvane::test {

// Runs the event loop until the condition holds (true) or ms have passed (false).
inline bool WaitFor(const std::function<bool()>& condition, int ms = 5000)
{
    QElapsedTimer t;
    t.start();
    while (!condition()) {
        if (t.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

class PanelEndToEnd : public ::testing::Test {
protected:
    // Starts the emulator with simArgs and builds the main window on the given clock, with the
    // real serial transport unless serial is false.
    void StartPanel(std::vector<std::string> simArgs, ITimerService& timers, bool serial = true)
    {
        PreparePanel();
        sim = std::make_unique<SimProcess>(std::move(simArgs), paths.portDir);
        if (serial) {
            ASSERT_EQ(sim->first.rfind("serial:", 0), 0u) << sim->first;
        }
        dlg = std::make_unique<CCorvaneDlg>(serial ? std::make_unique<CQtSerialPort>(paths) : nullptr, timers, op, paths);
        RegisterPages(*dlg);
    }
    // The port list's state reset and the port directory of the test's own in paths.
    void PreparePanel()
    {
        ResetPortListState();
        for (const char* sub : {"/ports", "/dev", "/sys"})
            std::filesystem::create_directories(dir.path + sub);
        paths.portDir = dir.path + "/ports";
        paths.devRoot = dir.path + "/dev";
        paths.sysRoot = dir.path + "/sys";
        paths.consoles = dir.path + "/consoles";
        paths.lockDirs = {};
    }
    // Presses "Connect" with the emulator's port, the only one listed.
    void PressConnect(const char* portName)
    {
        ASSERT_EQ(Ctl<QComboBox>(1020)->currentText(), QString::fromLatin1(portName));
        Click(1021);
        ASSERT_TRUE(dlg->Link().bComOpen) << (op.Messages().empty() ? "" : op.Messages().back());
    }
    void TearDown() override
    {
        dlg.reset();
        sim.reset();
    }

    template <typename T = QWidget>
    T* Ctl(int id) const
    {
        return qobject_cast<T*>(dlg->Control(id));
    }
    void Click(int id) { Ctl<QAbstractButton>(id)->click(); }
    QString Text(int id) const { return Ctl<QLabel>(id)->text(); }

    CScriptedNotices op;
    SPortPaths paths;
    TempDir dir;
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<CCorvaneDlg> dlg;
};

}  // namespace corvane::test
