// The switcher itself: the state a real 4x2 HDMI matrix keeps and its answers to each command
// frame, data block and datagram. No I/O and no clock: callers pass the time in milliseconds.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/link/frame.h"
#include "sim/edid_block.h"

namespace corvane::sim {

inline constexpr int kInputs = 4;
inline constexpr int kOutputs = 2;

using Mac = std::array<uint8_t, 6>;
using Ipv4 = std::array<uint8_t, 4>;

// EDID index of an input as the status query reports it: 0..14 the built-in presets, 15 the
// switcher's default, above that an EDID taken from a display or a file.
inline constexpr uint8_t kEdidPresets = 15;
inline constexpr uint8_t kEdidIndexDefault = 15;
inline constexpr uint8_t kEdidIndexCopiedA = 0x10;  // 0x11 for output B
inline constexpr uint8_t kEdidIndexFile = 0x12;

// Set request modes (byte 10 of 03 08).
inline constexpr uint8_t kEdidModePreset = 0x00;
inline constexpr uint8_t kEdidModeCopy = 0xEE;
inline constexpr uint8_t kEdidModeFile = 0xBB;

// Firmware packet acknowledgement control bytes.
inline constexpr uint8_t kFwControlNone = 0x00;
inline constexpr uint8_t kFwControlSkip = 0xB0;  // the next packet starts 4096 bytes further
inline constexpr std::size_t kFwSkipBytes = 3840;
inline constexpr std::size_t kFwMaxImage = 1 << 20;

inline constexpr std::size_t kSearchReplySize = 64;
inline constexpr std::size_t kConfigSize = 76;
inline constexpr uint8_t kSearchRequest = 0x61;

// Power-on state and identity. A factory reset brings back beep, DVI, routes and EDIDs.
struct SwitcherSettings {
    std::array<bool, kInputs> inputSignal{true, true, false, false};
    std::array<bool, kOutputs> outputSignal{true, true};
    std::array<uint8_t, kOutputs> route{1, 2};
    bool beep = true;
    bool dvi = false;
    uint8_t deviceType = 0x01;
    uint8_t inputs = kInputs;
    uint8_t outputs = kOutputs;
    uint8_t versionMajor = 1;
    uint8_t versionMinor = 32;
    std::array<char, 8> build{'2', '0', '2', '6', '1', '2', '0', '7'};
    Mac mac{0x02, 0xC5, 0x1A, 0x00, 0x00, 0x01};  // locally administered
    Ipv4 ip{127, 0, 0, 1};
    Ipv4 mask{255, 0, 0, 0};
    Ipv4 gateway{127, 0, 0, 1};
    bool dhcp = true;
    Ipv4 autoIp{127, 0, 0, 1};  // what automatic addressing hands out
    uint16_t tcpPort = 8000;    // reported in the search reply
    int64_t rebootMs = 4000;    // from the last firmware packet until the reboot check is answered
    // Bytes of the reboot check's answer (the device-type reply to an untagged query) that
    // are not 00, by position: bytes the panel does not examine, or ones it does.
    std::map<unsigned, uint8_t> rebootReply;
    // Control byte of the acknowledgement of firmware packet N (1-based, counted per transfer).
    std::map<unsigned, uint8_t> packetControl;
};

// A reply frame that no handler of the panel accepts: bytes 2 and 3 echoed, error code 0xEE.
Frame RefusalFor(const Frame& command);

// True for the frames after which 257 bytes of data follow (EDID file data header, firmware
// packet header).
bool AnnouncesBlock(const Frame& command);

// Built-in EDIDs: presets 0..14, the default (15) and the displays on outputs A and B.
Edid PresetEdid(uint8_t index);
Edid DisplayEdid(int output);

class CSwitcher {
public:
    using NoteFn = std::function<void(const std::string&)>;
    using ImageFn = std::function<void(const std::vector<uint8_t>&)>;
    using EdidFn = std::function<void(int input, uint8_t index, const Edid& data)>;

    explicit CSwitcher(SwitcherSettings settings = {});

    // A command frame with a valid checksum; block is the data that followed it when it
    // announced one. Returns the reply, or nothing when the switcher stays silent.
    std::optional<Frame> OnCommand(const Frame& command, const Block* block, int64_t nowMs);
    // Datagrams: the search request and the 76-byte configuration request.
    std::optional<std::vector<uint8_t>> OnSearch(std::span<const uint8_t> datagram, int64_t nowMs);
    std::optional<std::vector<uint8_t>> OnConfig(std::span<const uint8_t> datagram, int64_t nowMs,
                                                 bool refuse = false);
    std::vector<uint8_t> SearchReply() const;

    bool Rebooting(int64_t nowMs);
    // Power-on defaults for beep, DVI, routes and EDIDs; identity and network stay.
    void FactoryReset();

    void SetNoteHandler(NoteFn fn) { m_note = std::move(fn); }
    void SetImageHandler(ImageFn fn) { m_imageDone = std::move(fn); }
    // Called whenever an input is given an EDID (preset, copy, file, default, factory reset).
    void SetEdidHandler(EdidFn fn) { m_edidChanged = std::move(fn); }

    // State, for the program and the tests.
    const SwitcherSettings& Settings() const { return m_settings; }
    bool InputSignal(int input) const { return m_inputSignal.at(input - 1); }
    bool OutputSignal(int output) const { return m_outputSignal.at(output - 1); }
    void SetInputSignal(int input, bool on) { m_inputSignal.at(input - 1) = on; }
    void SetOutputSignal(int output, bool on) { m_outputSignal.at(output - 1) = on; }
    bool Beep() const { return m_beep; }
    bool Dvi() const { return m_dvi; }
    uint8_t Route(int output) const { return m_route.at(output - 1); }
    uint8_t EdidIndex(int input) const { return m_edidIndex.at(input - 1); }
    const Edid& EdidData(int input) const { return m_edid.at(input - 1); }
    const Mac& MacAddress() const { return m_mac; }
    const Ipv4& IpAddress() const { return m_ip; }
    const Ipv4& NetMask() const { return m_mask; }
    const Ipv4& Gateway() const { return m_gateway; }
    bool Dhcp() const { return m_dhcp; }
    // The firmware image of the last completed upgrade, descrambled, as the panel sent it;
    // bytes that a skip left out read 0xFF (erased).
    const std::vector<uint8_t>& FirmwareImage() const { return m_image; }
    unsigned Upgrades() const { return m_upgrades; }
    unsigned FactoryResets() const { return m_resets; }

private:
    enum class Fw { Idle, Requested, Erased, Ready };

    std::optional<Frame> Status(const Frame& c);
    std::optional<Frame> Routing(const Frame& c);
    std::optional<Frame> Auxiliary(const Frame& c);
    std::optional<Frame> EdidCommand(const Frame& c, const Block* block);
    std::optional<Frame> Firmware(const Frame& c, const Block* block, int64_t nowMs);
    void TrackReset(const Frame& c);
    void CompleteUpgrade(int64_t nowMs);
    void SetEdid(int input, uint8_t index, const Edid& data);
    void Note(const std::string& text) const;

    SwitcherSettings m_settings;
    std::array<bool, kInputs> m_inputSignal;
    std::array<bool, kOutputs> m_outputSignal;
    std::array<uint8_t, kOutputs> m_route;
    bool m_beep;
    bool m_dvi;
    std::array<uint8_t, kInputs> m_edidIndex{};
    std::array<Edid, kInputs> m_edid{};
    std::optional<uint8_t> m_edidMode;  // set request accepted, by mode
    int m_fileTarget = 0;               // 1..4, 5 all inputs, 0 none announced
    int m_resetStep = 0;                // factory reset steps seen in order
    unsigned m_resets = 0;

    Mac m_mac;
    Ipv4 m_ip, m_mask, m_gateway;
    bool m_dhcp;

    Fw m_fw = Fw::Idle;
    std::vector<uint8_t> m_fwBuffer;
    std::size_t m_fwNext = 0;
    unsigned m_fwPackets = 0;
    std::optional<Frame> m_lastPacketHeader;
    std::array<uint8_t, kBlockDataSize> m_lastPacketData{};
    uint8_t m_lastControl = 0;
    std::vector<uint8_t> m_image;
    unsigned m_upgrades = 0;
    std::optional<int64_t> m_rebootUntil;

    NoteFn m_note;
    ImageFn m_imageDone;
    EdidFn m_edidChanged;
};

}  // namespace corvane::sim
