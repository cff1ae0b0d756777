// Feeds arbitrary bytes to the EDID file check and the decoder (whole, and cut to 128 and 256
// bytes as a file would be) and checks what they promise: an accepted EDID has the size, the
// header and the sums the check asks for, and every summary line is one printable line.
#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <span>
#include <vector>

#include "core/edid/edid_check.h"
#include "core/edid/edid_decode.h"

using namespace corvane;

namespace {

void Require(bool condition)
{
    if (!condition)
        std::abort();
}

void CheckLines(const std::vector<std::string>& lines)
{
    for (const std::string& line : lines)
        for (char c : line)
            Require(static_cast<unsigned char>(c) >= 0x20 && static_cast<unsigned char>(c) < 0x7F);
}

uint8_t Sum(std::span<const uint8_t> bytes)
{
    unsigned s = 0;
    for (uint8_t b : bytes)
        s += b;
    return static_cast<uint8_t>(s);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::span<const uint8_t> input(data, size);
    const EdidCheck check = CheckEdid(input);
    Require(!DescribeEdidCheck(check).empty());
    if (check.Ok()) {
        Require(size == 128 || size == 256);
        Require(check.edid[0] == 0x00 && check.edid[7] == 0x00 && check.edid[126] <= 1);
        Require(Sum(std::span(check.edid).first(128)) == 0);
        Require(check.edid[126] == 0 || Sum(std::span(check.edid).last(128)) == 0);
        CheckLines(SummarizeEdid(DecodeEdid(input)));
    }
    CheckLines(SummarizeEdid(DecodeEdid(input)));
    CheckLines(SummarizeEdid(DecodeEdid(input.first(std::min<size_t>(size, 128)))));
    // The same bytes given a header, at most one extension and sealed blocks must pass.
    if (size == 128 || size == 256) {
        std::vector<uint8_t> fixed(input.begin(), input.end());
        const uint8_t header[8] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
        std::copy(header, header + 8, fixed.begin());
        fixed[126] &= 1;
        for (size_t block = 0; block < size; block += 128)
            fixed[block + 127] = static_cast<uint8_t>(fixed[block + 127] - Sum(std::span(fixed).subspan(block, 128)));
        const EdidCheck sealed = CheckEdid(fixed);
        Require(sealed.Ok());
        Require(std::equal(fixed.begin(), fixed.end(), sealed.edid.begin()));
        CheckLines(SummarizeEdid(DecodeEdid(fixed)));
    }
    CheckLines(SummarizeEdid(DecodeEdid(input.first(std::min<size_t>(size, 256)))));
    return 0;
}
