// edid status|set|copy|load|inspect: the EDID page with a text view; inspect runs the page's
// file check and summary offline.
#include <sstream>

#include "cli/command_line.h"
#include "cli/link_commands.h"
#include "core/switcher/switcher.h"
#include "core/edid/edid_check.h"
#include "core/edid/edid_decode.h"
#include "core/edid/edid_names.h"
#include "core/text/text.h"

namespace corvane::cli {

const char kEdidUsage[] =
    "edid status [--json]  the EDID name each input uses\n"
    "  edid set NAME|NUMBER --to TARGET [--json]  a built-in EDID (1-16, see 'edid --help')\n"
    "  edid copy OUTA|OUTB --to TARGET [--json]  the EDID of the display on an output\n"
    "  edid load FILE --to TARGET [--json]  a checked EDID file (128 or 256 bytes)\n"
    "  edid inspect FILE [--json]  offline: the file's summary and every check\n";

namespace {

const char kEdidHelp[] =
    "\nTARGET is IN1, IN2, IN3, IN4 (or 1-4) or all.\n"
    "Built-in EDIDs, by number or name (quote names, case does not matter):\n";

// "IN3", "in3", "3" -> 2; "all" -> 4 (the list position of "All Input").
std::optional<int> TargetPosition(const std::string& word)
{
    std::string t = Lower(word);
    if (t == "all")
        return kEdidAllInputs - 1;
    if (t.rfind("in", 0) == 0)
        t = t.substr(2);
    if (t.size() == 1 && t[0] >= '1' && t[0] <= '4')
        return t[0] - '1';
    return std::nullopt;
}

void PrintTargets(std::ostream& out, int position)
{
    out << "[";
    if (position == kEdidAllInputs - 1)
        out << "1,2,3,4";
    else
        out << position + 1;
    out << "]";
}

std::string TargetText(int position)
{
    return position == kEdidAllInputs - 1 ? "all inputs" : "IN" + std::to_string(position + 1);
}

// ---- inspect ---------------------------------------------------------------------------------

struct SCheckRow {
    const char* name;
    std::string verdict;  // pass, fail, not reached, not needed
    std::string value;
};

std::string Hex2(uint8_t v)
{
    char b[8];
    std::snprintf(b, sizeof b, "0x%02X", v);
    return b;
}

const char* FileTypeText(FileType t)
{
    switch (t) {
    case FileType::Regular: return "regular file";
    case FileType::Directory: return "directory";
    case FileType::Fifo: return "FIFO";
    case FileType::CharacterDevice: return "character device";
    case FileType::BlockDevice: return "block device";
    case FileType::Socket: return "socket";
    case FileType::Other: return "other file type";
    }
    return "";
}

// The page's checks in the order it makes them; the first that fails ends the checking, so
// the later ones were not reached.
std::vector<SCheckRow> CheckRows(const EdidCheck& c)
{
    std::vector<SCheckRow> rows;
    bool failed = false;
    auto add = [&](const char* name, bool pass, std::string value) {
        if (failed) {
            rows.push_back({name, "not reached", ""});
            return;
        }
        rows.push_back({name, pass ? "pass" : "fail", std::move(value)});
        failed = !pass;
    };
    const EdidFault f = c.fault;
    if (f == EdidFault::CannotOpen || f == EdidFault::ReadFailed) {
        add("readable", false, ErrorText(c.osError));
    } else {
        add("readable", f != EdidFault::NotRegularFile, FileTypeText(c.fileType));
    }
    add("size", f != EdidFault::Size,
        (c.sizeAtLeast ? "at least " : "") + std::to_string(c.size) + " bytes (128 or 256)");
    add("header", f != EdidFault::Header, HexText(c.header) + " (00 FF FF FF FF FF FF 00)");
    add("extension count", f != EdidFault::ExtensionCount, std::to_string(c.extensionCount) + " (at most 1)");
    add("base block sum", f != EdidFault::BaseChecksum,
        "bytes 0-127 sum to " + Hex2(f == EdidFault::BaseChecksum ? c.sum : 0) + " (0x00)");
    if (!failed && c.extensionCount == 0)
        rows.push_back({"extension block sum", "not needed", "no extension announced"});
    else
        add("extension block sum", f != EdidFault::ExtensionChecksum,
            "bytes 128-255 sum to " + Hex2(f == EdidFault::ExtensionChecksum ? c.sum : 0) + " (0x00)");
    return rows;
}

void PrintDecodedJson(std::ostream& out, const EdidInfo& i)
{
    out << "{\"manufacturer\":" << JsonString(i.manufacturer) << ",\"product_code\":" << i.productCode
        << ",\"serial_number\":" << i.serialNumber << ",\"serial_text\":" << JsonString(i.serialText)
        << ",\"display_name\":" << JsonString(i.displayName) << ",\"week\":" << int(i.week) << ",\"year\":" << i.year
        << ",\"version\":\"" << int(i.versionMajor) << "." << int(i.versionMinor) << "\",\"preferred\":";
    if (i.preferred) {
        const EdidTiming& t = *i.preferred;
        out << "{\"width\":" << t.width << ",\"height\":" << t.height << ",\"interlaced\":" << Bool(t.interlaced)
            << ",\"pixel_clock_khz\":" << t.pixelClockKhz << ",\"refresh_millihz\":" << t.refreshMilliHz << "}";
    } else {
        out << "null";
    }
    const char* ext = "none";
    switch (i.extension) {
    case EdidExtension::None: ext = "none"; break;
    case EdidExtension::Cta861: ext = "cta-861"; break;
    case EdidExtension::Other: ext = "other"; break;
    case EdidExtension::Missing: ext = "missing"; break;
    }
    out << ",\"extension_count\":" << int(i.extensionCount) << ",\"extension\":\"" << ext << "\",\"hdmi\":"
        << Bool(i.hdmi) << ",\"audio\":[";
    for (std::size_t k = 0; k < i.audio.size(); ++k)
        out << (k ? "," : "") << "{\"format\":" << JsonString(AudioFormatName(i.audio[k].code))
            << ",\"channels\":" << i.audio[k].channels << "}";
    out << "]}";
}

int RunInspect(const SCommandLine& c, std::ostream& out, std::ostream& err)
{
    if (c.words.size() != 2)
        return Usage(err, "edid inspect takes one FILE", kEdidUsage);
    const std::string& path = c.words[1];
    const EdidCheck check = CheckEdidFile(path);
    const std::vector<SCheckRow> rows = CheckRows(check);
    // The bytes were read and kept once the size was right: the decoder may look at them,
    // whatever a later check says.
    const bool read = check.Ok() || check.fault == EdidFault::Header || check.fault == EdidFault::ExtensionCount ||
                      check.fault == EdidFault::BaseChecksum || check.fault == EdidFault::ExtensionChecksum;
    std::optional<EdidInfo> info;
    if (read)
        info = DecodeEdid(std::span<const uint8_t>(check.edid.data(), static_cast<std::size_t>(check.size)));
    const std::string reason = check.Ok() ? "" : DescribeEdidCheck(check);
    if (c.json) {
        out << "{\"file\":" << JsonString(path) << ",\"accepted\":" << Bool(check.Ok())
            << ",\"reason\":" << JsonString(reason) << ",\"checks\":[";
        for (std::size_t k = 0; k < rows.size(); ++k)
            out << (k ? "," : "") << "{\"check\":" << JsonString(rows[k].name) << ",\"verdict\":\""
                << rows[k].verdict << "\",\"value\":" << JsonString(rows[k].value) << "}";
        out << "],\"summary\":[";
        if (info) {
            const auto lines = SummarizeEdid(*info);
            for (std::size_t k = 0; k < lines.size(); ++k)
                out << (k ? "," : "") << JsonString(lines[k]);
        }
        out << "],\"edid\":";
        if (info)
            PrintDecodedJson(out, *info);
        else
            out << "null";
        out << "}\n";
    } else {
        if (info)
            for (const std::string& line : SummarizeEdid(*info))
                out << line << '\n';
        for (const SCheckRow& r : rows) {
            std::string name = r.name;
            name.resize(20, ' ');
            std::string verdict = r.verdict;
            verdict.resize(12, ' ');
            std::string line = "Check " + name + verdict + r.value;
            while (!line.empty() && line.back() == ' ')
                line.pop_back();
            out << line << '\n';
        }
        out << (check.Ok() ? "Accepted\n" : "Refused: " + reason + "\n");
    }
    return check.Ok() ? kExitOk : kExitFailed;
}

// ---- the link commands ------------------------------------------------------------------------

int PrintNames(std::ostream& out, const SSwitcherState& v, bool json)
{
    if (json) {
        out << "{\"inputs\":[";
        for (int i = 0; i < 4; ++i)
            out << (i ? "," : "") << "{\"input\":" << i + 1 << ",\"edid\":" << JsonString(v.edids[i].value_or(""))
                << "}";
        out << "]}\n";
        return kExitOk;
    }
    for (int i = 0; i < 4; ++i)
        out << "IN" << i + 1 << ": " << v.edids[i].value_or("") << '\n';
    return kExitOk;
}

}  // namespace

int RunEdid(Args args, std::ostream& out, std::ostream& err)
{
    const SCommandLine c = Parse(args, {"--to"});
    if (c.help) {
        out << "Usage: corvanectl " << kEdidUsage << kEdidHelp;
        for (int p = 0; p < kEdidNames; ++p)
            out << "  " << (p < 9 ? " " : "") << p + 1 << "  " << EdidListName(p) << '\n';
        out << "To one input, " << kEdidNames << " (" << EdidListName(kDefaultEdidPosition) << ") is "
            << kDefaultOnOneInputPosition + 1 << " (" << EdidListName(kDefaultOnOneInputPosition)
            << "), and the switcher shows that name.\n";
        out << "With --json: status gives {\"inputs\":[{\"input\",\"edid\"}]}; set, copy and load give\n"
               "{\"kind\",\"source\",\"inputs\":[...],\"done\"}; inspect gives {\"file\",\"accepted\",\"reason\",\n"
               "\"checks\":[{\"check\",\"verdict\",\"value\"}],\"summary\":[...],\"edid\":{...}}.\n"
               "inspect exits 0 when the EDID page would take the file, 1 when it would refuse it.\n"
            << kLinkOptionsHelp;
        return kExitOk;
    }
    if (!c.error.empty())
        return Usage(err, c.error, kEdidUsage);
    if (c.words.empty())
        return Usage(err, "which edid command?", kEdidUsage);
    const std::string& sub = c.words[0];
    if (sub == "inspect")
        return RunInspect(c, out, err);

    const bool wantsTarget = sub == "set" || sub == "copy" || sub == "load";
    if (sub != "status" && !wantsTarget)
        return Usage(err, "unknown edid command '" + sub + "'", kEdidUsage);
    if (sub == "status" && (c.words.size() != 1 || c.Has("--to")))
        return Usage(err, "edid status takes no arguments", kEdidUsage);
    std::optional<int> target, source;
    std::optional<SBuiltInEdid> preset;
    if (wantsTarget) {
        if (c.words.size() != 2)
            return Usage(err, "edid " + sub + " takes one " + (sub == "set" ? "NAME or NUMBER" : sub == "copy" ? "output" : "FILE"),
                         kEdidUsage);
        if (!c.Has("--to"))
            return Usage(err, "--to IN1..IN4 or all is needed", kEdidUsage);
        target = TargetPosition(c.Value("--to"));
        if (!target)
            return Usage(err, "--to is IN1, IN2, IN3, IN4 or all, not '" + c.Value("--to") + "'", kEdidUsage);
        const std::string& w = c.words[1];
        if (sub == "set") {
            preset = ParseBuiltInEdid(w, EdidNumbers::Accepted);
            if (!preset)
                return Usage(err, "no built-in EDID '" + w + "' (1-16 or a name from 'edid --help')", kEdidUsage);
        } else if (sub == "copy") {
            const std::string o = Lower(w);
            if (o == "outa" || o == "a" || o == "1")
                source = 0;
            else if (o == "outb" || o == "b" || o == "2")
                source = 1;
            else
                return Usage(err, "copy from OUTA or OUTB, not '" + w + "'", kEdidUsage);
        }
    }
    // A file is checked before the link is opened: a refused file never reaches the switcher,
    // and what was checked is what is sent.
    EdidCheck file;
    if (sub == "load") {
        file = CheckEdidFile(c.words[1]);
        if (!file.Ok()) {
            err << "corvanectl: " << EdidFileLogLine(c.words[1], file) << '\n';
            return kExitFailed;
        }
    }

    CLinkedSwitcher run(err, c.link);
    if (int r = run.Open())
        return r;
    if (sub == "status") {
        if (!run.Run(run.ReadEdidNames()).Ok())
            return kExitFailed;
        return PrintNames(out, run.State(), c.json);
    }
    const int input = *target == 4 ? kEveryInput : *target + 1;
    std::string kind, sourceText;
    bool done = false;
    if (sub == "set") {
        kind = "preset";
        sourceText = preset->Name();
        // The default for one input is a preset, and the switcher names it so from now on.
        done = run.Run(run.EdidPreset(input, *preset)).Ok();
    } else if (sub == "copy") {
        kind = "copy";
        sourceText = *source == 0 ? "OUTA" : "OUTB";
        done = run.Run(run.EdidCopy(input, *source + 1)).Ok();
    } else {
        kind = "file";
        sourceText = c.words[1];
        done = run.Run(run.EdidFile(input, c.words[1], {file.edid.begin(), file.edid.begin() + file.size})).Ok();
    }
    // A set the switcher answered but a reading shows otherwise is said here; a failure was.
    if (!done && !run.NotDone().empty())
        err << "corvanectl: " << run.NotDone() << "\n";
    if (!done)
        return kExitFailed;
    if (c.json) {
        out << "{\"kind\":\"" << kind << "\",\"source\":" << JsonString(sourceText) << ",\"inputs\":";
        PrintTargets(out, *target);
        out << ",\"done\":true}\n";
    } else {
        out << TargetText(*target) << ": " << sourceText;
        // The default for one input is a preset, and the switcher names it so from now on.
        if (preset && preset->IsDefault() && input != kEveryInput)
            out << ", which the switcher shows as " << preset->NameOnOneInput();
        out << "\nSet successfully!\n";
    }
    return kExitOk;
}

}  // namespace corvane::cli
