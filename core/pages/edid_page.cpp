#include "core/pages/edid_page.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "core/edid/edid_check.h"
#include "core/edid/edid_decode.h"
#include "core/link/link_core.h"
#include "core/link/queries.h"
#include "core/text/text.h"
#include "platform/notices.h"

namespace corvane {

namespace {

// What "Default EDID" sends for a single input: the preset it stands for there.
constexpr uint8_t kDefaultToOneInput = kDefaultOnOneInputPosition + 1;

enum : uint8_t {
    GROUP_STATUS = 0x01,
    STATUS_EDID = 0x0C,
    GROUP_EDID = 0x03,
    PRESET_TO_ALL = 0x01,
    PRESET_TO_ONE = 0x02,
    COPY_TO_ALL = 0x03,
    COPY_TO_ONE = 0x04,
    FILE_TO_ALL = 0x06,
    FILE_TO_ONE = 0x07,
    SET_REQUEST = 0x08,
    DEFAULT_TO_ALL = 0x09,
    ANNOUNCE = 0xF0,
    EVERY_INPUT = 0xFE,
    FILE_DATA = 0x56,
    FILE_DATA_ACCEPTED = 0xAA,
    // Byte 10 of the set request: the kind of change that follows.
    MODE_PRESET = 0x00,
    MODE_COPY = 0xEE,
    MODE_FILE = 0xBB,
};

bool IsInput(int n) { return n >= 1 && n <= kEdidInputs; }
bool IsTarget(int n) { return n >= 1 && n <= kEdidAllInputs; }

void LogToStderr(const std::string& line)
{
    std::fprintf(stderr, "corvane: %s\n", line.c_str());
}

std::string OneLine(const std::string& text)
{
    std::string out;
    for (char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7F || c == '\\') {
            char esc[5];
            std::snprintf(esc, sizeof esc, "\\x%02X", b);
            out += esc;
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace

bool IsEdidFrame(std::span<const uint8_t> f) { return f[2] == GROUP_EDID; }

bool OpensEdidSet(std::span<const uint8_t> f)
{
    return f[2] == GROUP_EDID && (f[3] == SET_REQUEST || ((f[3] == FILE_TO_ONE || f[3] == FILE_TO_ALL) && f[5] == ANNOUNCE));
}

bool AnnouncesEdidBlock(std::span<const uint8_t> f)
{
    return f[2] == GROUP_EDID && (f[3] == FILE_TO_ALL || f[3] == FILE_TO_ONE) && f[4] == FILE_DATA;
}

std::string EdidFileLogLine(const std::string& path, const EdidCheck& check)
{
    const char* what = check.fault == EdidFault::CannotOpen ? "cannot take EDID file \"" : "bad EDID file \"";
    return what + OneLine(path) + "\": " + DescribeEdidCheck(check);
}

CEdidPage::CEdidPage(CLinkCore& link, IEdidView& view)
    : m_link(link), m_view(view), m_log(LogToStderr), m_timers(link.TimerService(), [this](unsigned id) { OnTimer(id); })
{
}

void CEdidPage::SendEdidFrame(std::initializer_list<uint8_t> body)
{
    m_link.CommandFrame = MakeFrame(body);
    m_link.OnSendRequest(SEND_EDID_FRAME);
}

bool CEdidPage::FileTransferRunning() const { return m_setMode == MODE_FILE && m_timers.IsRunning(TIMER_EDID_SET); }

void CEdidPage::SendSetRequest(uint8_t mode)
{
    m_setMode = mode;
    m_setTarget = 0;
    SendEdidFrame({GROUP_EDID, SET_REQUEST, ANNOUNCE, 0x00, 0x00, 0x00, 0x00, 0x00, mode});
    m_timers.SetTimer(TIMER_EDID_SET, kEdidSetTimeoutMs);
    // Modal in the program: the exchange goes on inside it and ends by closing it.
    m_link.Notices().OpenStatus("Setting");
}

void CEdidPage::OnSetPreset()
{
    if (!m_link.BeginCommand())
        return;
    SendSetRequest(MODE_PRESET);
}

void CEdidPage::OnSetCopy()
{
    if (!m_link.BeginCommand())
        return;
    SendSetRequest(MODE_COPY);
}

void CEdidPage::OnSetFile()
{
    if (!m_link.BeginCommand())
        return;
    if (m_strFilePath.empty()) {  // no file accepted yet: nothing to send
        m_link.bReady = true;
        return;
    }
    SendSetRequest(MODE_FILE);
}

void CEdidPage::OnStatus()
{
    if (!m_link.BeginCommand())
        return;
    ReadInputs(1, kEdidInputs);
}

void CEdidPage::ReadInputs(int first, int last)
{
    m_lastStatusInput = last;
    m_link.CommandFrame = EdidStatusQuery(first);
    m_link.OnSendRequest(SEND_EDID_FRAME);
    m_timers.SetTimer(TIMER_EDID_STATUS + 2 * static_cast<unsigned>(first - 1), kStepTimeoutMs);
}

void CEdidPage::OnOpenFile()
{
    if (!m_link.bReady)
        return;
    if (const auto path = m_view.ChooseFile())
        TakeFile(*path);
}

bool CEdidPage::TakeFile(const std::string& typed)
{
    const std::string path = TidyPath(typed);
    const EdidCheck check = CheckEdidFile(path);
    if (check.fault == EdidFault::CannotOpen) {
        m_log(EdidFileLogLine(path, check));
        m_view.ShowRefusal(EdidFileLogLine(path, check));
        return false;
    }
    return Take(path, check);
}

bool CEdidPage::TakeContent(const std::string& name, std::span<const uint8_t> content)
{
    return Take(name, CheckEdid(content));
}

bool CEdidPage::Take(const std::string& path, const EdidCheck& check)
{
    if (!check.Ok()) {
        m_log(EdidFileLogLine(path, check));
        m_view.ShowRefusal(EdidFileLogLine(path, check));
        m_link.Notices().ShowMessage("Bad EDID file!");
        return false;
    }
    std::copy(check.edid.begin(), check.edid.end(), m_link.EdidBlock.begin() + 1);
    m_strFilePath = path;
    // The file as it is: a 128-byte file announcing an extension says it lacks one.
    const std::span<const uint8_t> content(check.edid.data(), static_cast<std::size_t>(check.size));
    m_view.ShowFile(path, SummarizeEdid(DecodeEdid(content)));
    return true;
}

void CEdidPage::OnSetAccepted(uint8_t mode)
{
    switch (mode) {
    case MODE_PRESET: {
        const int position = m_view.Selection(EdidList::Preset);
        const int n = m_view.Selection(EdidList::PresetTarget) + 1;
        if (position < 0 || position >= kEdidNames || !IsTarget(n))
            return;
        m_setTarget = n;
        const auto p = static_cast<uint8_t>(position + 1);
        const auto in = static_cast<uint8_t>(n);
        if (position == kDefaultEdidPosition && n == kEdidAllInputs)
            SendEdidFrame({GROUP_EDID, DEFAULT_TO_ALL, EVERY_INPUT});
        else if (position == kDefaultEdidPosition)
            SendEdidFrame({GROUP_EDID, PRESET_TO_ONE, kDefaultToOneInput, ANNOUNCE, in});
        else if (n == kEdidAllInputs)
            SendEdidFrame({GROUP_EDID, PRESET_TO_ALL, p, ANNOUNCE});
        else
            SendEdidFrame({GROUP_EDID, PRESET_TO_ONE, p, ANNOUNCE, in});
        return;
    }
    case MODE_COPY: {
        const int o = m_view.Selection(EdidList::CopySource) + 1;
        const int n = m_view.Selection(EdidList::CopyTarget) + 1;
        if (o < 1 || o > 2 || !IsTarget(n))
            return;
        m_setTarget = n;
        if (n == kEdidAllInputs)
            SendEdidFrame({GROUP_EDID, COPY_TO_ALL, static_cast<uint8_t>(o)});
        else
            SendEdidFrame({GROUP_EDID, COPY_TO_ONE, static_cast<uint8_t>(o), 0x00, static_cast<uint8_t>(n)});
        return;
    }
    case MODE_FILE: {
        const int n = m_view.Selection(EdidList::FileTarget) + 1;
        if (!IsTarget(n))
            return;
        m_setTarget = n;
        if (n == kEdidAllInputs)
            SendEdidFrame({GROUP_EDID, FILE_TO_ALL, EVERY_INPUT, ANNOUNCE});
        else
            SendEdidFrame({GROUP_EDID, FILE_TO_ONE, static_cast<uint8_t>(n), ANNOUNCE});
        return;
    }
    default: return;
    }
}

void CEdidPage::OnStatusReply(const Frame& r)
{
    const int n = r[4];
    if (!IsInput(n))
        return;
    m_view.ShowInputEdid(n, EdidName(r[6]));
    // Only the answer to the query last sent moves the chain on: a late or repeated answer must
    // not send queries or free the gate behind another command's back.
    const Frame& sent = m_link.CommandFrame;
    if (sent[2] != GROUP_STATUS || sent[3] != STATUS_EDID || sent[4] != n)
        return;
    if (n == 1)
        m_link.OnSendRequest(STOP_PAGE_TIMER);
    const unsigned step = TIMER_EDID_STATUS + 2 * static_cast<unsigned>(n - 1);
    m_timers.KillTimer(step);
    m_timers.KillTimer(step + 1);
    if (n < m_lastStatusInput) {
        ReadInputs(n + 1, m_lastStatusInput);
        return;
    }
    m_link.Notices().CloseStatus();
    m_link.bReady = true;
    m_view.InputsRead();
}

void CEdidPage::FinishSet()
{
    m_timers.KillTimer(TIMER_EDID_SET);
    m_timers.KillTimer(TIMER_EDID_BLOCK);
    m_link.Notices().FinishStatus("Set successfully!");
    m_timers.SetTimer(TIMER_EDID_DONE, kEdidDoneShownMs);
    m_link.bReady = true;
    m_view.SetDone();
    // The input list is read again once "Set successfully!" has been shown.
}

void CEdidPage::ReadBackTarget()
{
    const int target = std::exchange(m_setTarget, 0);
    // Only while nothing else has started, on this page (the answers go to the page shown) and
    // on a link that is still open.
    if (!IsTarget(target) || !m_link.bReady || m_link.CurrentPage() != PAGE_EDID || !m_link.LinkOpen())
        return;
    m_link.bReady = false;
    if (target == kEdidAllInputs)
        ReadInputs(1, kEdidInputs);
    else
        ReadInputs(target, target);
}

void CEdidPage::OnEdidReply(const Frame& r)
{
    if (r[2] == GROUP_STATUS && r[3] == STATUS_EDID) {
        OnStatusReply(r);
        return;
    }
    const Frame& sent = m_link.CommandFrame;
    if (r[2] != GROUP_EDID || sent[2] != GROUP_EDID)
        return;
    if (sent[3] == SET_REQUEST) {
        if (r[3] == SET_REQUEST && r[4] == 0x00)
            OnSetAccepted(sent[10]);
        return;
    }
    const bool fileAnnounced = (sent[3] == FILE_TO_ONE || sent[3] == FILE_TO_ALL) && sent[5] == ANNOUNCE;
    if (fileAnnounced && r[3] == sent[3] && r[4] == FILE_DATA_ACCEPTED && r[5] == 0x00) {
        // The header names what was announced; the block follows it after a short pause.
        SendEdidFrame({GROUP_EDID, sent[3], FILE_DATA, 0x00, 0x00, 0x01});
        m_timers.SetTimer(TIMER_EDID_BLOCK, kEdidBlockDelayMs);
        return;
    }
    if (r[3] == sent[3] && r[4] == 0x00 && r[5] == 0x00 && r[6] == sent[6] && r[7] == sent[7])
        FinishSet();
    // Anything else is left to the pending timer.
}

bool CEdidPage::OnLinkLost()
{
    const bool finishedShown = m_timers.IsRunning(TIMER_EDID_DONE);
    for (unsigned id : {TIMER_EDID_SET, TIMER_EDID_DONE, TIMER_EDID_BLOCK})
        m_timers.KillTimer(id);
    for (unsigned id = TIMER_EDID_STATUS; id < TIMER_EDID_STATUS + 2 * kEdidInputs; ++id)
        m_timers.KillTimer(id);
    m_setTarget = 0;
    return finishedShown;
}

void CEdidPage::OnTimer(unsigned id)
{
    switch (id) {
    case TIMER_EDID_SET:
        m_timers.KillTimer(TIMER_EDID_SET);
        m_timers.KillTimer(TIMER_EDID_BLOCK);
        m_setTarget = 0;
        m_link.Notices().CloseStatus();
        m_link.ShowTimedOut();
        return;
    case TIMER_EDID_DONE:
        m_timers.KillTimer(id);
        m_link.Notices().CloseStatus();
        ReadBackTarget();
        return;
    case TIMER_EDID_BLOCK:
        m_timers.KillTimer(id);
        m_link.OnSendRequest(SEND_EDID_BLOCK);
        return;
    default: break;
    }
    if (id < TIMER_EDID_STATUS || id >= TIMER_EDID_STATUS + 2 * kEdidInputs)
        return;
    m_timers.KillTimer(id);
    if ((id - TIMER_EDID_STATUS) % 2 == 0) {  // the query once more
        m_link.OnSendRequest(SEND_EDID_FRAME);
        m_timers.SetTimer(id + 1, kStepTimeoutMs);
        return;
    }
    // Names already received stay shown.
    m_link.Notices().CloseStatus();
    m_link.ShowTimedOut();
}

}  // namespace corvane
