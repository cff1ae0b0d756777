// The EDID file check: what it takes, what it refuses and why, and that no path can make it
// block or read without limit.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "core/edid/edid_check.h"
#include "tests/support/edid_builder.h"

namespace corvane::test {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Whole(const EdidImage& e) { return Bytes(e.begin(), e.end()); }
Bytes Base(const EdidImage& e) { return Bytes(e.begin(), e.begin() + 128); }

// A valid one-block EDID whose extension count says count (base sum kept at 0).
Bytes BaseWithCount(uint8_t count)
{
    EdidImage e = BuildEdid({.cta = false});
    e[126] = count;
    SealEdidBlock(e, 0);
    return Base(e);
}

TEST(EdidCheck, TableOfContents)
{
    const EdidImage two = BuildEdid();
    Bytes badBase = Whole(two);
    badBase[20] ^= 0x01;  // base sum 1 off
    Bytes badExtension = Whole(two);
    badExtension[200] += 3;
    Bytes badHeader = Whole(two);
    badHeader[7] = 0x01;
    Bytes zeroHeader(256, 0);
    Bytes count2 = BaseWithCount(2);
    count2.resize(256, 0);
    Bytes countFF = BaseWithCount(0xFF);
    Bytes oneBlockNoSum = BaseWithCount(0);
    oneBlockNoSum[127] ^= 0x80;
    Bytes countZeroAnySecondHalf = BaseWithCount(0);
    for (int i = 0; i < 128; ++i)
        countZeroAnySecondHalf.push_back(static_cast<uint8_t>(i * 7 + 1));

    const struct Case {
        const char* name;
        Bytes content;
        EdidFault fault;
        uint8_t sum;
    } cases[] = {
        {"empty", {}, EdidFault::Size, 0},
        {"1 byte", Bytes(1, 0), EdidFault::Size, 0},
        {"127 bytes", Bytes(two.begin(), two.begin() + 127), EdidFault::Size, 0},
        {"129 bytes", Bytes(two.begin(), two.begin() + 129), EdidFault::Size, 0},
        {"255 bytes", Bytes(two.begin(), two.end() - 1), EdidFault::Size, 0},
        {"257 bytes", [&] { Bytes b = Whole(two); b.push_back(0); return b; }(), EdidFault::Size, 0},
        {"two blocks", Whole(two), EdidFault::None, 0},
        {"one block, count 0", BaseWithCount(0), EdidFault::None, 0},
        {"one block, count 1", BaseWithCount(1), EdidFault::None, 0},
        {"two blocks, count 0, any second half", countZeroAnySecondHalf, EdidFault::None, 0},
        {"wrong last header byte", badHeader, EdidFault::Header, 0},
        {"all zero", zeroHeader, EdidFault::Header, 0},
        {"count 2", count2, EdidFault::ExtensionCount, 0},
        {"count 255", countFF, EdidFault::ExtensionCount, 0},
        {"bad base sum, count 1", badBase, EdidFault::BaseChecksum, 0x01},
        {"bad base sum, count 0", oneBlockNoSum, EdidFault::BaseChecksum, 0x80},
        {"bad extension sum", badExtension, EdidFault::ExtensionChecksum, 0x03},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const EdidCheck check = CheckEdid(c.content);
        EXPECT_EQ(check.fault, c.fault) << DescribeEdidCheck(check);
        EXPECT_EQ(check.size, c.content.size());
        EXPECT_EQ(check.sum, c.sum);
        if (check.Ok()) {
            // What is sent: the content, then zeros up to 256.
            Bytes expected = c.content;
            expected.resize(256, 0);
            EXPECT_EQ(Bytes(check.edid.begin(), check.edid.end()), expected);
        }
    }
}

TEST(EdidCheck, ReasonsNameTheFigures)
{
    const struct {
        Bytes content;
        const char* reason;
    } cases[] = {
        {Bytes(3, 0), "size 3 bytes, expected 128 or 256"},
        {Bytes(256, 0), "header 00 00 00 00 00 00 00 00, expected 00 FF FF FF FF FF FF 00"},
        {[] { Bytes b = BaseWithCount(2); b.resize(256); return b; }(), "extension count (byte 126) 2, expected 0 or 1"},
        {[] { Bytes b = BaseWithCount(0); b[127] += 0x3C; return b; }(), "bytes 0-127 sum to 0x3C, expected 0x00"},
        {[] { Bytes b = Whole(BuildEdid()); b[255] -= 1; return b; }(), "bytes 128-255 sum to 0xFF, expected 0x00"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DescribeEdidCheck(CheckEdid(c.content)), c.reason);
}

class EdidFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/corvane-edid-test-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override
    {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
    std::string Write(const std::string& name, const Bytes& content)
    {
        const std::string path = dir + "/" + name;
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(content.data()),
                                                    static_cast<std::streamsize>(content.size()));
        return path;
    }
    // The check in a child process, so a check that blocks fails the test instead of hanging it.
    EdidCheck CheckWithin5s(const std::string& path)
    {
        int fds[2];
        EXPECT_EQ(pipe(fds), 0);
        const pid_t pid = fork();
        if (pid == 0) {
            const EdidCheck c = CheckEdidFile(path);
            const int out[3] = {static_cast<int>(c.fault), static_cast<int>(c.fileType), c.osError};
            _exit(write(fds[1], out, sizeof out) == sizeof out ? 0 : 1);
        }
        close(fds[1]);
        int out[3] = {-1, -1, -1};
        bool ended = false;
        for (int i = 0; i < 500 && !ended; ++i) {
            int status = 0;
            ended = waitpid(pid, &status, WNOHANG) == pid;
            if (!ended)
                usleep(10000);
        }
        if (!ended) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
            ADD_FAILURE() << "checking " << path << " blocked";
        }
        EXPECT_EQ(read(fds[0], out, sizeof out), ended ? static_cast<ssize_t>(sizeof out) : 0);
        close(fds[0]);
        EdidCheck c;
        c.fault = static_cast<EdidFault>(out[0]);
        c.fileType = static_cast<FileType>(out[1]);
        c.osError = out[2];
        return c;
    }

    std::string dir;
};

TEST_F(EdidFile, ReadsRegularFilesOnly)
{
    const Bytes good = Whole(BuildEdid());
    const std::string file = Write("monitor.bin", good);
    ASSERT_EQ(symlink(file.c_str(), (dir + "/link.BIN").c_str()), 0);
    const std::string fifo = dir + "/fifo.bin";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::filesystem::create_directory(dir + "/folder.bin");

    const struct {
        std::string path;
        EdidFault fault;
        FileType type;
    } cases[] = {
        {file, EdidFault::None, FileType::Regular},
        {dir + "/link.BIN", EdidFault::None, FileType::Regular},
        {fifo, EdidFault::NotRegularFile, FileType::Fifo},  // nobody writes: opening it would wait
        {dir + "/folder.bin", EdidFault::NotRegularFile, FileType::Directory},
        {"/dev/zero", EdidFault::NotRegularFile, FileType::CharacterDevice},  // endless if read
        {"/dev/null", EdidFault::NotRegularFile, FileType::CharacterDevice},
        {dir + "/missing.bin", EdidFault::CannotOpen, FileType::Regular},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const EdidCheck check = CheckWithin5s(c.path);
        EXPECT_EQ(check.fault, c.fault);
        EXPECT_EQ(check.fileType, c.type);
    }
    EXPECT_EQ(DescribeEdidCheck(CheckEdidFile(fifo)), "not a regular file but a FIFO");
    EXPECT_EQ(DescribeEdidCheck(CheckEdidFile(dir)), "not a regular file but a directory");
    EXPECT_EQ(DescribeEdidCheck(CheckEdidFile(dir + "/missing.bin")), "cannot open: No such file or directory");

    const EdidCheck read = CheckEdidFile(file);
    ASSERT_TRUE(read.Ok());
    EXPECT_EQ(Bytes(read.edid.begin(), read.edid.end()), good);
}

TEST_F(EdidFile, LongFilesAreRefusedWithTheirSize)
{
    const struct {
        std::size_t size;
        const char* reason;
    } cases[] = {
        {257, "size 257 bytes, expected 128 or 256"},
        {100000, "size 100000 bytes, expected 128 or 256"},
        {0, "size 0 bytes, expected 128 or 256"},
    };
    for (const auto& c : cases) {
        Bytes content = Whole(BuildEdid());
        content.resize(c.size, 0xAB);
        const EdidCheck check = CheckEdidFile(Write("big.bin", content));
        EXPECT_EQ(check.fault, EdidFault::Size);
        EXPECT_EQ(DescribeEdidCheck(check), c.reason);
    }
    // A file that reports no length but has more to read (the kernel's own files).
    if (std::filesystem::exists("/proc/self/maps")) {
        const EdidCheck check = CheckEdidFile("/proc/self/maps");
        EXPECT_EQ(check.fault, EdidFault::Size);
        EXPECT_EQ(DescribeEdidCheck(check), "size more than 256 bytes, expected 128 or 256");
    }
}

}  // namespace
}  // namespace corvane::test
