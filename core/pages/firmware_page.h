// The firmware page's behaviour: the device information line, loading a firmware file, and the
// transfer (upgrade request, requests 0x80 and 0x10, the packets, the reboot check) with the
// page's own pacing and guard timers. No Qt: the page talks to the link core, the timer layer
// and the notices, and shows what happens through a small view.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/firmware/firmware.h"
#include "core/link/frame.h"
#include "core/link/link_state.h"
#include "core/link/queries.h"
#include "core/link/retry_step.h"
#include "platform/timers.h"

namespace corvane {

class CLinkCore;

// Timers of the page: 50 ms pacing before a block or request 0x80, 3000 ms guards.
enum : unsigned {
    TIMER_FW_BLOCK = 3000,
    TIMER_FW_REQUEST_80 = 3001,
    TIMER_FW_REBOOT_FIRST = 3002,  // 3002..3006 send the reboot check again
    TIMER_FW_REBOOT_LAST = 3007,   // the sixth check went unanswered
    TIMER_FW_UPGRADE = 4000,
    TIMER_FW_UPGRADE_FAIL = 4001,
    TIMER_FW_ERASE = 4002,
    TIMER_FW_ERASE_FAIL = 4003,
    TIMER_FW_READY = 4004,
    TIMER_FW_READY_FAIL = 4005,
    TIMER_FW_ACK = 4006,
    TIMER_FW_ACK_FAIL = 4007,
    TIMER_FW_BLOCK_AGAIN = 4008,
    TIMER_FW_REPEAT_ACK = 4009,  // a repeated packet's own acknowledgement may still come
};
inline constexpr unsigned kFwPacingMs = 50;
inline constexpr unsigned kFwGuardMs = kStepTimeoutMs;
// How long a repeated packet's acknowledgement is waited for once the packet is acknowledged:
// as long as the first sending of a packet may wait for its own.
inline constexpr unsigned kFwRepeatAckMs = 2 * kFwGuardMs + kFwPacingMs;

// A packet header, by the frame sent: its block follows.
bool AnnouncesFirmwareBlock(std::span<const uint8_t> frame);

class IFirmwareView {
public:
    virtual ~IFirmwareView() = default;
    // The file-open dialog; nothing when the operator cancels.
    virtual std::optional<std::string> ChooseFirmwareFile() = 0;
    virtual void ShowPath(const std::string& path) = 0;
    virtual void SetProgressRange(int maximum) = 0;
    virtual void SetProgress(int value) = 0;
    virtual void ClearMessages() = 0;
    // Inserted at the pane's caret, replacing its selection; lines end in "\r\n".
    virtual void AppendMessage(const std::string& text) = 0;
    // The whole message pane in red (failed) or black.
    virtual void ShowFailed(bool failed) = 0;
    // The device information chain is complete.
    virtual void ShowDeviceInfo(const SDeviceInfo& info) = 0;
    // No device information: the link it came over is closed.
    virtual void ClearDeviceInfo() = 0;
    // Why the file last chosen was not taken, where the operator and a screen reader find it.
    virtual void ShowRefusal(const std::string& /*reason*/) {}
};

class CFirmwarePage {
public:
    enum class Step {
        Idle,
        Upgrade,     // upgrade request sent (4000, 4001)
        Erase,       // request 0x80 paced (3001) or sent (4002, 4003)
        Ready,       // request 0x10 sent (4004, 4005)
        Packet,      // header sent, block paced (3000)
        Ack,         // block sent (4006, 4008, 4007)
        Settling,    // packet acknowledged; its repetition's acknowledgement may follow (4009)
        Rebooting,   // reboot check sent (3002 .. 3007)
        Failing,     // "Time out!" shown; the page waits for the box to close
    };

    CFirmwarePage(CLinkCore& link, IFirmwareView& view);
    CFirmwarePage(const CFirmwarePage&) = delete;
    CFirmwarePage& operator=(const CFirmwarePage&) = delete;

    // The device-type query that starts the device information chain. With a guard, each query
    // of the chain is sent once more after 3 s without its answer and the chain ends in
    // "Time out!" 3 s later; without one (the panel, where the main window sends the first
    // query), the chain waits for ever, as the operator can simply open the page again.
    void QueryDevice();
    void SetDeviceGuard(bool guard) { m_bDeviceGuard = guard; }
    // The last complete device information, if any.
    const std::optional<SDeviceInfo>& DeviceInfo() const { return m_lastDevice; }
    // The link closed: the device information described a switcher no longer connected.
    void ForgetDevice();

    // "Open": the file dialog, then LoadFile. Nothing while a command is pending.
    void OnOpenFile();
    // Loads and descrambles a chosen file; a refused file changes nothing.
    void LoadFile(const std::string& path);
    // "Upgrade".
    void OnUpgrade();
    // Every reply with a valid checksum while the page is shown.
    void OnFirmwareReply(const Frame& reply);
    void OnTimer(unsigned id);
    // The link is gone (CLinkCore::OnLinkLost): the exchange waiting on it ends now, silently.
    // True when the page still showed the busy indicator's finished view.
    bool OnLinkLost();

    Step CurrentStep() const { return m_step; }
    bool UpgradeFailed() const { return m_bUpgradeFailed; }
    int FileLength() const { return static_cast<int>(m_file.size()); }
    // The loaded file, descrambled, lead included.
    const std::vector<uint8_t>& File() const { return m_file; }
    const std::string& Path() const { return m_path; }
    int SendOffset() const { return m_plan.SendOffset(); }
    bool TimerRunning(unsigned id) const { return m_timers.IsRunning(id); }
    // The step that failed last, in words ("packet 3 of 9", "the reboot check", ...), and
    // whether the switcher may hold the whole image all the same (the last packet went out
    // and only its acknowledgement is missing).
    const std::string& FailedStep() const { return m_failedStep; }
    bool ImageMayBeComplete() const { return m_bImageMayBeComplete; }

private:
    void DeviceInfoReply(const Frame& r);
    void SendDeviceQuery(uint8_t code);
    void PacketAcknowledged(const Frame& r);
    void NextPacket();
    std::string StepText() const;
    // The page's frame into CommandFrame, sent; the page keeps its own copy so that a
    // repetition sends what the step sent, whatever else wrote the shared frame meanwhile.
    void SendFrame(std::initializer_list<uint8_t> body);
    void SendAgain();
    void SendBlock();
    void SendPacket(const FirmwarePacket& packet);
    bool LastPacket() const;
    void ShowProgress(int offset);
    void StopTransferTimers();
    void Fail();
    void Finish();

    CLinkCore& m_link;
    IFirmwareView& m_view;
    std::vector<uint8_t> m_file;  // descrambled, lead included
    std::string m_path;
    CPacketPlan m_plan;
    Frame m_frame{kHeader0, kHeader1};
    Block m_block{};
    Step m_step = Step::Idle;
    bool m_bUpgradeFailed = false;
    SDeviceInfo m_device;          // being filled by the chain
    uint8_t m_deviceAwaited = 0;   // the device query whose answer the chain waits for; 0: none
    std::optional<SDeviceInfo> m_lastDevice;
    bool m_bDeviceGuard = false;
    // Acknowledgements carry no packet number: the page counts the sendings of the current
    // packet still unanswered, so that one packet's acknowledgement is never taken twice.
    int m_acksOwed = 0;
    bool m_bPacketAcked = false;
    uint8_t m_ackControl = 0;
    int m_packetNumber = 0;  // 1-based, of the packet being sent
    std::string m_failedStep;
    bool m_bImageMayBeComplete = false;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
    CTimerOwner m_timers;
    CRetryStep m_deviceStep;
};

}  // namespace corvane
