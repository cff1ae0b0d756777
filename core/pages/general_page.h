// The General page's conversation with the switcher: the six-step status sequence, beeper and
// DVI compatibility, the five-step factory reset and the page's reply handler. No Qt: the page
// talks to the link core, the timer layer and the notices, and shows what the switcher reported
// through a small view (the main window's controls, or a text view of the command-line tool).
#pragma once

#include <string>

#include "core/link/frame.h"
#include "platform/timers.h"

namespace corvane {

class CLinkCore;

// One line of the device information: an input's or output's signal as a status step wrote it.
struct SSignalLine {
    int control;       // the static it goes to: 1026..1029 inputs 1..4, 1034/1035 outputs 1/2
    bool output;       // an output (else an input)
    int number;        // 1..4 for inputs, 1..2 for outputs
    bool connected;    // the switcher reported a signal
    std::string text;  // "INPUT 1: Connect", "OUTPUT2: Disconnect", ...
};

class IGeneralView {
public:
    virtual ~IGeneralView() = default;
    // Empties every device information line.
    virtual void ClearDeviceInfo() = 0;
    virtual void WriteDeviceInfo(const SSignalLine& line) = 0;
    // The switcher's beeper and DVI compatibility, as it reported them.
    virtual void ShowBeep(bool on) = 0;
    virtual void ShowDvi(bool on) = 0;
    // The status sequence has read every line (said to a screen reader).
    virtual void StatusRead() {}
};

inline constexpr int kStatusSteps = 6;
inline constexpr int kResetSteps = 5;
inline constexpr unsigned kResetCloseMs = 900;

// Whether the timer is the first of a status or factory reset step's two (the frame sent once
// more when it ends; its follow-up, id + 1, gives up). The link core runs these timers.
bool IsGeneralStepTimer(unsigned id);
inline constexpr unsigned kFirstStepTimer = 2000, kLastStepTimer = 2508;  // every one lies between

// The factory reset step (1..5) whose frame this is; 0 for any other frame.
int FactoryResetStepOf(const Frame& frame);

class CGeneralPage {
public:
    CGeneralPage(CLinkCore& link, IGeneralView& view);
    CGeneralPage(const CGeneralPage&) = delete;
    CGeneralPage& operator=(const CGeneralPage&) = delete;

    // The operator's actions. Each passes the send gate first.
    void OnStatus();
    // enable: what the operator asks for; the view changes only when the switcher answers.
    void OnBeep(bool enable);
    void OnDvi(bool enable);
    // Asks the operator first unless "No longer remind" was ticked. Once the reset is over, the
    // beeper and DVI compatibility are read back, so the page shows what the switcher went to.
    void OnFactoryReset();
    // Reads the beeper's state, then DVI compatibility's, into the check boxes (a link just
    // opened, a reset done). The queries claim nothing; the second goes out only while no other
    // command waits for its answer.
    void ReadSettings();

    // Every reply with a valid checksum while the General page is shown.
    void OnGeneralReply(const Frame& reply);
    // The link is gone (CLinkCore::OnLinkLost): nothing of the page waits on it any more. True
    // when the busy indicator still showed a finished reset.
    bool OnLinkLost();

private:
    void SendResetStep1();
    // Step i of the status sequence or the reset: its frame sent and its timer started.
    void SendStatusStep(int i);
    void SendResetStep(int i);
    bool HandleStatusReply(const Frame& reply);
    bool HandleResetReply(const Frame& reply);
    void OnTimer(unsigned id);

    CLinkCore& m_link;
    IGeneralView& m_view;
    bool m_dviQueryOwed = false;  // ReadSettings's second query, due on the beeper's answer
    CTimerOwner m_timers;  // the busy indicator's close after a finished reset
};

}  // namespace corvane
