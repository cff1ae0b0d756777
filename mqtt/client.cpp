#include "mqtt/client.h"

#include "core/text/terminal_text.h"

namespace corvane::mqtt {

std::string ErrorText(int rc)
{
    std::string text = mosquitto_strerror(rc);
    if (!text.empty() && text.back() == '.')
        text.pop_back();
    return text;
}

void LogAs(const std::string& program, const std::string& line)
{
    std::string one;
    for (const char c : line)
        one += c == '\n' ? std::string("\\x0A") : std::string(1, c);
    WriteErrorLine(program + ": " + TerminalText(one));
}

}  // namespace corvane::mqtt
