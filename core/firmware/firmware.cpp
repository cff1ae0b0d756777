#include "core/firmware/firmware.h"

#include <algorithm>

namespace corvane {

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

FileError FileErrorOf(RegularFileError error)
{
    switch (error) {
    case RegularFileError::None: return FileError::None;
    case RegularFileError::CannotOpen: return FileError::CannotOpen;
    case RegularFileError::NotRegular: return FileError::NotRegular;
    case RegularFileError::ReadFailed: return FileError::ReadFailed;
    case RegularFileError::TooLarge: return FileError::TooLarge;
    }
    return FileError::ReadFailed;
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
    if (const FileError e = FileErrorOf(ReadRegularFile(path, kFirmwareMaxFile, file)); e != FileError::None)
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
