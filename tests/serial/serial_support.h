// Test and benchmark support for the serial transport and the port list: pseudo-terminals
// standing in for the switcher, a throw-away port tree (fake /dev, sysfs and port directory),
// a task thread standing in for the user-interface thread, and a fake drop-down list.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "core/link/port_combo.h"
#include "transport/serial_device.h"
#include "transport/serial_owner.h"

namespace corvane::testing {

namespace fs = std::filesystem;

// The switcher's end of a pseudo-terminal; the slave path is what the panel opens.
class CPty {
public:
    CPty()
    {
        m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0)
            throw std::runtime_error("no pseudo-terminal");
        char name[128];
        if (ptsname_r(m_master, name, sizeof name) != 0)
            throw std::runtime_error("ptsname");
        m_slave = name;
    }
    ~CPty() { CloseMaster(); }
    CPty(const CPty&) = delete;
    CPty& operator=(const CPty&) = delete;

    int Master() const { return m_master; }
    const std::string& SlavePath() const { return m_slave; }
    void CloseMaster()
    {
        if (m_master >= 0)
            close(m_master);
        m_master = -1;
    }

    void WriteAll(const std::vector<uint8_t>& bytes) const
    {
        std::size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = write(m_master, bytes.data() + done, bytes.size() - done);
            if (n < 0)
                throw std::runtime_error("write to the pseudo-terminal failed");
            done += std::size_t(n);
        }
    }

    // Reads exactly `count` bytes, or what arrived before `timeout` ran out.
    std::vector<uint8_t> Read(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(10)) const
    {
        std::vector<uint8_t> out;
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (out.size() < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                break;
            pollfd p{m_master, POLLIN, 0};
            if (poll(&p, 1, int(left.count())) <= 0)
                break;
            uint8_t buf[512];
            ssize_t n = read(m_master, buf, std::min(sizeof buf, count - out.size()));
            if (n <= 0)
                break;
            out.insert(out.end(), buf, buf + n);
        }
        return out;
    }

    termios Settings() const
    {
        termios t{};
        tcgetattr(m_master, &t);  // a master reports its slave's settings
        return t;
    }

private:
    int m_master = -1;
    std::string m_slave;
};

// A directory tree that lives as long as the object.
class CTempDir {
public:
    CTempDir()
    {
        std::string tmpl = (fs::temp_directory_path() / "corvane-serial-XXXXXX").string();
        if (!mkdtemp(tmpl.data()))
            throw std::runtime_error("mkdtemp");
        m_path = tmpl;
    }
    ~CTempDir()
    {
        std::error_code ec;
        fs::remove_all(m_path, ec);
    }
    CTempDir(const CTempDir&) = delete;
    CTempDir& operator=(const CTempDir&) = delete;

    const fs::path& Path() const { return m_path; }
    std::string operator/(const std::string& rel) const { return (m_path / rel).string(); }

    void MakeDir(const std::string& rel) const { fs::create_directories(m_path / rel); }
    void Link(const std::string& rel, const std::string& target) const
    {
        fs::create_directories((m_path / rel).parent_path());
        std::error_code ec;
        fs::remove(m_path / rel, ec);
        fs::create_symlink(target, m_path / rel);
    }
    void WriteFile(const std::string& rel, const std::string& text) const
    {
        fs::create_directories((m_path / rel).parent_path());
        std::ofstream(m_path / rel) << text;
    }
    void Remove(const std::string& rel) const
    {
        std::error_code ec;
        fs::remove(m_path / rel, ec);
    }

private:
    fs::path m_path;
};

// A fake machine: /dev, /sys, the port directory, /proc/consoles and lock directories, all
// under one temporary directory.
class CFakePorts {
public:
    CFakePorts()
    {
        m_root.MakeDir("dev");
        m_root.MakeDir("sys/class/tty");
        m_root.MakeDir("ports");
        m_root.MakeDir("lock");
        m_root.WriteFile("consoles", "");
    }

    SPortPaths Paths() const
    {
        SPortPaths p;
        p.portDir = m_root / "ports";
        p.devRoot = m_root / "dev";
        p.sysRoot = m_root / "sys";
        p.consoles = m_root / "consoles";
        p.lockDirs = {m_root / "lock"};
        return p;
    }
    const CTempDir& Root() const { return m_root; }

    // comN in the port directory.
    void Alias(unsigned n, const std::string& target) const { m_root.Link("ports/com" + std::to_string(n), target); }
    void RemoveAlias(unsigned n) const { m_root.Remove("ports/com" + std::to_string(n)); }

    // A tty in sysfs with a device behind it, and its node in /dev pointing at `target`.
    // With a product, the device sits below a USB device that carries it.
    void Tty(const std::string& name, const std::string& target, const std::string& driver = {},
             const std::string& product = {}) const
    {
        std::string devDir;
        if (!product.empty()) {
            const std::string usb = "sys/devices/usb1/1-" + name;
            m_root.WriteFile(usb + "/idVendor", "067b\n");
            m_root.WriteFile(usb + "/product", product + "\n");
            devDir = usb + "/1-1:1.0/" + name;
        } else {
            devDir = "sys/devices/platform/" + name + "-host";
        }
        m_root.MakeDir(devDir);
        if (!driver.empty()) {
            m_root.MakeDir("sys/bus/drivers/" + driver);
            m_root.Link(devDir + "/driver", m_root / ("sys/bus/drivers/" + driver));
        }
        m_root.MakeDir("sys/class/tty/" + name);
        m_root.Link("sys/class/tty/" + name + "/device", m_root / devDir);
        if (!target.empty())
            m_root.Link("dev/" + name, target);
    }

    void Consoles(const std::string& text) const { m_root.WriteFile("consoles", text); }
    void LockFile(const std::string& name, const std::string& text) const { m_root.WriteFile("lock/LCK.." + name, text); }

private:
    CTempDir m_root;
};

// A thread that runs posted calls in order: the user-interface thread of these tests.
class CTaskThread {
public:
    CTaskThread() : m_thread([this] { Run(); }) {}
    ~CTaskThread()
    {
        {
            std::lock_guard lock(m_m);
            m_quit = true;
        }
        m_cv.notify_all();
        m_thread.join();
    }
    CTaskThread(const CTaskThread&) = delete;
    CTaskThread& operator=(const CTaskThread&) = delete;

    void Post(std::function<void()> call)
    {
        {
            std::lock_guard lock(m_m);
            m_calls.push_back(std::move(call));
        }
        m_cv.notify_all();
    }

private:
    void Run()
    {
        std::unique_lock lock(m_m);
        for (;;) {
            m_cv.wait(lock, [this] { return m_quit || !m_calls.empty(); });
            if (m_calls.empty())
                return;
            auto call = std::move(m_calls.front());
            m_calls.pop_front();
            lock.unlock();
            call();
            lock.lock();
        }
    }

    std::mutex m_m;
    std::condition_variable m_cv;
    std::deque<std::function<void()>> m_calls;
    bool m_quit = false;
    std::thread m_thread;
};

// A queue of posted calls that runs only when the test says so: a user-interface thread that
// is busy elsewhere (waiting for the worker, say).
class CHeldQueue {
public:
    void Post(std::function<void()> call)
    {
        {
            std::lock_guard lock(m_m);
            m_calls.push_back(std::move(call));
        }
        m_cv.notify_all();
    }
    bool WaitPending(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(10))
    {
        std::unique_lock lock(m_m);
        return m_cv.wait_for(lock, timeout, [&] { return m_calls.size() >= count; });
    }
    void RunAll()
    {
        std::deque<std::function<void()>> calls;
        {
            std::lock_guard lock(m_m);
            calls.swap(m_calls);
        }
        for (auto& c : calls)
            c();
    }

private:
    std::mutex m_m;
    std::condition_variable m_cv;
    std::deque<std::function<void()>> m_calls;
};

// The owner as the main window is: every byte handled on "its" thread, link losses posted.
template <class Target>
class CThreadOwner : public ISerialOwner {
public:
    using ByteFn = std::function<void(uint8_t)>;
    // batched: one crossing per read, as the program's owner does; else one per byte.
    CThreadOwner(Target& target, ByteFn onByte, bool batched = true)
        : m_target(target), m_onByte(std::move(onByte)), m_batched(batched)
    {
    }

    void OnPortByte(uint8_t b, unsigned, std::stop_token stop) override
    {
        DeliverBlocking([this](std::function<void()> call) { m_target.Post(std::move(call)); },
                        [this, b] { m_onByte(b); }, std::move(stop));
    }
    void OnPortBytes(std::span<const uint8_t> bytes, unsigned port, std::stop_token stop) override
    {
        if (!m_batched)
            return ISerialOwner::OnPortBytes(bytes, port, std::move(stop));
        DeliverBlocking([this](std::function<void()> call) { m_target.Post(std::move(call)); },
                        [this, copy = std::vector<uint8_t>(bytes.begin(), bytes.end()), stop] {
                            for (uint8_t b : copy) {
                                if (stop.stop_requested())
                                    return;
                                m_onByte(b);
                            }
                        },
                        stop);
    }
    void OnPortLinkLost(unsigned) override
    {
        m_target.Post([this] {
            std::lock_guard lock(m_m);
            ++m_linkLost;
            m_cv.notify_all();
        });
    }
    int LinkLostCount()
    {
        std::lock_guard lock(m_m);
        return m_linkLost;
    }
    bool WaitLinkLost(std::chrono::milliseconds timeout = std::chrono::seconds(10))
    {
        std::unique_lock lock(m_m);
        return m_cv.wait_for(lock, timeout, [&] { return m_linkLost > 0; });
    }

private:
    Target& m_target;
    ByteFn m_onByte;
    bool m_batched;
    std::mutex m_m;
    std::condition_variable m_cv;
    int m_linkLost = 0;
};

// A drop-down list that behaves like the platform's: the selection follows its item, deleting
// the selected item clears it, out-of-range deletions are ignored. Counts the changes.
class CFakeCombo : public IPortCombo {
public:
    std::string GetText() const override { return m_sel >= 0 ? m_items[std::size_t(m_sel)] : std::string(); }
    int GetCurSel() const override { return m_sel; }
    void ResetContent() override
    {
        ++changes;
        m_items.clear();
        m_sel = -1;
    }
    void InsertString(int pos, const std::string& text) override
    {
        ++changes;
        if (pos < 0 || pos > Count())
            pos = Count();
        m_items.insert(m_items.begin() + pos, text);
        if (m_sel >= pos)
            ++m_sel;
    }
    void DeleteString(int pos) override
    {
        if (pos < 0 || pos >= Count())
            return;
        ++changes;
        if (pos == m_sel)
            ++selectedDeleted;
        m_items.erase(m_items.begin() + pos);
        if (m_sel == pos)
            m_sel = -1;
        else if (m_sel > pos)
            --m_sel;
    }
    void SetCurSel(int pos) override { m_sel = (pos >= 0 && pos < Count()) ? pos : -1; }
    int Count() const override { return int(m_items.size()); }

    const std::vector<std::string>& Items() const { return m_items; }
    int changes = 0;
    int selectedDeleted = 0;

private:
    std::vector<std::string> m_items;
    int m_sel = -1;
};

}  // namespace corvane::testing
