#include "core/text/terminal_text.h"

#include <sstream>

namespace corvane {

CTerminalTextBuf::~CTerminalTextBuf()
{
    EscapePending();
    Pass();
    m_target.flush();
}

void CTerminalTextBuf::Emit(const char* s, std::size_t n)
{
    m_held.append(s, n);
    // A line, or a long run without one, goes out at once.
    if (m_held.size() >= 4096 || (n && std::char_traits<char>::find(s, n, '\n')))
        Pass();
}

void CTerminalTextBuf::Pass()
{
    if (m_held.empty())
        return;
    m_target.write(m_held.data(), static_cast<std::streamsize>(m_held.size()));
    m_held.clear();
}

CTerminalTextBuf::int_type CTerminalTextBuf::overflow(int_type ch)
{
    if (!traits_type::eq_int_type(ch, traits_type::eof()))
        Put(static_cast<unsigned char>(traits_type::to_char_type(ch)));
    return m_target ? traits_type::not_eof(ch) : traits_type::eof();
}

std::streamsize CTerminalTextBuf::xsputn(const char* s, std::streamsize n)
{
    for (std::streamsize i = 0; i < n; ++i)
        Put(static_cast<unsigned char>(s[i]));
    return m_target ? n : 0;
}

int CTerminalTextBuf::sync()
{
    Pass();
    m_target.flush();
    return m_target ? 0 : -1;
}

void CTerminalTextBuf::Escape(unsigned char b)
{
    static const char digits[] = "0123456789ABCDEF";
    const char text[] = {'\\', 'x', digits[b >> 4], digits[b & 15]};
    Emit(text, sizeof text);
}

void CTerminalTextBuf::EscapePending()
{
    for (char c : m_pending)
        Escape(static_cast<unsigned char>(c));
    m_pending.clear();
    m_need = 0;
}

void CTerminalTextBuf::Put(unsigned char b)
{
    if (!m_pending.empty()) {
        const auto lead = static_cast<unsigned char>(m_pending[0]);
        unsigned char lo = 0x80, hi = 0xBF;
        if (m_pending.size() == 1) {  // no overlong forms, surrogates or code points past U+10FFFF
            lo = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
            hi = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
        }
        if (b >= lo && b <= hi) {
            m_pending.push_back(static_cast<char>(b));
            if (m_pending.size() < m_need)
                return;
            if (lead == 0xC2 && b <= 0x9F)
                EscapePending();  // a C1 control: some terminals take U+009B as CSI
            else
                Emit(m_pending.data(), m_pending.size());
            m_pending.clear();
            m_need = 0;
            return;
        }
        EscapePending();  // broken off: the byte starts afresh
    }
    if (b < 0x80) {
        const bool text = b >= 0x20 ? b != 0x7F : b == '\n' || b == '\t' || (b == '\r' && m_keepReturn);
        if (text) {
            const char c = static_cast<char>(b);
            Emit(&c, 1);
        } else
            Escape(b);
        return;
    }
    m_need = b >= 0xC2 && b <= 0xDF ? 2 : b >= 0xE0 && b <= 0xEF ? 3 : b >= 0xF0 && b <= 0xF4 ? 4 : 0;
    if (m_need == 0)
        Escape(b);
    else
        m_pending.assign(1, static_cast<char>(b));
}

std::string TerminalText(const std::string& text)
{
    std::ostringstream out;
    {
        CTerminalTextBuf buf(out, false);
        std::ostream filtered(&buf);
        filtered << text;
    }
    return out.str();
}

}  // namespace corvane
