// corvanectl firmware pack and unpack: the round trip for images of many sizes, the files
// refused as the page refuses them, and the command line's exit statuses.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>

#include "cli/commands.h"
#include "core/firmware/firmware.h"

namespace corvane::cli {
namespace {

using Bytes = std::vector<uint8_t>;

class Corvanectl : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/corvanectl-test-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    std::string Path(const std::string& name) const { return dir + "/" + name; }
    std::string Write(const std::string& name, const Bytes& bytes)
    {
        std::ofstream(Path(name), std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        return Path(name);
    }
    Bytes Read(const std::string& path) const
    {
        std::ifstream f(path, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(f), {});
    }
    int Run(std::vector<std::string> args)
    {
        out.str({});
        err.str({});
        return RunCommandLine(args, out, err);
    }
    std::string dir;
    std::ostringstream out, err;
};

TEST_F(Corvanectl, PackThenUnpackGivesTheImageBack)
{
    std::mt19937 rng(11);
    for (std::size_t n : {std::size_t(1), std::size_t(253), std::size_t(254), std::size_t(255), std::size_t(256),
                          std::size_t(40000), kFirmwareMaxImage}) {
        SCOPED_TRACE(n);
        Bytes image(n);
        for (auto& b : image)
            b = uint8_t(rng());
        const std::string in = Write("image.bin", image);
        ASSERT_EQ(Run({"firmware", "pack", in, Path("x.fw")}), kExitOk) << err.str();
        const Bytes file = Read(Path("x.fw"));
        ASSERT_EQ(file.size(), n + 2);
        // The stored bytes follow the documented rule: lead 00 00, then the image, all XOR
        // the constant and the length's low byte.
        const uint8_t key = kFirmwareScramble ^ uint8_t(file.size());
        EXPECT_EQ(file[0], key);
        EXPECT_EQ(file[1], key);
        EXPECT_EQ(file[2], image[0] ^ key);
        ASSERT_EQ(Run({"firmware", "unpack", Path("x.fw"), Path("back.bin")}), kExitOk) << err.str();
        EXPECT_EQ(Read(Path("back.bin")), image);
    }
}

TEST_F(Corvanectl, RefusesWhatThePageRefuses)
{
    mkfifo(Path("pipe").c_str(), 0600);
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* says;
    } cases[] = {
        {{"firmware", "pack", Write("empty", {}), Path("o.fw")}, kExitFailed, "empty image"},
        {{"firmware", "pack", Write("big", Bytes(kFirmwareMaxImage + 1)), Path("o.fw")}, kExitFailed, "too large"},
        {{"firmware", "pack", Path("pipe"), Path("o.fw")}, kExitFailed, "not a regular file"},
        {{"firmware", "pack", Path("missing"), Path("o.fw")}, kExitFailed, "No such file"},
        {{"firmware", "unpack", Write("two.fw", {1, 2}), Path("o.bin")}, kExitFailed, "without image"},
        {{"firmware", "unpack", Write("huge.fw", Bytes(kFirmwareMaxFile + 1)), Path("o.bin")}, kExitFailed, "too large"},
        {{"firmware", "unpack", "/dev/zero", Path("o.bin")}, kExitFailed, "not a regular file"},
        {{"firmware", "pack", Write("ok", {1}), Path("no/such/dir.fw")}, kExitFailed, "No such file"},
        {{"firmware", "pack", "only-one"}, kExitUsage, "Usage"},
        {{"firmware", "squash", "a", "b"}, kExitUsage, "Usage"},
        {{"bogus"}, kExitUsage, "unknown command"},
        {{}, kExitUsage, "Usage"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.empty() ? "" : c.args.back());
        EXPECT_EQ(Run(c.args), c.status);
        EXPECT_NE(err.str().find(c.says), std::string::npos) << err.str();
        EXPECT_FALSE(std::filesystem::exists(Path("o.fw")));
        EXPECT_FALSE(std::filesystem::exists(Path("o.bin")));
    }
}

TEST_F(Corvanectl, ProgramExitStatus)
{
    auto run = [&](std::vector<std::string> args) {
        const pid_t pid = fork();
        if (pid == 0) {
            std::vector<char*> argv{const_cast<char*>(CORVANECTL_PATH)};
            for (auto& a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            freopen("/dev/null", "w", stdout);
            freopen("/dev/null", "w", stderr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    const std::string image = Write("i", {1, 2, 3});
    EXPECT_EQ(run({"firmware", "pack", image, Path("p.fw")}), 0);
    EXPECT_EQ(run({"firmware", "unpack", Path("p.fw"), Path("q")}), 0);
    EXPECT_EQ(Read(Path("q")), (Bytes{1, 2, 3}));
    EXPECT_EQ(run({"firmware", "unpack", Path("missing.fw"), Path("q")}), 1);
    EXPECT_EQ(run({"bogus"}), 2);
    EXPECT_EQ(run({"--help"}), 0);
}

}  // namespace
}  // namespace corvane::cli
