#include "core/pages/firmware_page.h"

#include <algorithm>
#include <memory>

#include "core/link/link_core.h"
#include "core/text/text.h"
#include "platform/notices.h"

namespace corvane {

namespace {

enum : uint8_t {
    GROUP_FIRMWARE = 0x20,
    FIRMWARE_CODE = 0x01,
    UPGRADE_REQUEST = 0x01,
    UPGRADE_ACCEPTED = 0xAA,
    REQUEST_ERASE = 0x80,
    REQUEST_READY = 0x10,
    ERASE_DONE_TAG = 0xEE,
};

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
// The switcher is back after the transfer: the device-type reply with bytes 7, 8 and 10 = 00.
bool IsRebootReply(const Frame& r)
{
    return r[2] == GROUP_DEVICE && r[3] == DEVICE_TYPE && r[7] == 0x00 && r[8] == 0x00 && r[10] == 0x00;
}

}  // namespace

bool AnnouncesFirmwareBlock(std::span<const uint8_t> f)
{
    return f[2] == GROUP_FIRMWARE && f[3] == FIRMWARE_CODE && (f[4] == kPacketMark || f[4] == kLastPacketMark);
}

CFirmwarePage::CFirmwarePage(CLinkCore& link, IFirmwareView& view)
    : m_link(link), m_view(view), m_timers(link.TimerService(), [this](unsigned id) { OnTimer(id); }),
      m_deviceStep(link.TimerService(), [this] { SendAgain(); },
                   [this] {
                       m_deviceAwaited = 0;
                       m_link.NoteTimedOut();
                       m_link.Notices().ShowTimeOut();
                   })
{
}

// ---- the file ----

void CFirmwarePage::OnOpenFile()
{
    if (!m_link.bReady)
        return;
    if (const auto path = m_view.ChooseFirmwareFile())
        LoadFile(*path);
}

void CFirmwarePage::LoadFile(const std::string& typed)
{
    const std::string path = TidyPath(typed);
    // Only between transfers: the packets are cut from the loaded file.
    if (m_step != Step::Idle)
        return;
    std::vector<uint8_t> file;
    const FileError error = LoadFirmwareFile(path, file);
    if (error != FileError::None) {
        const std::string text = FirmwareFileErrorText(error);
        m_view.ShowRefusal("firmware file \"" + path + "\": " +
                           (!text.empty() ? text : error == FileError::CannotOpen ? "cannot be opened" : "cannot be read"));
        if (!text.empty())
            m_link.Notices().ShowMessage(text);
        return;
    }
    m_file = std::move(file);
    m_path = path;
    m_view.SetProgress(0);
    m_view.SetProgressRange(FileLength());
    m_view.ShowPath(path);
}

// ---- device information ----

void CFirmwarePage::ForgetDevice()
{
    m_lastDevice.reset();
    m_view.ClearDeviceInfo();
}

void CFirmwarePage::QueryDevice()
{
    m_device = SDeviceInfo{};
    SendDeviceQuery(DEVICE_TYPE);
}

void CFirmwarePage::SendDeviceQuery(uint8_t code)
{
    m_frame = DeviceQuery(code);
    m_deviceAwaited = code;
    SendAgain();
    if (m_bDeviceGuard)
        m_deviceStep.Start();
}

void CFirmwarePage::DeviceInfoReply(const Frame& r)
{
    // Only the answer to the query last sent moves the chain on: an answer that comes twice
    // (sent again after a silence, or repeated by the line) must not fill a field twice.
    // The device-type query may have come from the main window, which opens the page with it.
    const Frame& sent = m_link.CommandFrame;
    const bool typeQuerySent = sent[2] == GROUP_DEVICE && sent[3] == DEVICE_TYPE && sent[10] == DEVICE_QUERY_TAG;
    if (r[3] != DEVICE_TYPE && (sent[2] != GROUP_DEVICE || sent[3] != r[3]))
        return;  // another exchange has begun since
    if (r[3] == DEVICE_TYPE && r[10] == DEVICE_QUERY_TAG && typeQuerySent) {
        m_deviceStep.Stop();
        m_device = SDeviceInfo{};
        m_device.type = r[4];
        SendDeviceQuery(DEVICE_SIZE);
    } else if (r[3] == DEVICE_SIZE && r[10] == DEVICE_QUERY_TAG && m_deviceAwaited == DEVICE_SIZE) {
        m_deviceStep.Stop();
        m_device.inputs = r[4];
        m_device.outputs = r[6];
        SendDeviceQuery(DEVICE_VERSION);
    } else if (r[3] == DEVICE_VERSION && r[10] == DEVICE_QUERY_TAG && m_deviceAwaited == DEVICE_VERSION) {
        m_deviceStep.Stop();
        m_device.major = r[4];
        m_device.minor = r[6];
        SendDeviceQuery(DEVICE_BUILD);
    } else if (r[3] == DEVICE_BUILD && m_deviceAwaited == DEVICE_BUILD) {
        m_deviceStep.Stop();
        m_deviceAwaited = 0;
        // A window text ends at its first NUL: so does the build text.
        for (int i = 4; i <= 11 && r[i] != 0x00; ++i)
            m_device.build += static_cast<char>(r[i]);
        m_lastDevice = m_device;
        m_view.ShowDeviceInfo(m_device);
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
    m_link.CommandFrame = m_frame;
    m_link.OnSendRequest(SEND_FIRMWARE_FRAME);
}

void CFirmwarePage::SendBlock()
{
    m_link.FirmwareBlock = m_block;
    m_link.OnSendRequest(SEND_FIRMWARE_BLOCK);
}

void CFirmwarePage::SendPacket(const FirmwarePacket& packet)
{
    ++m_packetNumber;
    m_acksOwed = 0;
    m_bPacketAcked = false;
    WritePacketHeader(m_frame, packet);
    WritePacketBlock(m_block, m_file, packet);
    SendAgain();
    m_step = Step::Packet;
    m_timers.SetTimer(TIMER_FW_BLOCK, kFwPacingMs);
}

bool CFirmwarePage::LastPacket() const
{
    return m_plan.SendOffset() + static_cast<int>(kBlockDataSize) >= FileLength();
}

void CFirmwarePage::PacketAcknowledged(const Frame& r)
{
    // Every sending of the packet is answered at most once, in order; an acknowledgement
    // nothing is owed for belongs to no sending of this packet.
    if (m_acksOwed == 0)
        return;
    --m_acksOwed;
    if (!m_bPacketAcked) {
        m_bPacketAcked = true;
        m_ackControl = r[10];
        m_timers.KillTimer(TIMER_FW_ACK);
        m_timers.KillTimer(TIMER_FW_ACK_FAIL);
    }
    // A repeated header is always followed by its own block, and the next packet waits until
    // the repetition is answered too: the switcher would otherwise take the next header for
    // the block it still expects, or its second acknowledgement for the next packet's.
    if (m_acksOwed > 0 || m_timers.IsRunning(TIMER_FW_BLOCK_AGAIN)) {
        m_step = Step::Settling;
        return;
    }
    NextPacket();
}

void CFirmwarePage::NextPacket()
{
    m_timers.KillTimer(TIMER_FW_REPEAT_ACK);
    if (const auto next = m_plan.Next(m_ackControl)) {
        SendPacket(*next);
        return;
    }
    ShowProgress(m_plan.SendOffset());
    m_view.AppendMessage("->System rebooting, please wait...\r\n");
    m_step = Step::Rebooting;
    m_frame = RebootCheck();
    SendAgain();
    m_timers.SetTimer(TIMER_FW_REBOOT_FIRST, kFwGuardMs);
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
        m_link.Notices().ShowMessage("Please open the file(.fw)!", [this] { m_link.bReady = true; });
        return;
    }
    m_bUpgradeFailed = false;
    m_failedStep.clear();
    m_bImageMayBeComplete = false;
    m_deviceStep.Stop();
    m_deviceAwaited = 0;
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
        } else if (m_step == Step::Rebooting && IsRebootReply(r)) {
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
        m_packetNumber = 0;
        SendPacket(m_plan.First());
        return;
    case Step::Ack:
    case Step::Settling:
        if (IsPacketAck(r))
            PacketAcknowledged(r);
        return;
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
        m_acksOwed = 1;
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
        ++m_acksOwed;
        m_timers.SetTimer(TIMER_FW_REPEAT_ACK, kFwRepeatAckMs);
        if (!m_bPacketAcked)
            m_timers.SetTimer(TIMER_FW_ACK_FAIL, kFwGuardMs);
        return;
    case TIMER_FW_REPEAT_ACK:
        // The repetition's acknowledgement did not come: the first one answered it.
        m_timers.KillTimer(id);
        if (m_step == Step::Settling && m_bPacketAcked)
            NextPacket();
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
                        TIMER_FW_ACK_FAIL, TIMER_FW_BLOCK_AGAIN, TIMER_FW_REPEAT_ACK})
        m_timers.KillTimer(id);
    for (unsigned id = TIMER_FW_REBOOT_FIRST; id <= TIMER_FW_REBOOT_LAST; ++id)
        m_timers.KillTimer(id);
}

std::string CFirmwarePage::StepText() const
{
    switch (m_step) {
    case Step::Upgrade: return "the upgrade request";
    case Step::Erase: return "request 0x80";
    case Step::Ready: return "request 0x10";
    case Step::Packet:
    case Step::Ack:
    case Step::Settling:
        return "packet " + std::to_string(m_packetNumber) + " (image bytes " + std::to_string(m_plan.SendOffset()) +
               " to " + std::to_string(m_plan.SendOffset() + static_cast<int>(kBlockDataSize) - 1) + ")";
    case Step::Rebooting: return "the reboot check";
    case Step::Idle:
    case Step::Failing: break;
    }
    return {};
}

void CFirmwarePage::Fail()
{
    StopTransferTimers();
    m_failedStep = StepText();
    // Only the last packet's acknowledgement is missing: the switcher may have the whole image
    // and be rebooting with it.
    m_bImageMayBeComplete = (m_step == Step::Ack || m_step == Step::Settling) && LastPacket();
    m_step = Step::Failing;
    // The page may be gone by the time the box closes (the program ending).
    std::weak_ptr<bool> alive = m_alive;
    m_link.NoteTimedOut();
    m_link.Notices().ShowTimeOut([this, alive] {
        m_link.bReady = true;
        if (alive.expired())
            return;
        m_step = Step::Idle;
        m_plan = CPacketPlan(FileLength());
        m_bUpgradeFailed = true;
        m_view.ShowFailed(true);
        m_view.AppendMessage("->MCU upgrade failed\r\n");
        if (m_bImageMayBeComplete)
            m_view.AppendMessage("->The last packet was sent; the switcher may hold the whole image\r\n");
    });
}

bool CFirmwarePage::OnLinkLost()
{
    m_deviceStep.Stop();
    m_deviceAwaited = 0;
    if (m_step == Step::Idle || m_step == Step::Failing)
        return false;  // a failure already being told ends as it is
    StopTransferTimers();
    m_bImageMayBeComplete = (m_step == Step::Ack || m_step == Step::Settling) && LastPacket();
    m_step = Step::Idle;
    m_plan = CPacketPlan(FileLength());
    m_bUpgradeFailed = true;
    m_view.ShowFailed(true);
    m_view.AppendMessage("->MCU upgrade failed\r\n");
    if (m_bImageMayBeComplete)
        m_view.AppendMessage("->The last packet was sent; the switcher may hold the whole image\r\n");
    return false;
}

void CFirmwarePage::Finish()
{
    StopTransferTimers();
    m_view.AppendMessage("->System reboot ok \r\n");
    m_view.AppendMessage("->MCU upgrading complete \r\n");
    m_view.AppendMessage("->Firmware upgrade successfully \r\n");
    // The switcher has rebooted: nothing it was asked before can still be answered.
    m_link.ResetLate();
    m_link.bReady = true;
    m_plan = CPacketPlan(FileLength());
    m_step = Step::Idle;
}

}  // namespace corvane
