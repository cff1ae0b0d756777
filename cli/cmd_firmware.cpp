// firmware info|upgrade: the FW Upgrade page with a text view. The transfer's progress goes to
// standard error: a bar redrawn in place on a terminal, one line per tenth otherwise.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "cli/command_line.h"
#include "cli/link_commands.h"
#include "core/switcher/switcher.h"

namespace corvane::cli {

const char kFirmwareLinkUsage[] =
    "firmware info [--json]  the device line: type, size, version, build text\n"
    "  firmware upgrade FILE.fw [--json]  send a firmware file and wait for the reboot\n";

namespace {

const char kFirmwareHelp[] =
    "\nWith --json: info gives {\"line\",\"type\",\"size\",\"version\",\"build\"}; upgrade gives\n"
    "{\"file\",\"bytes\",\"skipped\",\"upgraded\":true}: the image bytes sent and those the switcher asked\n"
    "to skip. During an upgrade the progress, in image bytes, goes to standard error.\n";

std::string Duration(double seconds)
{
    const long s = static_cast<long>(seconds + 0.5);
    char b[32];
    std::snprintf(b, sizeof b, "%ld:%02ld", s / 60, s % 60);
    return b;
}

}  // namespace

// What a progress line says after value of maximum bytes, elapsed seconds into the transfer.
std::string ProgressLine(int value, int maximum, double elapsed, bool bar)
{
    const int percent = maximum > 0 ? static_cast<int>(100LL * value / maximum) : 100;
    const double rate = elapsed > 0 ? value / elapsed : 0;
    char b[160];
    if (!bar) {
        std::snprintf(b, sizeof b, "firmware: %d%% %d/%d bytes", percent, value, maximum);
        return b;
    }
    std::string cells(20, '.');
    for (int k = 0; k < percent / 5 && k < 20; ++k)
        cells[k] = '#';
    const std::string left = rate > 0 ? Duration((maximum - value) / rate) : "-:--";
    std::snprintf(b, sizeof b, "[%s] %3d%% %d/%d bytes %.1f KiB/s %s left", cells.c_str(), percent, value, maximum,
                  rate / 1024, left.c_str());
    return b;
}

int RunFirmwareLink(Args args, std::ostream& out, std::ostream& err)
{
    const SCommandLine c = Parse(args);
    if (auto r = Preflight(c, out, err, kFirmwareLinkUsage, kLinkOptionsHelp)) {
        if (c.help)
            out << kFirmwareHelp;
        return *r;
    }
    const bool upgrade = c.words[0] == "upgrade";
    if (!upgrade && c.words.size() != 1)
        return Usage(err, "firmware info takes no arguments", kFirmwareLinkUsage);
    if (upgrade && c.words.size() != 2)
        return Usage(err, "firmware upgrade takes one FILE.fw", kFirmwareLinkUsage);

    CLinkedSwitcher run(err, c.link);
    CFirmwarePage& page = run.firmware;
    if (upgrade) {
        // The file is loaded first: a refused file never opens the link.
        page.LoadFile(c.words[1]);
        if (page.Path().empty()) {
            if (!run.Failed())
                err << "corvanectl: " << c.words[1] << ": not a firmware file\n";
            return kExitFailed;
        }
    }
    if (int r = run.Open())
        return r;
    if (!upgrade) {
        if (!run.Run(run.ReadDevice()).Ok())
            return kExitFailed;
        const SDeviceInfo& device = *run.state.device;
        if (c.json) {
            PrintDeviceJson(out, device);
            out << '\n';
        } else {
            out << device.Line() << '\n';
        }
        return kExitOk;
    }

    const bool terminal = isatty(STDERR_FILENO) == 1;
    const auto begin = std::chrono::steady_clock::now();
    int lastTenth = -1;
    bool barShown = false;
    SFirmwareView& v = run.firmwareView;
    // The page counts the file (the image and its lead); people and the report count the image.
    const int lead = static_cast<int>(kFirmwareLead);
    // Each packet starts 256 bytes past the one before; a switcher that asks to skip ahead moves
    // the next one further, and what lies between is never sent.
    int lastOffset = -1, skipped = 0;
    v.onProgress = [&](int offset) {
        if (lastOffset >= 0 && offset > lastOffset + static_cast<int>(kBlockDataSize))
            skipped += offset - lastOffset - static_cast<int>(kBlockDataSize);
        if (offset > lastOffset)
            lastOffset = offset;
        const int value = std::max(0, offset - lead), maximum = std::max(0, v.maximum - lead);
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        if (terminal) {
            err << '\r' << ProgressLine(value, maximum, elapsed, true) << std::flush;
            barShown = true;
            return;
        }
        const int tenth = maximum > 0 ? static_cast<int>(10LL * value / maximum) : 10;
        if (tenth <= lastTenth)
            return;
        lastTenth = tenth;
        err << ProgressLine(value, maximum, elapsed, false) << '\n' << std::flush;
    };
    v.onMessage = [&](const std::string& text) {
        // "->System rebooting, please wait...\r\n": the page's messages, as lines.
        std::string line = text;
        if (line.rfind("->", 0) == 0)
            line = line.substr(2);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' '))
            line.pop_back();
        if (line.empty() || line == "Upgrading MCU...")
            return;
        if (barShown) {
            err << '\n';
            barShown = false;
        }
        // The failure itself, and whether the image may be complete, end up in the one line
        // that reports it.
        if (line.find("failed") == std::string::npos && !page.ImageMayBeComplete())
            err << "firmware: " << line << '\n' << std::flush;
    };
    // The page names the step it gave up on; a refusal comes before the page gives up.
    run.SetTimeoutSubject([&] {
        const std::string step = page.FailedStep();
        return step.empty() ? CommandText(run.Link().CommandFrame) : step;
    });
    run.SetDoneSoFar([&]() -> std::string {
        if (page.ImageMayBeComplete())
            return "every packet was sent and all but the last acknowledged: the switcher may hold the whole "
                   "image and be rebooting with it";
        using Step = CFirmwarePage::Step;
        const Step step = page.CurrentStep();
        if (run.Stopped() && step != Step::Idle && step != Step::Upgrade)
            return "the transfer was cut short: the switcher may hold part of an image";
        return page.FailedStep() == "the reboot check"
                   ? "every packet was sent and acknowledged, but the switcher did not come back"
                   : "";
    });
    const bool ok = run.Run(run.FirmwareUpgrade()).Ok();
    if (barShown)
        err << '\n';
    if (!ok || page.UpgradeFailed())
        return kExitFailed;
    const int image = page.FileLength() - lead;
    skipped = std::min(skipped, image);
    const int sent = image - skipped;
    if (c.json)
        out << "{\"file\":" << JsonString(c.words[1]) << ",\"bytes\":" << sent << ",\"skipped\":" << skipped
            << ",\"upgraded\":true}\n";
    else if (skipped)
        out << c.words[1] << ": " << sent << " bytes of firmware sent, " << skipped
            << " skipped at the switcher's request; the switcher rebooted\n";
    else
        out << c.words[1] << ": " << sent << " bytes of firmware sent; the switcher rebooted\n";
    return kExitOk;
}

}  // namespace corvane::cli
