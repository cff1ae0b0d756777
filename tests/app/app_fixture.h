// The real main window under the offscreen platform, on the virtual clock, with the scripted
// operator and the in-process switcher model at the other end of its serial port.
#pragma once

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <fcntl.h>
#include <memory>
#include <stdlib.h>
#include <unistd.h>

#include "panel/corvane_dlg.h"
#include "panel/page_factories.h"
#include "transport/port_list.h"
#include "platform/scripted_notices.h"
#include "tests/app/model_serial_port.h"

namespace corvane::test {

class AppFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetPortListState();
        ASSERT_TRUE(dir.isValid());
        // One port: alias com7 to a pseudo-terminal; no sysfs, no /dev of the machine.
        master = posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(master, 0);
        ASSERT_EQ(grantpt(master), 0);
        ASSERT_EQ(unlockpt(master), 0);
        for (const char* sub : {"ports", "dev", "sys"})
            QDir(dir.path()).mkpath(QString::fromLatin1(sub));
        paths.portDir = (dir.path() + "/ports").toStdString();
        paths.devRoot = (dir.path() + "/dev").toStdString();
        paths.sysRoot = (dir.path() + "/sys").toStdString();
        paths.consoles = (dir.path() + "/consoles").toStdString();
        paths.lockDirs = {};
        unlink((paths.portDir + "/com7").c_str());
        ASSERT_EQ(symlink(ptsname(master), (paths.portDir + "/com7").c_str()), 0);

        auto serial = std::make_unique<CModelSerialPort>(clock);
        port = serial.get();
        dlg = std::make_unique<CCorvaneDlg>(std::move(serial), clock, op, paths);
        RegisterPages(*dlg);
    }
    void TearDown() override
    {
        dlg.reset();
        if (master >= 0)
            close(master);
    }

    template <typename T = QWidget>
    T* Ctl(int id) const
    {
        return qobject_cast<T*>(dlg->Control(id));
    }
    QString Text(int id) const { return Ctl<QLabel>(id)->text(); }
    // The main window as the screen shows it. CORVANE_SHOTS_DIR=dir keeps every grab as a PNG,
    // to look at the window as a person would.
    QImage Grab()
    {
        dlg->show();
        QImage img = dlg->grab().toImage().convertToFormat(QImage::Format_RGB32);
        if (const QByteArray shots = qgetenv("CORVANE_SHOTS_DIR"); !shots.isEmpty()) {
            const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
            img.save(QString::fromLocal8Bit(shots) + "/" + info->name() + "-" + QString::number(m_shot++) + ".png");
        }
        return img;
    }
    // The group box of a window with the title; nullptr when there is none.
    static QGroupBox* Group(const QWidget* window, const char* title)
    {
        for (QGroupBox* g : window->findChildren<QGroupBox*>())
            if (g->title() == QLatin1String(title))
                return g;
        return nullptr;
    }
    void Click(int id) { Ctl<QAbstractButton>(id)->click(); }
    void Connect()
    {
        ASSERT_EQ(Ctl<QComboBox>(1020)->currentText(), QStringLiteral("COM7"));
        Click(1021);
        ASSERT_TRUE(dlg->Link().bComOpen);
        port->Run(0);
    }
    // Frames written to the switcher, as bytes 2.. of each.
    std::vector<std::vector<uint8_t>> Sent() const
    {
        std::vector<std::vector<uint8_t>> out;
        for (const auto& w : port->writes)
            out.emplace_back(w.begin() + 2, w.begin() + std::min<std::size_t>(w.size(), 7));
        return out;
    }

    CVirtualTimers clock;
    CScriptedNotices op;
    QTemporaryDir dir;
    SPortPaths paths;
    int master = -1;
    CModelSerialPort* port = nullptr;
    std::unique_ptr<CCorvaneDlg> dlg;
    int m_shot = 0;
};

}  // namespace corvane::test
