// Text for a terminal: names and texts that come from a switcher, a file or sysfs may carry
// control bytes (ESC [2J clears the operator's screen). Everything corvanectl prints passes
// through this filter (and the emulator's complaints), which writes such bytes as \xNN.
#pragma once

#include <ostream>
#include <streambuf>
#include <string>

namespace corvane {

// Forwards to target what a terminal shows as text: printable ASCII, line feed and tab (and
// carriage return when keepReturn, for progress redrawn in place) and well-formed UTF-8
// outside the C1 controls. Any other byte is written as \xNN. The text is passed on a line at a
// time (and on every flush), so an unbuffered target such as standard error gets one write a
// line, not one a byte.
class CTerminalTextBuf final : public std::streambuf {
public:
    CTerminalTextBuf(std::ostream& target, bool keepReturn) : m_target(target), m_keepReturn(keepReturn) {}
    ~CTerminalTextBuf() override;

protected:
    int_type overflow(int_type ch) override;
    std::streamsize xsputn(const char* s, std::streamsize n) override;
    int sync() override;

private:
    void Put(unsigned char b);
    void Escape(unsigned char b);
    void EscapePending();

    void Emit(const char* s, std::size_t n);
    void Pass();  // what is held to the target

    std::ostream& m_target;
    bool m_keepReturn;
    std::string m_held;     // text passed the filter, not yet written
    std::string m_pending;  // a UTF-8 sequence begun but not complete
    std::size_t m_need = 0; // its full length
};

// The filter applied to one string (tests, one-off texts).
std::string TerminalText(const std::string& text);

}  // namespace corvane
