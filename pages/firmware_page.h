// The firmware page's behaviour: the device information line, loading a firmware file, and the
// transfer (upgrade request, requests 0x80 and 0x10, the packets, the reboot check) with the
// page's own pacing and guard timers. No Qt: the page talks to the link core, the timer layer
// and the notices, and shows what happens through a small view.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "link/firmware.h"
#include "link/frame.h"
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
};
inline constexpr unsigned kFwPacingMs = 50;
inline constexpr unsigned kFwGuardMs = 3000;

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
    virtual void ShowDeviceInfo(const std::string& line) = 0;
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
        Rebooting,   // reboot check sent (3002 .. 3007)
        Failing,     // "Time out!" shown; the page waits for the box to close
    };

    CFirmwarePage(CLinkCore& link, IFirmwareView& view);
    CFirmwarePage(const CFirmwarePage&) = delete;
    CFirmwarePage& operator=(const CFirmwarePage&) = delete;

    // "Open": the file dialog, then LoadFile. Nothing while a command is pending.
    void OnOpenFile();
    // Loads and descrambles a chosen file; a refused file changes nothing.
    void LoadFile(const std::string& path);
    // "Upgrade".
    void OnUpgrade();
    // Every reply with a valid checksum while the page is shown.
    void OnFirmwareReply(const Frame& reply);
    void OnTimer(unsigned id);

    Step CurrentStep() const { return m_step; }
    bool UpgradeFailed() const { return m_bUpgradeFailed; }
    int FileLength() const { return static_cast<int>(m_file.size()); }
    // The loaded file, descrambled, lead included.
    const std::vector<uint8_t>& File() const { return m_file; }
    const std::string& Path() const { return m_path; }
    int SendOffset() const { return m_plan.SendOffset(); }
    bool TimerRunning(unsigned id) const { return m_timers.IsRunning(id); }

private:
    void DeviceInfoReply(const Frame& r);
    // The page's frame into g_CommandFrame, sent; the page keeps its own copy so that a
    // repetition sends what the step sent, whatever else wrote the shared frame meanwhile.
    void SendFrame(std::initializer_list<uint8_t> body);
    void SendAgain();
    void SendBlock();
    void SendPacket(const FirmwarePacket& packet);
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
    std::string m_deviceInfo;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
    CTimerOwner m_timers;
};

}  // namespace corvane
