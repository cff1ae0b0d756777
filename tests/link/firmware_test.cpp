// Firmware files and the packet plan: what goes on the wire for each file length and each
// sequence of acknowledgement control bytes, and which files are refused.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "core/firmware/firmware.h"
#include "platform/regular_file.h"

namespace corvane {
namespace {

using P = FirmwarePacket;
constexpr uint8_t AA = kPacketMark, L56 = kLastPacketMark, k40 = kPacketPlain, kB0 = kPacketAfterF0;

struct PlanCase {
    int fileLength;
    std::vector<uint8_t> controls;
    std::size_t count;
    std::vector<P> first;  // the first packets, in order
    P last;
};

TEST(PacketPlan, HeadersOffsetsAndTheLastMarkForEveryLength)
{
    const PlanCase cases[] = {
        // One image byte: one packet, marked as an ordinary one even though it is the last.
        {3, {}, 1, {{0, AA, k40, 0}}, {0, AA, k40, 0}},
        {4, {}, 1, {{0, AA, k40, 0}}, {0, AA, k40, 0}},
        // Length mod 256 of 1 or 2: the loop runs on the file length, an extra packet follows.
        {257, {}, 2, {{0, AA, k40, 0}}, {256, L56, k40, 1}},
        {258, {}, 2, {{0, AA, k40, 0}}, {256, L56, k40, 1}},
        {259, {}, 2, {{0, AA, k40, 0}}, {256, L56, k40, 1}},
        {260, {}, 2, {{0, AA, k40, 0}}, {256, L56, k40, 1}},
        // A whole number of packets ends with the packet that reaches the length: no packet of
        // zeros after it, and the last mark on it (254 mod 256 likewise).
        {256, {}, 1, {{0, AA, k40, 0}}, {0, AA, k40, 0}},
        {510, {}, 2, {{0, AA, k40, 0}}, {256, L56, k40, 1}},
        {512, {}, 2, {{0, AA, k40, 0}}, {256, L56, k40, 1}},
        {766, {}, 3, {{0, AA, k40, 0}, {256, AA, k40, 1}}, {512, L56, k40, 2}},
        {768, {}, 3, {{0, AA, k40, 0}, {256, AA, k40, 1}}, {512, L56, k40, 2}},
        {513, {}, 3, {{0, AA, k40, 0}, {256, AA, k40, 1}}, {512, L56, k40, 2}},
        {4098, {}, 17, {{0, AA, k40, 0}, {256, AA, k40, 1}}, {4096, L56, k40, 16}},
        // F0: the next header is B0 / 01; B0: the segment restarts at 0, 3840 bytes further on.
        {4098,
         {kAckControlF0, 0x00, kAckControlSkip},
         4,
         {{0, AA, k40, 0}, {256, AA, kB0, 1}, {512, AA, k40, 2}},
         {4608, L56, k40, 0}},
        {100000,
         {0x00, kAckControlF0, kAckControlF0, 0x00, kAckControlSkip, 0x00, 0x07},
         376,
         {{0, AA, k40, 0},
          {256, AA, k40, 1},
          {512, AA, kB0, 1},
          {768, AA, kB0, 1},
          {1024, AA, k40, 4},
          {1280 + 3840, AA, k40, 0},
          {5376, AA, k40, 1},
          {5632, AA, k40, 2}},
         {99840, L56, k40, 114}},
        // Without skips byte 10 counts every packet and wraps after 255.
        {100000, {}, 391, {}, {99840, L56, k40, 390 % 256}},
    };
    for (const PlanCase& c : cases) {
        SCOPED_TRACE(::testing::Message() << "file length " << c.fileLength << ", " << c.controls.size() << " controls");
        const std::vector<P> plan = PlanPackets(c.fileLength, c.controls);
        ASSERT_EQ(plan.size(), c.count);
        for (std::size_t i = 0; i < c.first.size(); ++i)
            EXPECT_EQ(plan[i], c.first[i]) << "packet " << i;
        EXPECT_EQ(plan.back(), c.last);
        for (std::size_t i = 0; i + 1 < plan.size(); ++i)
            EXPECT_EQ(plan[i].mark, AA) << "only the last packet is marked, packet " << i;
    }
}

TEST(PacketPlan, SegmentCounterWrapsAfter255)
{
    const std::vector<P> plan = PlanPackets(100000);
    for (int i : {254, 255, 256, 257, 300})
        EXPECT_EQ(plan[std::size_t(i)].number, uint8_t(i & 0xFF)) << "packet " << i;
}

TEST(PacketPlan, EndsPastTheFileLength)
{
    for (int length : {3, 256, 257, 4098, 100000}) {
        CPacketPlan plan(length);
        plan.First();
        while (plan.Next(0x00)) {
        }
        EXPECT_GE(plan.SendOffset(), length);
        EXPECT_LT(plan.SendOffset(), length + 256 + 1);
    }
}

TEST(PacketPlan, HeaderAndBlockBytes)
{
    // A file of 259 bytes: lead 0x10 0x11, image 0, 1, ..., 0xFF, 0x77.
    std::vector<uint8_t> file{0x10, 0x11};
    for (int i = 0; i < 256; ++i)
        file.push_back(uint8_t(i));
    file.push_back(0x77);

    Frame f{};
    f.fill(0x99);
    WritePacketHeader(f, {256, L56, kB0, 0x2A});
    const Frame want{0xA5, 0x5B, 0x20, 0x01, 0x56, 0x00, 0x00, 0x01, 0x01, 0xB0, 0x2A, 0x00, 0x00};
    EXPECT_EQ(f, want);

    struct Case {
        int offset;
        std::vector<uint8_t> head;  // block bytes 1..
        int dataBytes;              // bytes of the file in the block, zeros after
    } cases[] = {{0, {0, 1, 2, 3}, 256}, {256, {0x77, 0, 0}, 1}, {512, {0, 0}, 0}, {4352, {0}, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.offset);
        Block b;
        b.fill(0xEE);
        WritePacketBlock(b, file, {c.offset, AA, k40, 0});
        EXPECT_EQ(b[0], 0xEE) << "the sender's byte is left alone";
        EXPECT_TRUE(std::equal(c.head.begin(), c.head.end(), b.begin() + 1));
        for (int i = c.dataBytes; i < 256; ++i)
            ASSERT_EQ(b[std::size_t(i) + 1], 0x00) << "padding at " << i;
    }
}

// ---- files ----

class FirmwareFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/corvane-fw-test-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    std::string Write(const std::string& name, const std::vector<uint8_t>& bytes)
    {
        const std::string path = dir + "/" + name;
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        return path;
    }
    std::string dir;
};

TEST_F(FirmwareFiles, ScramblingDependsOnConstantAndLength)
{
    // Stored byte = image byte XOR constant XOR (length mod 256), the lead included.
    const std::vector<uint8_t> image{0x00, 0xFF, 0x5A};
    const auto file = PackFirmware(image);
    ASSERT_TRUE(file);
    const uint8_t key = kFirmwareScramble ^ 5;
    EXPECT_EQ(*file, (std::vector<uint8_t>{key, key, uint8_t(0x00 ^ key), uint8_t(0xFF ^ key), uint8_t(0x5A ^ key)}));

    // The same image in files of other lengths is stored differently.
    std::vector<uint8_t> longer(image);
    longer.push_back(0);
    EXPECT_NE((*PackFirmware(longer))[2], (*file)[2]);
}

TEST_F(FirmwareFiles, LoadingAcceptsOnlyRegularFilesWithAnImageUpToTheLimit)
{
    mkfifo((dir + "/fifo").c_str(), 0600);
    std::filesystem::create_directory(dir + "/folder");
    const std::vector<uint8_t> before{1, 2, 3};
    struct Case {
        std::string path;
        FileError error;
    } cases[] = {
        {Write("empty.fw", {}), FileError::NoImage},
        {Write("one.fw", {1}), FileError::NoImage},
        {Write("lead.fw", {1, 2}), FileError::NoImage},
        {Write("three.fw", {1, 2, 3}), FileError::None},
        {Write("max.fw", std::vector<uint8_t>(kFirmwareMaxFile, 0x42)), FileError::None},
        {Write("over.fw", std::vector<uint8_t>(kFirmwareMaxFile + 1, 0x42)), FileError::TooLarge},
        {dir + "/fifo", FileError::NotRegular},  // no writer: a blocking open would never return
        {dir + "/folder", FileError::NotRegular},
        {"/dev/zero", FileError::NotRegular},  // a device never ends
        {dir + "/missing.fw", FileError::CannotOpen},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        std::vector<uint8_t> out = before;
        EXPECT_EQ(LoadFirmwareFile(c.path, out), c.error);
        if (c.error != FileError::None)
            EXPECT_EQ(out, before) << "a refused file changes nothing";
        else
            EXPECT_EQ(out.size(), std::filesystem::file_size(c.path));
        const std::string text = FirmwareFileErrorText(c.error);
        EXPECT_EQ(text.empty(), c.error == FileError::None || c.error == FileError::CannotOpen);
    }
}

// A scene is saved so: the old file stays whole until the new one is, and no temporary is left.
TEST_F(FirmwareFiles, AtomicWriteReplacesTheFileOrLeavesIt)
{
    std::filesystem::create_directory(dir + "/folder");
    const std::vector<uint8_t> bytes{7, 8, 9};
    const struct {
        std::string path;
        std::string why;  // the start of the reason; empty: written
    } cases[] = {
        {dir + "/new.json", ""},
        {Write("old.json", {1, 2, 3, 4}), ""},
        {dir + "/folder", dir + "/folder: "},                       // the rename fails
        {dir + "/missing/x.json", dir + "/missing/x.json.part-"},  // the temporary cannot be made
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        std::string why;
        EXPECT_EQ(WriteFileAtomically(c.path, bytes, why), c.why.empty());
        EXPECT_EQ(why.rfind(c.why, 0), 0u) << why;
        EXPECT_EQ(std::filesystem::is_directory(c.path), c.path == dir + "/folder");
        if (c.why.empty()) {
            EXPECT_EQ(std::filesystem::file_size(c.path), bytes.size());
        }
        EXPECT_FALSE(std::filesystem::exists(c.path + ".part-" + std::to_string(getpid())));
    }
}

TEST_F(FirmwareFiles, PackAndLoadGiveTheImageBack)
{
    for (std::size_t n : {std::size_t(1), std::size_t(254), std::size_t(255), std::size_t(256), std::size_t(4097),
                          kFirmwareMaxImage}) {
        SCOPED_TRACE(n);
        std::vector<uint8_t> image(n);
        for (std::size_t i = 0; i < n; ++i)
            image[i] = uint8_t(i * 7 + n);
        const auto file = PackFirmware(image);
        ASSERT_TRUE(file);
        std::vector<uint8_t> loaded;
        ASSERT_EQ(LoadFirmwareFile(Write("p.fw", *file), loaded), FileError::None);
        EXPECT_TRUE(std::equal(image.begin(), image.end(), loaded.begin() + 2));
        EXPECT_EQ(loaded.size(), n + 2);
    }
    EXPECT_FALSE(PackFirmware({}));
    EXPECT_FALSE(PackFirmware(std::vector<uint8_t>(kFirmwareMaxImage + 1)));
}

}  // namespace
}  // namespace corvane
