#include "core/edid/edid_check.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <system_error>
#include <vector>

#include "platform/regular_file.h"

namespace corvane {

namespace {

constexpr std::array<uint8_t, 8> kEdidHeader = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};

uint8_t Sum(std::span<const uint8_t> bytes)
{
    unsigned sum = 0;
    for (uint8_t b : bytes)
        sum += b;
    return static_cast<uint8_t>(sum);
}

FileType TypeOf(mode_t mode)
{
    if (S_ISREG(mode))
        return FileType::Regular;
    if (S_ISDIR(mode))
        return FileType::Directory;
    if (S_ISFIFO(mode))
        return FileType::Fifo;
    if (S_ISCHR(mode))
        return FileType::CharacterDevice;
    if (S_ISBLK(mode))
        return FileType::BlockDevice;
    if (S_ISSOCK(mode))
        return FileType::Socket;
    return FileType::Other;
}

const char* TypeName(FileType type)
{
    switch (type) {
    case FileType::Regular: return "a regular file";
    case FileType::Directory: return "a directory";
    case FileType::Fifo: return "a FIFO";
    case FileType::CharacterDevice: return "a character device";
    case FileType::BlockDevice: return "a block device";
    case FileType::Socket: return "a socket";
    case FileType::Other: break;
    }
    return "of an unknown type";
}

std::string Hex2(uint8_t b)
{
    char text[5];
    std::snprintf(text, sizeof text, "0x%02X", b);
    return text;
}

std::string HexRun(std::span<const uint8_t> bytes)
{
    std::string out;
    for (uint8_t b : bytes) {
        char text[4];
        std::snprintf(text, sizeof text, "%s%02X", out.empty() ? "" : " ", b);
        out += text;
    }
    return out;
}

EdidCheck Failed(EdidFault fault, int osError = 0)
{
    EdidCheck c;
    c.fault = fault;
    c.osError = osError;
    return c;
}

}  // namespace

EdidCheck CheckEdid(std::span<const uint8_t> content)
{
    EdidCheck c;
    c.size = content.size();
    if (c.size != kEdidBlockSize && c.size != kEdidSize) {
        c.fault = EdidFault::Size;
        return c;
    }
    std::copy(content.begin(), content.end(), c.edid.begin());  // the rest stays zero
    std::copy_n(c.edid.begin(), c.header.size(), c.header.begin());
    if (c.header != kEdidHeader) {
        c.fault = EdidFault::Header;
        return c;
    }
    c.extensionCount = c.edid[kEdidExtensionCountAt];
    if (c.extensionCount > 1) {
        c.fault = EdidFault::ExtensionCount;
        return c;
    }
    const std::span<const uint8_t> all(c.edid);
    if (const uint8_t sum = Sum(all.first(kEdidBlockSize)); sum != 0) {
        c.fault = EdidFault::BaseChecksum;
        c.sum = sum;
        return c;
    }
    // With no extension the second half is sent as it is, whatever it holds.
    if (c.extensionCount == 1) {
        if (const uint8_t sum = Sum(all.last(kEdidBlockSize)); sum != 0) {
            c.fault = EdidFault::ExtensionChecksum;
            c.sum = sum;
        }
    }
    return c;
}

EdidCheck CheckEdidFile(const std::string& path)
{
    CRegularFile file(path);
    std::vector<uint8_t> content;
    // One byte more than the largest EDID tells a longer file, however long it is.
    const std::size_t limit = kEdidSize + 1;
    switch (file.Read(limit, content)) {
    case RegularFileError::None:
    case RegularFileError::TooLarge: break;  // not from Read: the size check below tells a long file
    case RegularFileError::CannotOpen: return Failed(EdidFault::CannotOpen, file.OsError());
    case RegularFileError::NotRegular: {
        EdidCheck c = Failed(EdidFault::NotRegularFile);
        c.fileType = TypeOf(file.Mode());
        return c;
    }
    case RegularFileError::ReadFailed: return Failed(EdidFault::ReadFailed, file.OsError());
    }
    EdidCheck c = CheckEdid(content);
    if (content.size() == limit) {
        const uint64_t reported = file.ReportedSize();
        c.size = std::max<uint64_t>(reported, limit);
        c.sizeAtLeast = reported < limit;
    }
    return c;
}

std::string DescribeEdidCheck(const EdidCheck& c)
{
    switch (c.fault) {
    case EdidFault::None:
        return "a valid EDID, " + std::to_string(c.size) + " bytes, " + std::to_string(c.extensionCount) +
               (c.extensionCount == 1 ? " extension block" : " extension blocks");
    case EdidFault::CannotOpen: return "cannot open: " + std::generic_category().message(c.osError);
    case EdidFault::NotRegularFile: return std::string("not a regular file but ") + TypeName(c.fileType);
    case EdidFault::ReadFailed: return "cannot read: " + std::generic_category().message(c.osError);
    case EdidFault::Size:
        return std::string("size ") + (c.sizeAtLeast ? "more than " : "") +
               std::to_string(c.sizeAtLeast ? kEdidSize : c.size) + " bytes, expected 128 or 256";
    case EdidFault::Header:
        return "header " + HexRun(c.header) + ", expected " + HexRun(kEdidHeader);
    case EdidFault::ExtensionCount:
        return "extension count (byte 126) " + std::to_string(c.extensionCount) + ", expected 0 or 1";
    case EdidFault::BaseChecksum: return "bytes 0-127 sum to " + Hex2(c.sum) + ", expected 0x00";
    case EdidFault::ExtensionChecksum: return "bytes 128-255 sum to " + Hex2(c.sum) + ", expected 0x00";
    }
    return "unknown fault";
}

}  // namespace corvane
