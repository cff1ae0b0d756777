// The EDID page's behaviour: the EDID each input presents to its source. The operator gives an
// input (or all four) a built-in preset, the EDID of the display on output A or B, or a checked
// EDID file, and reads which EDID each input uses. No Qt: the page talks to the link core, the
// timer layer and the notices, and reaches its window through a small view.
#pragma once

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/edid/edid_names.h"
#include "core/link/frame.h"
#include "core/link/link_state.h"
#include "platform/timers.h"

namespace corvane {

class CLinkCore;
struct EdidCheck;

// The page's own timers (1000 and 1004 are ids of the main window too, on another owner).
enum : unsigned {
    TIMER_EDID_SET = 1000,      // a set exchange, from the set request to its end
    TIMER_EDID_DONE = 1004,     // how long "Set successfully!" stays
    TIMER_EDID_BLOCK = 2510,    // from the file data header to the data block
    TIMER_EDID_STATUS = 2511,   // 2511, 2513, 2515, 2517: status query for input 1..4 sent;
                                // the next id of each: its repetition sent
};
inline constexpr unsigned kEdidSetTimeoutMs = kPageTimeoutMs;
inline constexpr unsigned kEdidDoneShownMs = 900;
inline constexpr unsigned kEdidBlockDelayMs = 100;

inline constexpr int kEdidInputs = 4;
inline constexpr int kEdidAllInputs = 5;  // the position of "All Input" + 1

// The page's drop-down lists.
enum class EdidList {
    Preset,        // the 16 EDID names
    PresetTarget,  // "IN1".."IN4", "All Input"
    CopySource,    // "HDMI OUTA", "HDMI OUTB"
    CopyTarget,
    FileTarget,
};

class IEdidView {
public:
    virtual ~IEdidView() = default;
    // The position chosen in the list, from 0.
    virtual int Selection(EdidList list) const = 0;
    // Shows the EDID name the switcher reported for the input (1..4).
    virtual void ShowInputEdid(int input, const std::string& name) = 0;
    // An accepted file: its full path and a few lines on the display it describes.
    virtual void ShowFile(const std::string& path, const std::vector<std::string>& summary) = 0;
    // Asks the operator for an EDID file; nothing when the operator cancels.
    virtual std::optional<std::string> ChooseFile() = 0;
    // Why the file last chosen was not taken (the log line), where the operator and a screen
    // reader find it; the accepted file, if any, stays.
    virtual void ShowRefusal(const std::string& /*reason*/) {}
    // Outcomes said to a screen reader: a set the switcher confirmed, a read of the inputs'
    // EDIDs that has ended.
    virtual void SetDone() {}
    virtual void InputsRead() {}
};

class CEdidPage {
public:
    // Receives the one line that says why a file was not taken.
    using LogFn = std::function<void(const std::string&)>;

    CEdidPage(CLinkCore& link, IEdidView& view);
    CEdidPage(const CEdidPage&) = delete;
    CEdidPage& operator=(const CEdidPage&) = delete;

    // The operator's buttons: the three "Set", "..." and "Status".
    void OnSetPreset();
    void OnSetCopy();
    void OnSetFile();
    void OnOpenFile();
    void OnStatus();

    // Every reply with a valid checksum while the page is shown.
    void OnEdidReply(const Frame& reply);
    void OnTimer(unsigned id);
    // The link is gone (CLinkCore::OnLinkLost): the exchange waiting on it ends now, silently.
    // True when the page still showed the busy indicator's finished view.
    bool OnLinkLost();
    // A set is done and the page has yet to read back the inputs it changed.
    bool ReadBackPending() const { return m_timers.IsRunning(TIMER_EDID_DONE); }

    // Checks the file and, when it passes, takes it: EdidBlock holds its bytes and the view
    // shows its path and summary. A rejected file changes neither and shows "Bad EDID file!";
    // a file that cannot be opened is dropped without a message. Both say why on the log.
    bool TakeFile(const std::string& path);
    // The same for an EDID already read (kept in a scene, say), under the name it came from.
    bool TakeContent(const std::string& name, std::span<const uint8_t> content);

    // The path of the accepted file, "" before the first.
    const std::string& FilePath() const { return m_strFilePath; }
    // An EDID file is on its way to the switcher: cutting it off leaves an input half written.
    bool FileTransferRunning() const;
    bool TimerRunning(unsigned id) const { return m_timers.IsRunning(id); }
    // Where the reasons go; standard error unless replaced.
    void SetLog(LogFn log) { m_log = std::move(log); }

private:
    bool Take(const std::string& path, const EdidCheck& check);
    void SendEdidFrame(std::initializer_list<uint8_t> body);
    void SendSetRequest(uint8_t mode);
    void OnSetAccepted(uint8_t mode);
    void OnStatusReply(const Frame& reply);
    void FinishSet();
    // Asks for the EDID of inputs first to last, one after the other.
    void ReadInputs(int first, int last);
    // After a successful set: the inputs it changed, read again for the Input EDID List.
    void ReadBackTarget();

    CLinkCore& m_link;
    IEdidView& m_view;
    std::string m_strFilePath;
    uint8_t m_setMode = 0;    // the kind of the set exchange last started
    int m_setTarget = 0;      // its inputs: 1..4, kEdidAllInputs; 0 when none is owed a read-back
    int m_lastStatusInput = kEdidInputs;  // where the running status read ends
    LogFn m_log;
    CTimerOwner m_timers;
};

// "bad EDID file "/tmp/x.bin": size 3 bytes, expected 128 or 256": the log line for a file the
// page did not take. Control characters of the path are written as \xNN, so it stays one line.
std::string EdidFileLogLine(const std::string& path, const EdidCheck& check);

// The EDID exchanges that come in parts, by the frame sent: a set request (the set follows it)
// or a file announcement (its data header follows) opens one; a data header announces a block.
bool IsEdidFrame(std::span<const uint8_t> frame);
bool OpensEdidSet(std::span<const uint8_t> frame);
bool AnnouncesEdidBlock(std::span<const uint8_t> frame);

}  // namespace corvane
