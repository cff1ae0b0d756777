// The bridge's one link to the switcher: everything corvane-mqtt says to the switcher goes
// through here, over the same switcher object and pages as corvanectl. The rest of the bridge sees
// only the state it read and the outcome of each command.
#pragma once

#include <array>
#include <csignal>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "core/edid/edid_names.h"
#include "core/scene/scene.h"

namespace corvane {
struct SConnection;
struct SSwitcherState;
class CLinkedSwitcher;
}

namespace corvane::mqtt {

// Everything the bridge publishes about the switcher: the switcher's state as read, in the
// form its topics take.
struct SPublishedState {
    std::array<bool, 4> inputSignal{};
    std::array<bool, 2> outputSignal{};
    std::array<int, 2> routes{};  // the input (1..4) of output 1 and 2
    bool beep = false;
    bool dvi = false;
    std::array<std::string, 4> edids;  // each input's EDID as the switcher names it
    std::string device;                // "Device: Corvane 4x2     Version:1.32-20261207"
    std::string model;                 // "Corvane 4x2"
    std::string version;               // "1.32-20261207"
    std::string mac;                   // "02:C5:1A:00:00:01" when the link reports it
    std::string preset;                // the first preset (--scenes) the switcher matches, if any
    bool operator==(const SPublishedState&) const = default;
};

// The state as its topics take it (without the preset) from the switcher's state as read whole.
SPublishedState PublishedState(const SSwitcherState& state);

// A command that passed its checks: what to change and to which value.
struct SCommand {
    enum class Kind { Route, Beep, Dvi, EdidPreset, Scene, Preset, Refresh };
    Kind kind = Kind::Refresh;
    int number = 0;  // the output (Route) or input (EdidPreset)
    int value = 0;   // the input (Route)
    bool on = false;  // Beep, Dvi
    std::shared_ptr<const SScene> scene;  // Scene, and Preset once found
    SBuiltInEdid edid;  // EdidPreset
    std::string preset;  // Preset: its name
};

// A scene file of the --scenes folder, by its name without ".json".
struct SPreset {
    std::string name;
    std::shared_ptr<const SScene> scene;
};
// The scene files (NAME.json) of a folder, by name; a file that is no scene is left out, with
// a line in problems.
std::vector<SPreset> ReadPresets(const std::string& dir, std::vector<std::string>& problems);

// One whole line on standard error, whichever thread writes it.
void WriteErrorLine(const std::string& line);

struct SOutcome {
    bool ok = false;
    std::string error;   // in words, when not ok
    std::string detail;  // a scene's apply report (JSON), else empty
};

// --port (a COM name or device path) or --host (ADDRESS[:PORT]), as corvanectl takes them.
struct SLinkAddress {
    std::string port;
    std::string host;
    bool trace = false;  // every frame on standard error
};

class CSwitcherLink {
public:
    explicit CSwitcherLink(SLinkAddress address);
    ~CSwitcherLink();
    CSwitcherLink(const CSwitcherLink&) = delete;
    CSwitcherLink& operator=(const CSwitcherLink&) = delete;

    // Opens the link where none is open; false with the reason.
    bool Open(std::string& error);
    void Close();
    bool IsOpen() const { return m_run != nullptr; }

    // Reads the whole state (signals, beeper, DVI, routes, EDIDs, device line), opening the link
    // where needed. On failure the link is closed, so the next call starts on a fresh one.
    // state.preset is the first of presets the switcher matches.
    bool Read(SPublishedState& state, const std::vector<SPreset>& presets, std::string& error);

    // Carries out one command and reads back what it changed into state. answered() is called
    // once the switcher has acknowledged a change whose new value the acknowledgement shows,
    // before the read-back. A Refresh is left to Read. On failure the link is closed.
    SOutcome Apply(const SCommand& command, SPublishedState& state, const std::function<void()>& answered);

    // A flag that ends every wait when it turns true (the program is asked to stop).
    void SetStop(const volatile std::sig_atomic_t* stop) { m_stop = stop; }

private:
    SConnection Connection() const;
    bool Failed(std::string& error);
    SOutcome ApplyOnLink(const SCommand& command, SPublishedState& state, const std::function<void()>& answered);
    SOutcome ApplyScene(const SScene& scene);

    // The switcher's lines: trace lines ("TX ...", "RX ...") go to standard error as they come,
    // failure lines are kept for the outcome.
    class CLines : public std::streambuf {
    public:
        const std::string& Kept() const { return m_kept; }
        void Clear() { m_kept.clear(); }

    protected:
        int_type overflow(int_type c) override;

    private:
        std::string m_line, m_kept;
    };

    SLinkAddress m_address;
    CLines m_lines;
    std::ostream m_err{&m_lines};
    std::unique_ptr<CLinkedSwitcher> m_run;
    const volatile std::sig_atomic_t* m_stop = nullptr;
};

}  // namespace corvane::mqtt
