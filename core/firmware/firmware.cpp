#include "core/firmware/firmware.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/regular_file.h"

namespace corvane {

namespace {

// Closes the descriptor however the function leaves.
class CFile {
public:
    explicit CFile(int fd) : m_fd(fd) {}
    ~CFile()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;
    int Get() const { return m_fd; }
    int Release()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }

private:
    int m_fd;
};

}  // namespace

void ScrambleFirmware(std::span<uint8_t> file)
{
    const uint8_t key = static_cast<uint8_t>(kFirmwareScramble ^ (file.size() & 0xFF));
    for (uint8_t& b : file)
        b ^= key;
}

std::string FirmwareFileErrorText(FileError error)
{
    switch (error) {
    case FileError::NotRegular: return "Not a regular file!";
    case FileError::TooLarge: return "Firmware file too large (at most 100000 bytes)!";
    case FileError::NoImage: return "Firmware file without image!";
    case FileError::None:
    case FileError::CannotOpen:
    case FileError::ReadFailed: break;
    }
    return {};
}

FileError ReadRegularFile(const std::string& path, std::size_t maxBytes, std::vector<uint8_t>& out)
{
    CRegularFile file(path);
    if (file.Error() == RegularFileError::None && file.ReportedSize() > maxBytes)
        return FileError::TooLarge;
    std::vector<uint8_t> bytes;
    switch (file.Read(maxBytes + 1, bytes)) {
    case RegularFileError::None: break;
    case RegularFileError::CannotOpen: return FileError::CannotOpen;
    case RegularFileError::NotRegular: return FileError::NotRegular;
    case RegularFileError::ReadFailed: return FileError::ReadFailed;
    }
    if (bytes.size() > maxBytes)
        return FileError::TooLarge;
    out = std::move(bytes);
    return FileError::None;
}

bool WriteWholeFile(const std::string& path, std::span<const uint8_t> bytes, std::string& error)
{
    CFile f(open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOCTTY | O_CLOEXEC, 0644));
    if (f.Get() < 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(f.Get(), bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = path + ": " + std::strerror(n < 0 ? errno : EIO);
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    if (close(f.Release()) != 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

FileError CheckFirmwareLength(std::size_t fileLength)
{
    if (fileLength > kFirmwareMaxFile)
        return FileError::TooLarge;
    if (fileLength < kFirmwareMinFile)
        return FileError::NoImage;
    return FileError::None;
}

FileError LoadFirmwareFile(const std::string& path, std::vector<uint8_t>& out)
{
    std::vector<uint8_t> file;
    if (const FileError e = ReadRegularFile(path, kFirmwareMaxFile, file); e != FileError::None)
        return e;
    if (const FileError e = CheckFirmwareLength(file.size()); e != FileError::None)
        return e;
    ScrambleFirmware(file);
    out = std::move(file);
    return FileError::None;
}

std::optional<std::vector<uint8_t>> PackFirmware(std::span<const uint8_t> image)
{
    if (CheckFirmwareLength(image.size() + kFirmwareLead) != FileError::None)
        return std::nullopt;
    std::vector<uint8_t> file(kFirmwareLead, 0x00);
    file.insert(file.end(), image.begin(), image.end());
    ScrambleFirmware(file);
    return file;
}

// ---- packets ----

FirmwarePacket CPacketPlan::First()
{
    m_sendOffset = 0;
    m_segmentBytes = 0;
    return {0, kPacketMark, kPacketPlain, 0x00};
}

std::optional<FirmwarePacket> CPacketPlan::Next(uint8_t control)
{
    m_segmentBytes += static_cast<int>(kBlockDataSize);
    m_sendOffset += static_cast<int>(kBlockDataSize);
    if (m_sendOffset >= m_fileLength)
        return std::nullopt;
    FirmwarePacket p;
    p.mark = kPacketMark;
    switch (control) {
    case kAckControlF0:
        p.kind = kPacketAfterF0;
        p.number = 0x01;
        break;
    case kAckControlSkip:
        p.kind = kPacketPlain;
        m_segmentBytes = 0;
        p.number = 0x00;
        m_sendOffset += kSkipBytes;
        break;
    default:
        p.kind = kPacketPlain;
        p.number = static_cast<uint8_t>(m_segmentBytes / static_cast<int>(kBlockDataSize));
        break;
    }
    // The loop ends on the file length, which is 2 more than the image: the last packet is the
    // one that reaches it, possibly a packet of zeros past the image.
    if (m_sendOffset + static_cast<int>(kBlockDataSize) >= m_fileLength)
        p.mark = kLastPacketMark;
    p.offset = m_sendOffset;
    return p;
}

std::vector<FirmwarePacket> PlanPackets(int fileLength, std::span<const uint8_t> controls)
{
    CPacketPlan plan(fileLength);
    std::vector<FirmwarePacket> out{plan.First()};
    for (std::size_t i = 0;; ++i) {
        const auto next = plan.Next(i < controls.size() ? controls[i] : 0x00);
        if (!next)
            return out;
        out.push_back(*next);
    }
}

void WritePacketHeader(Frame& frame, const FirmwarePacket& packet)
{
    frame[0] = kHeader0;
    frame[1] = kHeader1;
    ClearCommand(frame);
    frame[2] = 0x20;
    frame[3] = 0x01;
    frame[4] = packet.mark;
    frame[7] = 0x01;
    frame[8] = 0x01;
    frame[9] = packet.kind;
    frame[10] = packet.number;
}

void WritePacketBlock(Block& block, std::span<const uint8_t> file, const FirmwarePacket& packet)
{
    std::fill(block.begin() + 1, block.end(), 0x00);
    const std::size_t from = static_cast<std::size_t>(packet.offset) + kFirmwareLead;
    if (from >= file.size())
        return;
    const std::size_t n = std::min(kBlockDataSize, file.size() - from);
    std::copy_n(file.begin() + static_cast<std::ptrdiff_t>(from), n, block.begin() + 1);
}

}  // namespace corvane
