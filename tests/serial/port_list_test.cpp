#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/sysmacros.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>

#include "platform/port_lock.h"
#include "transport/port_list.h"
#include "transport/serial_link.h"
#include "tests/serial/serial_support.h"

namespace corvane {
namespace {

using namespace corvane::testing;
using Texts = std::vector<std::string>;

TEST(PortDigits, ParseTable)
{
    const std::vector<std::pair<std::string, int>> cases = {
        {"", 0},    {"7", 7},     {"12", 12}, {"255", 255}, {"300", 44}, {"256", 0},
        {"1234", 0}, {"1x", 10},  {"x1", 1},  {"abc", 0},   {"099", 99}, {"9 9", 141},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(ParsePortDigits(text), expected) << '"' << text << '"';
}

TEST(PortDigits, DigitTextOfAFriendlyName)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"USB-Serial Controller (COM12)", "12"},
        {"Communications Port (COM1)", "1"},
        {"pts/3 (COM255)", "255"},
        {"(COM7)", "7"},
        {"COM4", ""},          // no "(COM": first three characters dropped, then no ")"
        {"COM4)", "4"},
        {"Broken (COM5", ""},  // no closing parenthesis
        {"ab", ""},
        {"", ""},
    };
    for (const auto& [name, digits] : cases)
        EXPECT_EQ(PortDigitText(name), digits) << name;
}

class PortComboTest : public ::testing::Test {
protected:
    PortComboTest() { ResetPortListState(); }
    ~PortComboTest() override { ResetPortListState(); }

    // One refresh whose enumeration found these ports, in this order.
    void Refresh(const std::vector<std::string>& friendlyNames)
    {
        std::vector<SPortInfo> ports;
        for (const auto& name : friendlyNames)
            ports.push_back(SPortInfo{"", "", name, false, ""});
        ApplyPortList(ports, combo);
    }
    void RefreshNumbers(const std::vector<int>& numbers)
    {
        std::vector<std::string> names;
        for (int n : numbers)
            names.push_back("Port (COM" + std::to_string(n) + ")");
        Refresh(names);
    }
    void Select(const std::string& text)
    {
        const auto& items = combo.Items();
        const auto it = std::find(items.begin(), items.end(), text);
        ASSERT_NE(it, items.end()) << text;
        combo.SetCurSel(int(it - items.begin()));
    }

    CFakeCombo combo;
};

TEST_F(PortComboTest, RefreshSequences)
{
    struct SStep {
        std::vector<int> found;    // enumeration order
        std::string selectBefore;  // the operator's choice before the refresh ("" = none)
        Texts items;               // the list afterwards
        std::string selected;      // its selected text afterwards
        bool touched;              // whether the list was changed at all
    };
    struct SCase {
        const char* name;
        std::vector<SStep> steps;
    };
    const std::vector<SCase> cases = {
        {"no ports at all stays empty",
         {{{}, "", {}, "", true}, {{}, "", {}, "", true}}},
        {"first fill is sorted and selects the lowest",
         {{{5, 3, 1}, "", {"COM1", "COM3", "COM5"}, "COM1", true}}},
        {"an unchanged enumeration leaves the list alone",
         {{{1, 3}, "", {"COM1", "COM3"}, "COM1", true}, {{1, 3}, "COM3", {"COM1", "COM3"}, "COM3", false}}},
        {"an adapter plugged in keeps the selection",
         {{{1, 3}, "", {"COM1", "COM3"}, "COM1", true},
          {{1, 3, 36}, "COM3", {"COM1", "COM3", "COM36"}, "COM3", true},
          {{36, 2, 1, 3}, "", {"COM1", "COM2", "COM3", "COM36"}, "COM3", true}}},
        {"another port unplugged keeps the selection",
         {{{1, 3, 5}, "", {"COM1", "COM3", "COM5"}, "COM1", true},
          {{3, 5}, "COM3", {"COM3", "COM5"}, "COM3", true}}},
        {"the selected port unplugged selects the lowest",
         {{{1, 3, 36}, "", {"COM1", "COM3", "COM36"}, "COM1", true},
          {{1, 3}, "COM36", {"COM1", "COM3"}, "COM1", true}}},
        {"a reordered enumeration rebuilds every time, keeping the selection",
         {{{5, 3}, "", {"COM3", "COM5"}, "COM3", true},
          {{5, 3}, "COM5", {"COM3", "COM5"}, "COM5", true},
          {{5, 3}, "", {"COM3", "COM5"}, "COM5", true}}},
        {"emptied and refilled",
         {{{1, 3}, "", {"COM1", "COM3"}, "COM1", true}, {{}, "COM3", {}, "", true}, {{3}, "", {"COM3"}, "COM3", true}}},
    };
    for (const SCase& c : cases) {
        SCOPED_TRACE(c.name);
        ResetPortListState();
        combo = CFakeCombo();
        int stepNo = 0;
        for (const SStep& s : c.steps) {
            SCOPED_TRACE("step " + std::to_string(stepNo++));
            if (!s.selectBefore.empty())
                Select(s.selectBefore);
            const int before = combo.changes;
            const int deletedBefore = combo.selectedDeleted;
            const std::string chosen = combo.GetText();
            RefreshNumbers(s.found);
            EXPECT_EQ(combo.Items(), s.items);
            EXPECT_EQ(combo.GetText(), s.selected);
            EXPECT_EQ(combo.changes > before, s.touched);
            // The operator's item itself is kept (an open drop-down is not disturbed).
            if (!chosen.empty() && chosen == s.selected) {
                EXPECT_EQ(combo.selectedDeleted, deletedBefore);
            }
            EXPECT_EQ(g_nPrevPortCount, int(s.found.size()));
        }
    }
}

TEST_F(PortComboTest, NumbersComeFromTheFriendlyNamesWithEightBitWrap)
{
    Refresh({"A (COM7)", "B (COM12)", "C (COM255)", "D (COM300)", "E (COM1234)", "F (COM1x)", "no number"});
    EXPECT_EQ(combo.Items(), (Texts{"COM0", "COM0", "COM7", "COM10", "COM12", "COM44", "COM255"}));
    EXPECT_EQ(g_PortDigitTexts[3], "300");
    EXPECT_EQ(g_PortDigitTexts[5], "1x");
    EXPECT_EQ(g_PortDigitTexts[6], "");
    // The remembered list is the sorted one.
    EXPECT_EQ(std::vector<int>(g_PrevPortNumbers.begin(), g_PrevPortNumbers.begin() + 7),
              (std::vector<int>{0, 0, 7, 10, 12, 44, 255}));
}

// A fake machine with ports of every kind, backed by pseudo-terminals.
class PortEnumerationTest : public ::testing::Test {
protected:
    PortEnumerationTest()
    {
        ResetPortListState();
        ports.Tty("ttyUSB2", usb.SlavePath(), "pl2303", "USB-Serial Controller");  // COM35
        ports.Tty("ttyACM1", acm.SlavePath(), "cdc_acm");                           // COM98
        ports.Tty("ttyAMA0", ama.SlavePath());                                      // COM161
        ports.Tty("ttyS1", uartless.SlavePath(), "serial8250");                     // COM2: no UART
        ports.Tty("ttyUSB0", shadowed.SlavePath(), "ftdi_sio", "FT232R");           // COM33
        ports.Tty("ttyUSB1", "");                                                   // no node
        ports.Tty("ttyUSB64", usb.SlavePath(), "pl2303");                           // beyond the table
        ports.Root().MakeDir("sys/class/tty/tty1");                                 // a virtual terminal
        ports.Root().Link("dev/tty1", other.SlavePath());
        ports.Alias(33, aliased.SlavePath());  // takes COM33 from ttyUSB0
        ports.Alias(5, emulator.SlavePath());
        ports.Alias(9, ports.Root() / "gone");
        ports.Alias(98, ports.Root() / "gone");  // dangling: COM98 stays ttyACM1
        for (const char* bad : {"com0", "com256", "com07", "comx", "COM6", "com"})
            ports.Root().Link(std::string("ports/") + bad, emulator.SlavePath());
    }
    ~PortEnumerationTest() override { ResetPortListState(); }

    std::vector<SPortInfo> List()
    {
        std::vector<SPortInfo> list;
        auto error = ListSerialPorts(list, ports.Paths());
        EXPECT_FALSE(error) << *error;
        return list;
    }
    static Texts Names(const std::vector<SPortInfo>& list)
    {
        Texts out;
        for (const auto& p : list)
            out.push_back(p.portName);
        return out;
    }
    static std::string Node(const CPty& pty) { return pty.SlavePath().substr(5); }

    CPty usb, acm, ama, uartless, shadowed, aliased, emulator, other;
    CFakePorts ports;
};

TEST_F(PortEnumerationTest, ListsTableNodesAndAliasesWithTheirNames)
{
    const auto list = List();
    ASSERT_EQ(Names(list), (Texts{"COM5", "COM33", "COM35", "COM98", "COM161"}));

    struct SExpect {
        std::string devicePath, friendlyName, description;
        bool usb;
    };
    const std::vector<SExpect> expected = {
        {ports.Paths().portDir + "/com5", Node(emulator) + " (COM5)", Node(emulator), false},
        {ports.Paths().portDir + "/com33", Node(aliased) + " (COM33)", Node(aliased), false},
        {ports.Paths().devRoot + "/ttyUSB2", "USB-Serial Controller (COM35)", "USB-Serial Controller", true},
        {ports.Paths().devRoot + "/ttyACM1", "cdc_acm (COM98)", "cdc_acm", false},
        {ports.Paths().devRoot + "/ttyAMA0", "ttyAMA0 (COM161)", "ttyAMA0", false},
    };
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(list[i].portName);
        EXPECT_EQ(list[i].devicePath, expected[i].devicePath);
        EXPECT_EQ(list[i].friendlyName, expected[i].friendlyName);
        EXPECT_EQ(list[i].description, expected[i].description);
        EXPECT_EQ(list[i].usbDevice, expected[i].usb);
    }
}

// The number the list shows is the number Connect opens: it must reach the very node listed.
TEST_F(PortEnumerationTest, EveryListedNumberOpensTheNodeListed)
{
    CFakeCombo combo;
    ASSERT_TRUE(RefreshPortList(combo, ports.Paths()));
    const auto list = List();
    ASSERT_EQ(combo.Items(), Names(list));
    for (const SPortInfo& port : list) {
        SCOPED_TRACE(port.portName);
        CSerialLink link(ports.Paths());
        link.SetLog([](const std::string&) {});
        ASSERT_TRUE(link.OpenPort(nullptr, ParsePortDigits(port.portName.substr(3))));
        EXPECT_EQ(ResolveNode(link.DevicePath()), ResolveNode(port.devicePath));
    }
}

// A USB product string is the adapter's to choose: whatever it says, the adapter keeps its
// own number and no other port's.
TEST_F(PortEnumerationTest, ProductStringsCannotForgeThePortNumber)
{
    const std::vector<std::string> products = {
        "Adapter (COM7)",   "Adapter (COM5)", "(COM98) Adapter", "Adapter (COM5",
        "Adapter (COM)",    "(COM1)(COM2)",   "Adapter ((COM161))",
    };
    for (const std::string& product : products) {
        SCOPED_TRACE(product);
        ports.Root().WriteFile("sys/devices/usb1/1-ttyUSB2/product", product + "\n");
        ResetPortListState();
        CFakeCombo combo;
        ASSERT_TRUE(RefreshPortList(combo, ports.Paths()));
        EXPECT_EQ(combo.Items(), (Texts{"COM5", "COM33", "COM35", "COM98", "COM161"}));
        EXPECT_EQ(g_PortDigitTexts[2], "35");
        const auto list = List();
        ASSERT_EQ(list.size(), 5u);
        EXPECT_EQ(list[2].devicePath, ports.Paths().devRoot + "/ttyUSB2");
        EXPECT_EQ(list[2].friendlyName, list[2].description + " (COM35)");
    }
}

TEST_F(PortEnumerationTest, ConsolesAndLockedPortsAreLeftOut)
{
    int emulatorLock = -1;
    struct stat st {};
    ASSERT_EQ(stat(emulator.SlavePath().c_str(), &st), 0);
    std::string lockName = Node(ama);
    std::replace(lockName.begin(), lockName.end(), '/', '_');

    struct SCase {
        const char* what;
        std::function<void()> arrange;
        Texts listed;
    };
    const std::vector<SCase> cases = {
        {"console by name", [&] { ports.Consoles("ttyACM1              -W- (EC  p a)    166:1\n"); },
         {"COM5", "COM33", "COM35", "COM161"}},
        {"console by device number",
         [&] {
             ports.Consoles("ttyS0 -W- (EC p a) " + std::to_string(major(st.st_rdev)) + ":" +
                            std::to_string(minor(st.st_rdev)) + "\n");
         },
         {"COM33", "COM35", "COM98", "COM161"}},
        {"live lock file by table name", [&] { ports.LockFile("ttyUSB2", std::to_string(getpid()) + "\n"); },
         {"COM5", "COM33", "COM98", "COM161"}},
        {"live lock file by real node", [&] { ports.LockFile(lockName, "  " + std::to_string(getpid()) + "\n"); },
         {"COM5", "COM33", "COM35", "COM98"}},
        {"stale lock file", [&] { ports.LockFile("ttyUSB2", "999999999\n"); },
         {"COM5", "COM33", "COM35", "COM98", "COM161"}},
        // An emulator's link: its own lock beside it says whether the emulator still runs.
        {"a killed emulator's link", [&] { ports.Root().WriteFile("ports/com5.lock", "999999999\n"); },
         {"COM33", "COM35", "COM98", "COM161"}},
        {"a running emulator's link", [&] { emulatorLock = TakePortLock(ports.Paths().portDir + "/com5"); },
         {"COM5", "COM33", "COM35", "COM98", "COM161"}},
    };
    for (const SCase& c : cases) {
        ports.Consoles("");
        ports.Root().Remove("lock/LCK..ttyUSB2");
        ports.Root().Remove("lock/LCK.." + lockName);
        ports.Root().Remove("ports/com5.lock");
        c.arrange();
        EXPECT_EQ(Names(List()), c.listed) << c.what;
        if (emulatorLock >= 0)
            close(std::exchange(emulatorLock, -1));
    }
}

TEST_F(PortEnumerationTest, PortHeldByThisProcessIsLeftOutUntilReleased)
{
    auto link = std::make_unique<CSerialLink>(ports.Paths());
    link->SetLog([](const std::string&) {});
    ASSERT_TRUE(link->OpenPort(nullptr, 35));
    EXPECT_EQ(Names(List()), (Texts{"COM5", "COM33", "COM98", "COM161"}));
    link.reset();
    EXPECT_EQ(Names(List()), (Texts{"COM5", "COM33", "COM35", "COM98", "COM161"}));
}

TEST_F(PortEnumerationTest, PortHeldByAnotherProcessIsLeftOutUntilReleased)
{
    int ready[2], release[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(release), 0);
    const std::string path = ports.Paths().devRoot + "/ttyACM1";
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        const char ok = (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0) ? 'y' : 'n';
        if (write(ready[1], &ok, 1) != 1)
            _exit(1);
        char c;
        if (read(release[0], &c, 1) < 0)
            _exit(1);
        _exit(0);
    }
    char ok = 0;
    ASSERT_EQ(read(ready[0], &ok, 1), 1);
    ASSERT_EQ(ok, 'y');
    EXPECT_EQ(Names(List()), (Texts{"COM5", "COM33", "COM35", "COM161"}));

    ASSERT_EQ(write(release[1], "x", 1), 1);
    int status = 0;
    waitpid(child, &status, 0);
    for (int fd : {ready[0], ready[1], release[0], release[1]})
        close(fd);
    EXPECT_EQ(Names(List()), (Texts{"COM5", "COM33", "COM35", "COM98", "COM161"}));
}

TEST_F(PortEnumerationTest, TestOpenClearsHangUpOnClose)
{
    termios t = emulator.Settings();
    t.c_cflag |= HUPCL;
    ASSERT_EQ(tcsetattr(emulator.Master(), TCSANOW, &t), 0);
    List();
    EXPECT_FALSE(emulator.Settings().c_cflag & HUPCL);
}

TEST_F(PortEnumerationTest, RefreshShowsPortsAndKeepsTheChoiceWhileAnotherComesAndGoes)
{
    CFakeCombo combo;
    ASSERT_TRUE(RefreshPortList(combo, ports.Paths()));
    EXPECT_EQ(combo.Items(), (Texts{"COM5", "COM33", "COM35", "COM98", "COM161"}));
    combo.SetCurSel(3);

    ports.RemoveAlias(5);
    ASSERT_TRUE(RefreshPortList(combo, ports.Paths()));
    EXPECT_EQ(combo.Items(), (Texts{"COM33", "COM35", "COM98", "COM161"}));
    EXPECT_EQ(combo.GetText(), "COM98");

    const int changes = combo.changes;
    ASSERT_TRUE(RefreshPortList(combo, ports.Paths()));
    EXPECT_EQ(combo.changes, changes);
}

TEST_F(PortEnumerationTest, ListingErrorKeepsTheListAndIsReportedOnce)
{
    CFakeCombo combo;
    Texts errors;
    auto onError = [&](const std::string& e) { errors.push_back(e); };
    ASSERT_TRUE(RefreshPortList(combo, ports.Paths(), onError));
    const Texts shown = combo.Items();
    const int changes = combo.changes;

    SPortPaths broken = ports.Paths();
    broken.sysRoot = ports.Root() / "brokensys";
    ports.Root().WriteFile("brokensys/class/tty", "not a directory");
    for (int i = 0; i < 3; ++i)
        EXPECT_FALSE(RefreshPortList(combo, broken, onError));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("class/tty"), std::string::npos) << errors[0];
    EXPECT_EQ(combo.Items(), shown);
    EXPECT_EQ(combo.changes, changes);

    ASSERT_TRUE(RefreshPortList(combo, ports.Paths(), onError));
    EXPECT_FALSE(RefreshPortList(combo, broken, onError));
    EXPECT_EQ(errors.size(), 2u);  // a new failure after a success is reported again
}

TEST_F(PortEnumerationTest, PortThisUserMayNotOpenIsNamedOnceWithTheHint)
{
    // The emulator's port becomes one this user may not open: for root, by running the listing
    // as nobody (no pseudo-terminal is theirs); otherwise by taking our own rights away.
    const bool root = geteuid() == 0;
    if (!root) {
        ASSERT_EQ(chmod(emulator.SlavePath().c_str(), 0), 0);
    }
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(out[0]);
        if (root && (chmod(ports.Root().Path().c_str(), 0755) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
            _exit(77);
        std::string report;
        std::vector<SPortInfo> list, denied;
        if (ListSerialPorts(list, ports.Paths(), &denied))
            _exit(2);
        for (const auto& p : denied)
            report += "denied " + p.portName + "\n";
        for (const auto& p : list)
            report += "listed " + p.portName + "\n";
        CFakeCombo combo;
        for (int i = 0; i < 3; ++i)
            RefreshPortList(combo, ports.Paths(), [&](const std::string& e) { report += "said " + e + "\n"; });
        if (write(out[1], report.data(), report.size()) != ssize_t(report.size()))
            _exit(3);
        _exit(0);
    }
    close(out[1]);
    std::string report;
    char buf[4096];
    for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;)
        report.append(buf, std::size_t(n));
    close(out[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (!root)
        chmod(emulator.SlavePath().c_str(), 0620);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77)
        GTEST_SKIP() << "cannot run the listing as another user here";
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << report;

    EXPECT_NE(report.find("denied COM5\n"), std::string::npos) << report;
    EXPECT_EQ(report.find("listed COM5\n"), std::string::npos) << report;
    // Named once in three refreshes, with what to do about it.
    const std::string said = "said COM5 (" + ports.Paths().portDir + "/com5) cannot be opened: permission denied; ";
    const auto at = report.find(said);
    ASSERT_NE(at, std::string::npos) << report;
    EXPECT_EQ(report.find(said, at + 1), std::string::npos) << report;
    EXPECT_NE(report.find("dialout", at), std::string::npos) << report;
}

TEST(PortNumbers, TableNodesAndAliases)
{
    const std::vector<std::pair<std::string, unsigned>> cases = {
        {"ttyS0", 1},     {"ttyS31", 32},   {"ttyS32", 0},    {"ttyUSB0", 33}, {"ttyUSB63", 96},
        {"ttyACM0", 97},  {"ttyACM63", 160}, {"ttyAMA15", 176}, {"rfcomm0", 177}, {"rfcomm15", 192},
        {"rfcomm16", 0},  {"ttyS01", 0},    {"ttyUSB", 0},    {"tty1", 0},      {"pts/3", 0},
    };
    for (const auto& [name, n] : cases) {
        EXPECT_EQ(ComNumberForNodeName(name), n) << name;
        if (n) {
            EXPECT_EQ(NodeNameForComNumber(n), name);
        }
    }
    EXPECT_EQ(NodeNameForComNumber(193), "");

    CFakePorts ports;
    ports.Alias(33, "/dev/null");
    ports.Alias(35, ports.Root() / "gone");  // dangling: hides nothing
    EXPECT_EQ(DevicePathForCom(33, ports.Paths()), ports.Paths().portDir + "/com33");
    EXPECT_EQ(DevicePathForCom(34, ports.Paths()), ports.Paths().devRoot + "/ttyUSB1");
    EXPECT_EQ(DevicePathForCom(35, ports.Paths()), ports.Paths().devRoot + "/ttyUSB2");
    EXPECT_EQ(DevicePathForCom(200, ports.Paths()), "");
}

// Without CORVANE_PORT_DIR and XDG_RUNTIME_DIR the folder lies in a place every user may write
// to: it is used only when it is this user's own and closed to others.
TEST(PortDirectory, FallbackFolderOnlyWhenItIsOurs)
{
    struct Env {  // both variables unset while the test runs
        std::string saved[2];
        bool had[2] = {};
        const char* names[2] = {"CORVANE_PORT_DIR", "XDG_RUNTIME_DIR"};
        Env()
        {
            for (int i = 0; i < 2; ++i)
                if (const char* v = std::getenv(names[i]); (had[i] = v != nullptr))
                    saved[i] = v;
            unsetenv(names[0]), unsetenv(names[1]);
        }
        ~Env()
        {
            for (int i = 0; i < 2; ++i)
                if (had[i])
                    setenv(names[i], saved[i].c_str(), 1);
        }
    } env;
    CFakePorts scratch;
    const std::string tmp = scratch.Root() / "tmp";
    ASSERT_EQ(mkdir(tmp.c_str(), 0777), 0);
    const std::string base = tmp + "/corvane-" + std::to_string(getuid());
    const struct {
        const char* name;
        std::function<void()> prepare;
        bool used;
    } cases[] = {
        {"missing: made 0700", [] {}, true},
        {"ours, 0700", [&] { mkdir(base.c_str(), 0700); }, true},
        {"ours but world-writable", [&] { mkdir(base.c_str(), 0700), chmod(base.c_str(), 0777); }, false},
        {"ports inside group-writable",
         [&] { mkdir(base.c_str(), 0700), mkdir((base + "/ports").c_str(), 0700), chmod((base + "/ports").c_str(), 0770); },
         false},
        {"a symbolic link to elsewhere", [&] { symlink(tmp.c_str(), base.c_str()); }, false},
        {"a plain file", [&] { std::ofstream(base).put('x'); }, false},
        {"another user's (as root: nobody's)",
         [&] { mkdir(base.c_str(), 0700), (void)!chown(base.c_str(), getuid() == 0 ? 65534 : 0, 0); }, getuid() != 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(base);
        c.prepare();
        const SPortDir dir = ResolvePortDir(tmp);
        if (c.used) {
            EXPECT_EQ(dir.path, base + "/ports");
            struct stat st {};
            ASSERT_EQ(lstat(dir.path.c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 0777, 0700u);
        } else {
            EXPECT_EQ(dir.path, "");
            EXPECT_NE(dir.error.find(base), std::string::npos) << dir.error;
            EXPECT_NE(dir.error.find("CORVANE_PORT_DIR"), std::string::npos) << dir.error;
        }
    }
    setenv("XDG_RUNTIME_DIR", tmp.c_str(), 1);  // a folder the user names is the user's choice
    EXPECT_EQ(ResolvePortDir(tmp).path, tmp + "/corvane/ports");
}

}  // namespace
}  // namespace corvane
