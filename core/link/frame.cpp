#include "core/link/frame.h"

#include <algorithm>

namespace corvane {

uint8_t NegatedSum(std::span<const uint8_t> bytes)
{
    unsigned sum = 0;
    for (uint8_t b : bytes)
        sum += b;
    return static_cast<uint8_t>(0x100 - (sum & 0xFF));
}

void SealFrame(Frame& frame) { frame[12] = NegatedSum(std::span(frame).first(12)); }

bool FrameChecksumOk(const Frame& frame) { return frame[12] == NegatedSum(std::span(frame).first(12)); }

bool HasHeader(const Frame& frame) { return frame[0] == kHeader0 && frame[1] == kHeader1; }

void SealBlock(Block& block) { block[0] = NegatedSum(std::span(block).subspan(1)); }

bool BlockChecksumOk(const Block& block) { return block[0] == NegatedSum(std::span(block).subspan(1)); }

Frame MakeFrame(std::initializer_list<uint8_t> body)
{
    Frame f{};
    f[0] = kHeader0;
    f[1] = kHeader1;
    std::size_t i = 2;
    for (uint8_t b : body) {
        if (i >= 12)
            break;
        f[i++] = b;
    }
    SealFrame(f);
    return f;
}

void ClearCommand(Frame& frame) { std::fill(frame.begin() + 2, frame.end(), 0); }

void AppendHex(std::string& out, uint8_t b)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 0xF]);
    out.push_back(' ');
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string HexBytes(std::span<const uint8_t> bytes)
{
    std::string out;
    out.reserve(bytes.size() * 3);
    for (uint8_t b : bytes)
        AppendHex(out, b);
    return out;
}

std::string HexText(std::span<const uint8_t> bytes)
{
    std::string out = HexBytes(bytes);
    if (!out.empty())
        out.pop_back();
    return out;
}

}  // namespace corvane
