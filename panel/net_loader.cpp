// The panel's side of the network module: finds and loads it once, and the stand-ins that
// forward to its sockets.
#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <string>

#include "panel/net_module.h"

namespace corvane {

namespace {

struct SNetModule {
    MakeTcpControlFn makeTcp = nullptr;
    MakeDatagramSocketFn makeUdp = nullptr;
};

std::string ProgramDir()
{
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return {};
    const std::string exe(path, static_cast<std::size_t>(n));
    return exe.substr(0, exe.rfind('/'));
}

// Beside the program (the build tree, and the tests, which get a copy), or where the package
// installs it. A module that cannot be loaded is said once.
const SNetModule& NetModule()
{
    static const SNetModule module = [] {
        SNetModule m;
        const std::string dir = ProgramDir();
        std::string tried, error;
        for (const std::string& path : {dir + "/corvane-net.so", dir + "/" CORVANE_NET_MODULE_INSTALLED}) {
            void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
            if (!handle) {
                if (const char* e = dlerror(); e && error.empty())
                    error = e;
                continue;
            }
            m.makeTcp = reinterpret_cast<MakeTcpControlFn>(dlsym(handle, kMakeTcpControl));
            m.makeUdp = reinterpret_cast<MakeDatagramSocketFn>(dlsym(handle, kMakeDatagramSocket));
            if (m.makeTcp && m.makeUdp)
                return m;
            m = {};
        }
        std::fprintf(stderr, "corvane: TCP control mode and the search are unavailable: %s\n", error.c_str());
        return m;
    }();
    return module;
}

class CLazyTcpControl final : public ITcpControl {
public:
    void Write(std::span<const uint8_t> bytes) override
    {
        if (m_real)
            m_real->Write(bytes);
    }
    void Connect(uint32_t ipv4, uint16_t port) override
    {
        if (ITcpControl* real = Real())
            real->Connect(ipv4, port);
        else if (onConnected)
            onConnected(false);
    }
    void Close() override
    {
        if (m_real)
            m_real->Close();
    }

private:
    ITcpControl* Real()
    {
        if (!m_real && NetModule().makeTcp) {
            m_real.reset(NetModule().makeTcp());
            // The link's handlers are read when the socket calls, so later changes count.
            m_real->onRead = [this](std::span<const uint8_t> b) {
                if (onRead)
                    onRead(b);
            };
            m_real->onConnected = [this](bool ok) {
                if (onConnected)
                    onConnected(ok);
            };
            m_real->onClosed = [this] {
                if (onClosed)
                    onClosed();
            };
        }
        return m_real.get();
    }

    std::unique_ptr<ITcpControl> m_real;
};

class CLazyDatagramSocket final : public IDatagramSocket {
public:
    explicit CLazyDatagramSocket(uint32_t target) : m_target(target) {}
    bool Bind(uint16_t localPort) override
    {
        IDatagramSocket* real = Real();
        return real && real->Bind(localPort);
    }
    void Close() override
    {
        if (m_real)
            m_real->Close();
    }
    void Broadcast(std::span<const uint8_t> bytes, uint16_t port) override
    {
        if (IDatagramSocket* real = Real())
            real->Broadcast(bytes, port);
    }

private:
    IDatagramSocket* Real()
    {
        if (!m_real && NetModule().makeUdp) {
            m_real.reset(NetModule().makeUdp(m_target));
            m_real->onDatagram = [this](std::span<const uint8_t> d) {
                if (onDatagram)
                    onDatagram(d);
            };
        }
        return m_real.get();
    }

    uint32_t m_target;
    std::unique_ptr<IDatagramSocket> m_real;
};

}  // namespace

std::unique_ptr<ITcpControl> LazyTcpControl() { return std::make_unique<CLazyTcpControl>(); }

std::unique_ptr<IDatagramSocket> LazyDatagramSocket(uint32_t target)
{
    return std::make_unique<CLazyDatagramSocket>(target);
}

}  // namespace corvane
