#include "cli/command_line.h"

#include "core/switcher/state_json.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace corvane::cli {

namespace {
bool In(const std::string& a, std::initializer_list<const char*> list)
{
    return std::any_of(list.begin(), list.end(), [&](const char* o) { return a == o; });
}
}  // namespace

SCommandLine Parse(Args args, std::initializer_list<const char*> valueOptions, std::initializer_list<const char*> flags)
{
    SCommandLine c;
    if (const char* p = std::getenv("CORVANE_PORT"))
        c.link.port = p;
    if (const char* h = std::getenv("CORVANE_HOST"))
        c.link.host = h;
    bool portGiven = false, hostGiven = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string a = args[i];
        std::string value;
        bool hasValue = false;
        if (a.rfind("--", 0) == 0 && a.find('=') != std::string::npos) {
            value = a.substr(a.find('=') + 1);
            a = a.substr(0, a.find('='));
            hasValue = true;
        }
        auto takeValue = [&]() -> bool {
            if (hasValue)
                return true;
            if (i + 1 >= args.size()) {
                c.error = a + " needs a value";
                return false;
            }
            value = args[++i];
            return true;
        };
        if (a == "--port" || a == "--host") {
            if (!takeValue())
                return c;
            (a == "--port" ? c.link.port : c.link.host) = value;
            (a == "--port" ? portGiven : hostGiven) = true;
        } else if (In(a, valueOptions)) {
            if (!takeValue())
                return c;
            c.options[a] = value;
            c.given.emplace_back(a, value);
        } else if (hasValue) {
            c.error = "option " + a + " takes no value";
            return c;
        } else if (a == "--json") {
            c.json = true;
        } else if (a == "--trace") {
            c.link.trace = true;
        } else if (a == "--help" || a == "-h") {
            c.help = true;
        } else if (In(a, flags)) {
            c.options[a] = "";
        } else if (a.size() > 1 && a[0] == '-') {
            c.error = "unknown option '" + a + "'";
            return c;
        } else {
            c.words.push_back(a);
        }
    }
    if (portGiven && hostGiven)
        c.error = "--port and --host exclude each other";
    else if (portGiven)
        c.link.host.clear();
    else if (hostGiven)
        c.link.port.clear();
    return c;
}

int Usage(std::ostream& err, const std::string& reason, const char* usage)
{
    err << "corvanectl: " << reason << "\nUsage: corvanectl " << usage;
    return kExitUsage;
}

std::optional<int> Preflight(const SCommandLine& c, std::ostream& out, std::ostream& err, const char* usage,
                             const char* optionsHelp)
{
    if (c.help) {
        out << "Usage: corvanectl " << usage << optionsHelp;
        return kExitOk;
    }
    if (!c.error.empty())
        return Usage(err, c.error, usage);
    return std::nullopt;
}

const char* Bool(bool b) { return b ? "true" : "false"; }
const char* OnOff(bool b) { return b ? "on" : "off"; }

void PrintDeviceJson(std::ostream& out, const SDeviceInfo& d) { out << DeviceJson(d); }

std::optional<std::string> ParseMac(const std::string& text)
{
    std::string digits;
    const bool separated = text.size() == 17;
    if (!separated && text.size() != 12)
        return std::nullopt;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char ch = text[i];
        if (separated && i % 3 == 2) {
            if (ch != ':' && ch != '-')
                return std::nullopt;
            continue;
        }
        if (!std::isxdigit(static_cast<unsigned char>(ch)))
            return std::nullopt;
        digits += static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    }
    return digits;
}

std::string MacWithColons(const std::string& digits)
{
    std::string r;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i && i % 2 == 0)
            r += ':';
        r += digits[i];
    }
    return r;
}

}  // namespace corvane::cli
