#include "transport/port_list.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <cstdio>
#include <map>
#include <set>

#include "platform/port_lock.h"

namespace corvane {

std::array<uint8_t, kMaxPorts> g_PortNumbers{};
std::array<std::string, kMaxPorts> g_PortDigitTexts{};
std::array<uint8_t, kMaxPorts> g_PrevPortNumbers{};
int g_nPrevPortCount = 0;

namespace {
std::optional<std::string> g_lastListError;  // the error text reported last
std::set<std::string> g_reportedDenied;       // ports named once as not to be opened
}

void ResetPortListState()
{
    g_PortNumbers.fill(0);
    g_PortDigitTexts.fill(std::string());
    g_PrevPortNumbers.fill(0);
    g_nPrevPortCount = 0;
    g_lastListError.reset();
    g_reportedDenied.clear();
}

namespace {

std::string Parent(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos || slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string BaseName(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool Exists(const std::string& path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

std::string ReadLine(const std::string& path)
{
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r' || line.back() == '\t'))
        line.pop_back();
    return line;
}

std::string LinkBaseName(const std::string& link)
{
    char buf[PATH_MAX];
    const ssize_t n = readlink(link.c_str(), buf, sizeof buf - 1);
    return n > 0 ? BaseName(std::string(buf, std::size_t(n))) : std::string();
}

// Description of a tty from sysfs: the USB device's product string, else the driver's name,
// else the node name. `top` is the resolved sysfs root; the walk stays below it.
std::string SysfsDescription(const std::string& sysRoot, const std::string& top, const std::string& ttyName,
                             const std::string& nodeName, bool& usb)
{
    usb = false;
    const std::string device = ResolveNode(sysRoot + "/class/tty/" + ttyName + "/device");
    if (device.empty())
        return nodeName;
    // The USB device sits a level or two above the tty's device (interface, usb-serial port).
    std::string dir = device;
    for (int i = 0; i < 6 && dir.size() > top.size() && dir.compare(0, top.size(), top) == 0; ++i) {
        if (Exists(dir + "/idVendor")) {
            usb = true;
            const std::string product = ReadLine(dir + "/product");
            if (!product.empty())
                return product;
            break;
        }
        dir = Parent(dir);
    }
    const std::string driver = LinkBaseName(device + "/driver");
    return driver.empty() ? nodeName : driver;
}

struct SCandidate {
    SPortInfo info;
    std::string real;  // the resolved device node
    bool requireUart = false;
};

std::string ComName(unsigned n) { return "COM" + std::to_string(n); }

// The number is read back from the friendly name, and a description (a USB product string
// above all) is the device's to choose: with its parentheses made brackets, the "(COMn)" we
// append is the only parenthesis in the name, so no description can forge or break a number.
std::string SafeDescription(std::string text)
{
    for (char& ch : text) {
        if (ch == '(')
            ch = '[';
        else if (ch == ')')
            ch = ']';
    }
    return text;
}

SCandidate MakeCandidate(unsigned n, std::string path, std::string real, std::string description, bool usb,
                         bool requireUart)
{
    description = SafeDescription(std::move(description));
    SCandidate c;
    c.real = std::move(real);
    c.info.devicePath = std::move(path);
    c.info.portName = ComName(n);
    c.info.friendlyName = description + " (" + c.info.portName + ")";
    c.info.usbDevice = usb;
    c.info.description = std::move(description);
    c.requireUart = requireUart;
    return c;
}

bool IsUartFamily(std::string_view name)
{
    const unsigned n = ComNumberForNodeName(name);
    return n >= 1 && n <= 32;
}

// comN with N from 1 to 255, no leading zero.
unsigned AliasNumber(std::string_view name)
{
    if (name.size() < 4 || name.size() > 6 || name.substr(0, 3) != "com" || name[3] == '0')
        return 0;
    unsigned n = 0;
    for (char c : name.substr(3)) {
        if (c < '0' || c > '9')
            return 0;
        n = n * 10 + unsigned(c - '0');
    }
    return n <= 255 ? n : 0;
}

// The UART type sysfs gives a ttyS port (the TIOCGSERIAL type); -1 when it says nothing.
int SysfsUartType(const std::string& sysRoot, const std::string& ttyName)
{
    const std::string text = ReadLine(sysRoot + "/class/tty/" + ttyName + "/type");
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
        return -1;
    return std::atoi(text.c_str());
}

std::optional<std::string> ListTableNodes(const SPortPaths& paths, const std::string& top,
                                          std::map<unsigned, SCandidate>& out)
{
    const std::string classDir = paths.sysRoot + "/class/tty";
    DIR* dir = opendir(classDir.c_str());
    if (!dir) {
        if (errno == ENOENT)
            return std::nullopt;  // no tty class, no table ports
        return "serial device listing failed: " + ErrorText(errno) + " (" + classDir + ")";
    }
    while (dirent* e = readdir(dir)) {
        const std::string name = e->d_name;
        const unsigned n = ComNumberForNodeName(name);
        if (n == 0 || !Exists(classDir + "/" + name + "/device"))
            continue;  // not in the table, or a virtual terminal
        const bool uart = IsUartFamily(name);
        if (uart && SysfsUartType(paths.sysRoot, name) == 0)
            continue;  // PORT_UNKNOWN: no UART behind this ttyS, not even worth a test open
        const std::string node = paths.devRoot + "/" + name;
        std::string real = ResolveNode(node);
        if (real.empty())
            continue;
        bool usb = false;
        std::string description = SysfsDescription(paths.sysRoot, top, name, name, usb);
        out[n] = MakeCandidate(n, node, std::move(real), std::move(description), usb, uart);
    }
    closedir(dir);
    return std::nullopt;
}

std::optional<std::string> ListAliases(const SPortPaths& paths, const std::string& top,
                                       std::map<unsigned, SCandidate>& out)
{
    if (paths.portDir.empty())
        return std::nullopt;
    DIR* dir = opendir(paths.portDir.c_str());
    if (!dir) {
        if (errno == ENOENT || errno == ENOTDIR)
            return std::nullopt;
        return "port directory unreadable: " + ErrorText(errno) + " (" + paths.portDir + ")";
    }
    while (dirent* e = readdir(dir)) {
        const unsigned n = AliasNumber(e->d_name);
        if (n == 0)
            continue;
        const std::string alias = paths.portDir + "/" + e->d_name;
        std::string target = ResolveNode(alias);
        if (target.empty() || PortLockLeft(alias))
            continue;  // dangling, or a killed emulator's: its target may be anyone's now
        const std::string nodeName = target.compare(0, 5, "/dev/") == 0 ? target.substr(5) : BaseName(target);
        const std::string ttyName = BaseName(target);
        bool usb = false;
        std::string description = Exists(paths.sysRoot + "/class/tty/" + ttyName + "/device")
                                      ? SysfsDescription(paths.sysRoot, top, ttyName, nodeName, usb)
                                      : nodeName;
        // An alias takes precedence over the table for its number.
        const bool uart = target.compare(0, 5, "/dev/") == 0 && IsUartFamily(ttyName);
        out[n] = MakeCandidate(n, alias, std::move(target), std::move(description), usb, uart);
    }
    closedir(dir);
    return std::nullopt;
}

}  // namespace

std::optional<std::string> ListSerialPorts(std::vector<SPortInfo>& list, const SPortPaths& paths,
                                           std::vector<SPortInfo>* denied, std::vector<SPortInfo>* held)
{
    list.clear();
    for (auto* other : {denied, held})
        if (other)
            other->clear();
    std::map<unsigned, SCandidate> candidates;
    std::string top = ResolveNode(paths.sysRoot);
    if (top.empty())
        top = "/";
    if (auto error = ListTableNodes(paths, top, candidates))
        return error;
    if (auto error = ListAliases(paths, top, candidates))
        return error;
    const CPortChecks checks(paths);
    // Every candidate carries its names already. Consoles, lock files and ports held by anyone
    // (this process too) fail the test open.
    for (auto& [n, c] : candidates) {
        CPortHandle::SResult why;
        if (ProbePort(c.info.devicePath, c.real, checks, c.requireUart, &why))
            list.push_back(std::move(c.info));
        else if (denied && why.failure == EOpenFailure::OsError && (why.error == EACCES || why.error == EPERM))
            denied->push_back(std::move(c.info));
        else if (held && why.failure == EOpenFailure::Held)
            held->push_back(std::move(c.info));
    }
    return std::nullopt;
}

std::optional<std::string> ListSerialPorts(std::vector<SPortInfo>& list)
{
    return ListSerialPorts(list, DefaultPortPaths());
}

std::string PortDigitText(std::string_view name)
{
    std::string_view rest;
    if (const auto at = name.find("(COM"); at != std::string_view::npos)
        rest = name.substr(at + 4);
    else
        rest = name.size() > 3 ? name.substr(3) : std::string_view();
    const auto close = rest.find(')');
    return close == std::string_view::npos ? std::string() : std::string(rest.substr(0, close));
}

uint8_t ParsePortDigits(std::string_view text)
{
    if (text.empty() || text.size() > 3)
        return 0;
    uint8_t value = 0;
    for (char c : text)
        value = uint8_t(value * 10 + ((c >= '0' && c <= '9') ? c - '0' : 0));
    return value;
}

void SortPortNumbers(int count)
{
    for (int i = 1; i < count; ++i) {
        const uint8_t v = g_PortNumbers[i];
        int j = i;
        for (; j > 0 && g_PortNumbers[j - 1] > v; --j)
            g_PortNumbers[j] = g_PortNumbers[j - 1];
        g_PortNumbers[j] = v;
    }
}

namespace {
std::string ItemText(int pos) { return ComName(g_PortNumbers[pos]); }
}  // namespace

void UpdatePortCombo(IPortCombo& combo, int n)
{
    n = std::clamp(n, 0, kMaxPorts);
    if (n == 0) {
        combo.ResetContent();
        g_PrevPortNumbers.fill(0);
        return;
    }
    if (n == g_nPrevPortCount && std::equal(g_PortNumbers.begin(), g_PortNumbers.begin() + n, g_PrevPortNumbers.begin()))
        return;

    auto rebuild = [&] {
        if (n >= 2)
            SortPortNumbers(n);
        combo.ResetContent();
        for (int j = 0; j < n; ++j)
            combo.InsertString(j, ItemText(j));
        combo.SetCurSel(0);
    };
    const std::string text = combo.GetText();
    const int sel = combo.GetCurSel();
    if (text.empty() || sel < 0) {
        rebuild();
        return;
    }
    const uint8_t chosen = ParsePortDigits(text.size() > 3 ? std::string_view(text).substr(3) : std::string_view());
    if (std::find(g_PortNumbers.begin(), g_PortNumbers.begin() + n, chosen) == g_PortNumbers.begin() + n) {
        rebuild();  // the selected port has gone
        return;
    }
    // Keep only the selected item, then insert the others around it in sorted order, so the
    // operator's choice (and an open drop-down) survives the refresh.
    for (int i = 0; i < sel; ++i)
        combo.DeleteString(0);
    while (combo.Count() > 1)
        combo.DeleteString(1);
    if (n >= 2)
        SortPortNumbers(n);
    const int k = int(std::find(g_PortNumbers.begin(), g_PortNumbers.begin() + n, chosen) - g_PortNumbers.begin());
    for (int j = 0; j < k; ++j)
        combo.InsertString(j, ItemText(j));
    for (int j = k + 1; j < n; ++j)
        combo.InsertString(j, ItemText(j));
    combo.SetCurSel(k);
}

void ApplyPortList(const std::vector<SPortInfo>& ports, IPortCombo& combo)
{
    const int n = int(std::min<std::size_t>(ports.size(), kMaxPorts));
    for (int i = 0; i < n; ++i) {
        g_PortDigitTexts[i] = PortDigitText(ports[i].friendlyName);
        g_PortNumbers[i] = ParsePortDigits(g_PortDigitTexts[i]);
    }
    UpdatePortCombo(combo, n);
    g_nPrevPortCount = n;
    std::copy(g_PortNumbers.begin(), g_PortNumbers.begin() + n, g_PrevPortNumbers.begin());
}

bool RefreshPortList(IPortCombo& combo, const SPortPaths& paths, const PortErrorFn& onError)
{
    const auto report = [&](const std::string& text) {
        if (onError)
            onError(text);
        else
            std::fprintf(stderr, "corvane: %s\n", text.c_str());
    };
    std::vector<SPortInfo> ports, denied;
    if (auto error = ListSerialPorts(ports, paths, &denied)) {
        if (g_lastListError != error) {
            g_lastListError = error;
            report(*error);
        }
        return false;
    }
    g_lastListError.reset();
    for (const SPortInfo& p : denied)
        if (g_reportedDenied.insert(p.devicePath).second)
            report(p.portName + " (" + p.devicePath + ") cannot be opened: permission denied; " + kDialoutHint);
    ApplyPortList(ports, combo);
    return true;
}

bool RefreshPortList(IPortCombo& combo, const PortErrorFn& onError)
{
    return RefreshPortList(combo, DefaultPortPaths(), onError);
}

}  // namespace corvane
