#include "pages/firmware_page.h"

#include <algorithm>
#include <memory>

#include "link/link_core.h"
#include "platform/notices.h"

namespace corvane {

namespace {

enum : uint8_t {
    GROUP_DEVICE = 0x01,
    DEVICE_TYPE = 0x01,
    DEVICE_SIZE = 0x02,
    DEVICE_VERSION = 0x03,
    DEVICE_BUILD = 0x06,
    DEVICE_QUERY_TAG = 0xCC,
    GROUP_FIRMWARE = 0x20,
    FIRMWARE_CODE = 0x01,
    UPGRADE_REQUEST = 0x01,
    UPGRADE_ACCEPTED = 0xAA,
    REQUEST_ERASE = 0x80,
    REQUEST_READY = 0x10,
    ERASE_DONE_TAG = 0xEE,
};

std::string TypeName(uint8_t type)
{
    switch (type) {
    case 0x01: return "Corvane";
    case 0x02: return "Brisel";
    default: return "Corvane+Brisel";
    }
}

// The firmware group's replies with byte 4 = 00: request 0x80 done, request 0x10 done and the
// packet acknowledgement differ in bytes 7, 8 and 10.
bool IsRequestDone(const Frame& r)
{
    return r[2] == GROUP_FIRMWARE && r[3] == FIRMWARE_CODE && r[4] == 0x00 && r[6] == 0x00 && r[7] == 0x00 &&
           r[8] == 0x00;
}
bool IsPacketAck(const Frame& r)
{
    return r[2] == GROUP_FIRMWARE && r[3] == FIRMWARE_CODE && r[4] == 0x00 && r[7] == 0x01 && r[8] == 0x01;
}

}  // namespace

CFirmwarePage::CFirmwarePage(CLinkCore& link, IFirmwareView& view)
    : m_link(link), m_view(view), m_timers([this](unsigned id) { OnTimer(id); })
{
}

// ---- the file ----

void CFirmwarePage::OnOpenFile()
{
    if (!g_bReady)
        return;
    if (const auto path = m_view.ChooseFirmwareFile())
        LoadFile(*path);
}

void CFirmwarePage::LoadFile(const std::string& path)
{
    // Only between transfers: the packets are cut from the loaded file.
    if (m_step != Step::Idle)
        return;
    std::vector<uint8_t> file;
    const FileError error = LoadFirmwareFile(path, file);
    if (error != FileError::None) {
        if (const std::string text = FirmwareFileErrorText(error); !text.empty())
            ShowMessage(text);
        return;
    }
    m_file = std::move(file);
    m_path = path;
    m_view.SetProgress(0);
    m_view.SetProgressRange(FileLength());
    m_view.ShowPath(path);
}

// ---- device information ----

void CFirmwarePage::DeviceInfoReply(const Frame& r)
{
    auto next = [this](uint8_t code, uint8_t tag) {
        SendFrame({GROUP_DEVICE, code, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, tag});
    };
    if (r[3] == DEVICE_TYPE && r[10] == DEVICE_QUERY_TAG) {
        m_deviceInfo = TypeName(r[4]);
        next(DEVICE_SIZE, DEVICE_QUERY_TAG);
    } else if (r[3] == DEVICE_SIZE && r[10] == DEVICE_QUERY_TAG) {
        m_deviceInfo = "Device: " + m_deviceInfo + " " + std::to_string(r[4]) + "x" + std::to_string(r[6]);
        next(DEVICE_VERSION, DEVICE_QUERY_TAG);
    } else if (r[3] == DEVICE_VERSION && r[10] == DEVICE_QUERY_TAG) {
        m_deviceInfo += "     Version:" + std::to_string(r[4]) + "." + std::to_string(r[6]);
        next(DEVICE_BUILD, 0x00);
    } else if (r[3] == DEVICE_BUILD) {
        m_deviceInfo += "-";
        // A window text ends at its first NUL: so does the build text.
        for (int i = 4; i <= 11 && r[i] != 0x00; ++i)
            m_deviceInfo += static_cast<char>(r[i]);
        m_view.ShowDeviceInfo(m_deviceInfo);
        m_deviceInfo.clear();
    }
}

// ---- sending ----

void CFirmwarePage::SendFrame(std::initializer_list<uint8_t> body)
{
    m_frame = MakeFrame(body);
    SendAgain();
}

void CFirmwarePage::SendAgain()
{
    g_CommandFrame = m_frame;
    m_link.OnSendRequest(SEND_FIRMWARE_FRAME);
}

void CFirmwarePage::SendBlock()
{
    g_FirmwareBlock = m_block;
    m_link.OnSendRequest(SEND_FIRMWARE_BLOCK);
}

void CFirmwarePage::SendPacket(const FirmwarePacket& packet)
{
    WritePacketHeader(m_frame, packet);
    WritePacketBlock(m_block, m_file, packet);
    SendAgain();
    m_step = Step::Packet;
    m_timers.SetTimer(TIMER_FW_BLOCK, kFwPacingMs);
}

void CFirmwarePage::ShowProgress(int offset)
{
    // The transfer ends past the file length; a bar ignores a value above its maximum.
    m_view.SetProgress(std::clamp(offset, 0, FileLength()));
}

// ---- the transfer ----

void CFirmwarePage::OnUpgrade()
{
    if (!m_link.BeginCommand())
        return;
    if (m_path.empty()) {
        ShowMessage("Please open the file(.fw)!", [] { g_bReady = true; });
        return;
    }
    m_bUpgradeFailed = false;
    m_view.ShowFailed(false);
    m_view.ClearMessages();
    m_view.AppendMessage("->Upgrading MCU...\r\n");
    m_plan = CPacketPlan(FileLength());
    m_step = Step::Upgrade;
    SendFrame({GROUP_FIRMWARE, FIRMWARE_CODE, UPGRADE_REQUEST});
    m_timers.SetTimer(TIMER_FW_UPGRADE, kFwGuardMs);
}

void CFirmwarePage::OnFirmwareReply(const Frame& r)
{
    if (r[2] == GROUP_DEVICE) {
        if (m_step == Step::Idle) {
            DeviceInfoReply(r);
        } else if (m_step == Step::Rebooting && r[3] == DEVICE_TYPE && r[6] == 0x00 && r[7] == 0x00 &&
                   r[10] == 0x00) {
            Finish();
        }
        return;
    }
    if (r[2] != GROUP_FIRMWARE || r[3] != FIRMWARE_CODE)
        return;

    // Each reply counts only in the step that waits for it; anything else is left to the timers.
    switch (m_step) {
    case Step::Upgrade:
        if (r[4] != UPGRADE_ACCEPTED)
            return;
        m_timers.KillTimer(TIMER_FW_UPGRADE);
        m_timers.KillTimer(TIMER_FW_UPGRADE_FAIL);
        m_frame = MakeFrame({GROUP_FIRMWARE, FIRMWARE_CODE, REQUEST_ERASE, 0x00, 0x00, 0x00, 0x00, 0x00, ERASE_DONE_TAG});
        m_step = Step::Erase;
        m_timers.SetTimer(TIMER_FW_REQUEST_80, kFwPacingMs);
        return;
    case Step::Erase:
        if (!IsRequestDone(r) || r[10] != ERASE_DONE_TAG || m_timers.IsRunning(TIMER_FW_REQUEST_80))
            return;
        m_timers.KillTimer(TIMER_FW_ERASE);
        m_timers.KillTimer(TIMER_FW_ERASE_FAIL);
        m_step = Step::Ready;
        SendFrame({GROUP_FIRMWARE, FIRMWARE_CODE, REQUEST_READY});
        m_timers.SetTimer(TIMER_FW_READY, kFwGuardMs);
        return;
    case Step::Ready:
        if (!IsRequestDone(r) || r[10] == ERASE_DONE_TAG)
            return;
        m_timers.KillTimer(TIMER_FW_READY);
        m_timers.KillTimer(TIMER_FW_READY_FAIL);
        SendPacket(m_plan.First());
        return;
    case Step::Ack: {
        if (!IsPacketAck(r))
            return;
        // A late acknowledgement may meet the repeated header before its block: that block
        // would now carry the next packet, so the repetition ends here too.
        m_timers.KillTimer(TIMER_FW_ACK);
        m_timers.KillTimer(TIMER_FW_BLOCK_AGAIN);
        m_timers.KillTimer(TIMER_FW_ACK_FAIL);
        if (const auto next = m_plan.Next(r[10])) {
            SendPacket(*next);
            return;
        }
        ShowProgress(m_plan.SendOffset());
        m_view.AppendMessage("->System rebooting, please wait...\r\n");
        m_step = Step::Rebooting;
        SendFrame({GROUP_DEVICE, DEVICE_TYPE});
        m_timers.SetTimer(TIMER_FW_REBOOT_FIRST, kFwGuardMs);
        return;
    }
    case Step::Idle:
    case Step::Packet:
    case Step::Rebooting:
    case Step::Failing:
        return;
    }
}

void CFirmwarePage::OnTimer(unsigned id)
{
    switch (id) {
    case TIMER_FW_BLOCK:
        m_timers.KillTimer(id);
        SendBlock();
        ShowProgress(m_plan.SendOffset());
        m_step = Step::Ack;
        m_timers.SetTimer(TIMER_FW_ACK, kFwGuardMs);
        return;
    case TIMER_FW_REQUEST_80:
        m_timers.KillTimer(id);
        SendAgain();
        m_timers.SetTimer(TIMER_FW_ERASE, kFwGuardMs);
        return;
    case TIMER_FW_UPGRADE:
    case TIMER_FW_ERASE:
    case TIMER_FW_READY:
        m_timers.KillTimer(id);
        SendAgain();
        m_timers.SetTimer(id + 1, kFwGuardMs);
        return;
    case TIMER_FW_ACK:
        m_timers.KillTimer(id);
        SendAgain();
        m_timers.SetTimer(TIMER_FW_BLOCK_AGAIN, kFwPacingMs);
        return;
    case TIMER_FW_BLOCK_AGAIN:
        m_timers.KillTimer(id);
        SendBlock();
        m_timers.SetTimer(TIMER_FW_ACK_FAIL, kFwGuardMs);
        return;
    case TIMER_FW_UPGRADE_FAIL:
    case TIMER_FW_ERASE_FAIL:
    case TIMER_FW_READY_FAIL:
    case TIMER_FW_ACK_FAIL:
    case TIMER_FW_REBOOT_LAST:
        Fail();
        return;
    default:
        if (id >= TIMER_FW_REBOOT_FIRST && id < TIMER_FW_REBOOT_LAST) {
            m_timers.KillTimer(id);
            SendAgain();
            m_timers.SetTimer(id + 1, kFwGuardMs);
        }
        return;
    }
}

void CFirmwarePage::StopTransferTimers()
{
    for (unsigned id : {TIMER_FW_BLOCK, TIMER_FW_REQUEST_80, TIMER_FW_UPGRADE, TIMER_FW_UPGRADE_FAIL,
                        TIMER_FW_ERASE, TIMER_FW_ERASE_FAIL, TIMER_FW_READY, TIMER_FW_READY_FAIL, TIMER_FW_ACK,
                        TIMER_FW_ACK_FAIL, TIMER_FW_BLOCK_AGAIN})
        m_timers.KillTimer(id);
    for (unsigned id = TIMER_FW_REBOOT_FIRST; id <= TIMER_FW_REBOOT_LAST; ++id)
        m_timers.KillTimer(id);
}

void CFirmwarePage::Fail()
{
    StopTransferTimers();
    m_step = Step::Failing;
    // The page may be gone by the time the box closes (the program ending).
    std::weak_ptr<bool> alive = m_alive;
    ShowMessage("Time out!", [this, alive] {
        g_bReady = true;
        if (alive.expired())
            return;
        m_step = Step::Idle;
        m_plan = CPacketPlan(FileLength());
        m_bUpgradeFailed = true;
        m_view.ShowFailed(true);
        m_view.AppendMessage("->MCU upgrade failed\r\n");
    });
}

void CFirmwarePage::Finish()
{
    StopTransferTimers();
    m_view.AppendMessage("->System reboot ok \r\n");
    m_view.AppendMessage("->MCU upgrading complete \r\n");
    m_view.AppendMessage("->Firmware upgrade successfully \r\n");
    g_bReady = true;
    m_plan = CPacketPlan(FileLength());
    m_step = Step::Idle;
}

}  // namespace corvane
