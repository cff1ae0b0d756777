// corvanectl firmware: firmware files without a switcher. The page's own scrambling and checks
// (core/firmware/firmware.h), so a file pack writes is one the page loads.
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "cli/commands.h"
#include "core/firmware/firmware.h"
#include "platform/regular_file.h"
#ifdef CORVANE_CLI_LINK
#include "cli/link_commands.h"
#endif

namespace corvane::cli {

namespace {

constexpr const char* kUsage =
#ifdef CORVANE_CLI_LINK
    "Usage: corvanectl firmware info [--json] [--port COMn | --host ADDRESS[:PORT]]\n"
    "       corvanectl firmware upgrade FILE.fw [--json] [--port COMn | --host ADDRESS[:PORT]]\n"
    "       corvanectl firmware pack IMAGE OUT.fw\n"
#else
    "Usage: corvanectl firmware pack IMAGE OUT.fw\n"
#endif
    "       corvanectl firmware unpack FILE.fw IMAGE\n";

// Why a file was refused, for the shell.
std::string Reason(FileError e, int savedErrno, bool image)
{
    switch (e) {
    case FileError::CannotOpen:
    case FileError::ReadFailed: return std::strerror(savedErrno);
    case FileError::NotRegular: return "not a regular file";
    case FileError::TooLarge:
        return image ? "image too large (at most " + std::to_string(kFirmwareMaxImage) + " bytes)"
                     : "firmware file too large (at most " + std::to_string(kFirmwareMaxFile) + " bytes)";
    case FileError::NoImage: return image ? "empty image" : "firmware file without image (at most 2 bytes)";
    case FileError::None: break;
    }
    return {};
}

int Pack(const std::string& imagePath, const std::string& outPath, std::ostream& out, std::ostream& err)
{
    std::vector<uint8_t> image;
    FileError e = FileErrorOf(ReadRegularFile(imagePath, kFirmwareMaxImage, image));
    const int saved = errno;
    if (e == FileError::None && image.empty())
        e = FileError::NoImage;
    if (e != FileError::None) {
        err << "corvanectl: " << imagePath << ": " << Reason(e, saved, true) << "\n";
        return kExitFailed;
    }
    const auto file = PackFirmware(image);
    if (!file) {
        err << "corvanectl: " << imagePath << ": image refused\n";
        return kExitFailed;
    }
    std::string error;
    if (!WriteWholeFile(outPath, *file, error)) {
        err << "corvanectl: " << error << "\n";
        return kExitFailed;
    }
    out << outPath << ": " << file->size() << " bytes, image of " << image.size() << " bytes\n";
    return kExitOk;
}

int Unpack(const std::string& filePath, const std::string& imagePath, std::ostream& out, std::ostream& err)
{
    std::vector<uint8_t> file;
    const FileError e = LoadFirmwareFile(filePath, file);
    const int saved = errno;
    if (e != FileError::None) {
        err << "corvanectl: " << filePath << ": " << Reason(e, saved, false) << "\n";
        return kExitFailed;
    }
    const std::span<const uint8_t> image = std::span<const uint8_t>(file).subspan(kFirmwareLead);
    std::string error;
    if (!WriteWholeFile(imagePath, image, error)) {
        err << "corvanectl: " << error << "\n";
        return kExitFailed;
    }
    out << imagePath << ": image of " << image.size() << " bytes\n";
    return kExitOk;
}

}  // namespace

int RunFirmware(Args given, std::ostream& out, std::ostream& err)
{
    const std::vector<std::string> words = CommandWordFirst(given);  // "--port COM3 info"
    const Args args(words);
#ifdef CORVANE_CLI_LINK
    if (!args.empty() && (args[0] == "info" || args[0] == "upgrade"))
        return RunFirmwareLink(args, out, err);
#endif
    if (std::find_if(args.begin(), args.end(), [](const std::string& a) { return a == "-h" || a == "--help"; }) !=
        args.end()) {
        out << kUsage;
        return kExitOk;
    }
    if (args.size() == 3 && args[0] == "pack")
        return Pack(args[1], args[2], out, err);
    if (args.size() == 3 && args[0] == "unpack")
        return Unpack(args[1], args[2], out, err);
    err << kUsage;
    return kExitUsage;
}

}  // namespace corvane::cli
