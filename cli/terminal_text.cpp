#include "cli/terminal_text.h"

#include <sstream>

namespace corvane::cli {

CTerminalTextBuf::~CTerminalTextBuf()
{
    EscapePending();
    m_target.flush();
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
    m_target.flush();
    return m_target ? 0 : -1;
}

void CTerminalTextBuf::Escape(unsigned char b)
{
    static const char digits[] = "0123456789ABCDEF";
    const char text[] = {'\\', 'x', digits[b >> 4], digits[b & 15]};
    m_target.write(text, sizeof text);
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
                m_target.write(m_pending.data(), static_cast<std::streamsize>(m_pending.size()));
            m_pending.clear();
            m_need = 0;
            return;
        }
        EscapePending();  // broken off: the byte starts afresh
    }
    if (b < 0x80) {
        const bool text = b >= 0x20 ? b != 0x7F : b == '\n' || b == '\t' || (b == '\r' && m_keepReturn);
        if (text)
            m_target.put(static_cast<char>(b));
        else
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

}  // namespace corvane::cli
