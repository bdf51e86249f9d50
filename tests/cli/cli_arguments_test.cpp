// The command line and the remembered board, in-process; and the usage exit of the real tool.

#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "cli/arguments.h"
#include "cli/exit_status.h"
#include "cli/port_target.h"
#include "cli/remembered_board.h"
#include "tests/cli/cli_fixture.h"
#include "tests/support/watchdog.h"

namespace swb808::cli::test {
namespace {

ParseResult Parse(const std::vector<std::string>& words) {
    QStringList args{"swb808ctl"};
    for (const auto& w : words) args << QString::fromStdString(w);
    return ParseArguments(args);
}

TEST(CliArguments, RejectsBadCommandLines) {
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"bogus"},
        {"--baud", "12345", "info"},
        {"--baud", "fast", "info"},
        {"--port", "COM17", "info"},
        {"--port", "COM0", "info"},
        {"--port", "ttyUSB0", "info"},
        {"--frobnicate", "info"},
        {"info", "extra"},
        {"relay"},
        {"relay", "9", "on"},
        {"relay", "0", "on"},
        {"relay", "3", "maybe"},
        {"relays", "256"},
        {"relays", "0x"},
        {"relays", "-1"},
        {"relays", "0x1FF"},
        {"watch", "--count", "0"},
        {"watch", "--timeout", "-2"},
        {"config", "set"},
        {"config", "set", "--baud", "auto"},
        {"config", "set", "--baud", "1234"},
        {"config", "set", "--error-report", "1"},  // the window's lower bound is 2
        {"config", "set", "--retry", "0"},
        {"config", "set", "--retry", "65536"},
        {"config", "set", "--keep-relays", "yes"},
        {"config", "set", "--baud", "9600", "--baud", "19200"},
        {"flash"},
        {"flash", "a.bin", "b.bin"},
        {"--port", "COM1", "--port", "COM2", "relay", "1", "on"},  // one board only
        {"relay", "2,,5", "on"},
        {"relay", "5-2", "on"},
        {"relay", "1-9", "on"},
        {"relays", "1", "2"},
        {"relay", "1", "on", "--timeout", "3"},  // a timeout of nothing to wait for
        {"relay", "1", "on", "--wait-input", "9=high"},
        {"relay", "1", "on", "--wait-input", "3=up"},
        {"relays", "--wait-input", "3=high"},  // reading, not changing
        {"watch", "--count", "2", "--count", "3"},
    };
    for (const auto& words : bad) {
        std::string line;
        for (const auto& w : words) line += w + " ";
        SCOPED_TRACE(line);
        const ParseResult r = Parse(words);
        EXPECT_FALSE(r.request.has_value());
        EXPECT_FALSE(r.error.empty());
    }
}

TEST(CliArguments, TakesGlobalOptionsBeforeAndAfterTheCommand) {
    const auto r =
        Parse({"--json", "--port", "COM3", "relay", "3", "on", "--baud", "115200", "-q"});
    ASSERT_TRUE(r.request) << r.error;
    EXPECT_EQ(r.request->command, Command::Relay);
    EXPECT_EQ(r.request->ports, std::vector<std::string>{"COM3"});
    EXPECT_EQ(r.request->baud, 115200);
    EXPECT_TRUE(r.request->json);
    EXPECT_TRUE(r.request->quiet);
    EXPECT_EQ(r.request->relayBits, 0x04);
    EXPECT_EQ(r.request->action, RelayAction::On);

    const auto all = Parse({"relay", "all", "toggle", "--baud", "auto"});
    ASSERT_TRUE(all.request) << all.error;
    EXPECT_EQ(all.request->relayBits, 0xFF);
    EXPECT_EQ(all.request->action, RelayAction::Toggle);
    EXPECT_EQ(all.request->baud, 0);
    EXPECT_FALSE(all.request->direct);
    for (const auto& words :
         {std::vector<std::string>{"--direct", "inputs"}, {"inputs", "--direct"}}) {
        const auto direct = Parse(words);
        ASSERT_TRUE(direct.request) << direct.error;
        EXPECT_TRUE(direct.request->direct);
    }
}

TEST(CliArguments, RelayListsAndInputWaits) {
    const auto r = Parse({"relay", "2,5", "on", "--wait-input", "3=low", "--timeout", "1.5"});
    ASSERT_TRUE(r.request) << r.error;
    EXPECT_EQ(r.request->relayBits, 0x12);
    ASSERT_TRUE(r.request->waitInput);
    EXPECT_EQ(r.request->waitInput->input, 3);
    EXPECT_FALSE(r.request->waitInput->active);
    EXPECT_EQ(r.request->timeoutS, 1.5);
    EXPECT_EQ(Parse({"relay", "1-3,8", "off"}).request->relayBits, 0x87);
    const auto read = Parse({"relays"});
    ASSERT_TRUE(read.request) << read.error;
    EXPECT_FALSE(read.request->mask);
    EXPECT_EQ(Parse({"relays", "0x81"}).request->mask, 0x81);
}

// Given twice is an error that says so, never the last one silently, nor a port that is
// "in use" by the tool itself.
TEST(CliArguments, OptionsGivenTwiceAreNamed) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--baud", "9600", "--baud", "300", "info"}, "--baud given twice"},
        {{"--baud", "9600", "info", "--baud", "300"}, "--baud given twice"},
        {{"--port", "COM1", "scan", "--port", "com1"}, "--port com1 given twice"},
        {{"relays", "-1"}, "relays: '-1' is not a valid value"},
        {{"relay", "-2", "on"}, "relay: '-2' is not a valid value"},
    };
    for (const auto& [words, error] : cases) {
        SCOPED_TRACE(words[0] + " " + words[1]);
        const ParseResult r = Parse(words);
        EXPECT_FALSE(r.request);
        EXPECT_EQ(r.error.rfind(error, 0), 0u) << r.error;
    }
}

TEST(CliArguments, EachCommandHasItsHelp) {
    for (const std::vector<std::string>& words : {std::vector<std::string>{"scan"},
                                                  {"info"},
                                                  {"relay"},
                                                  {"relays"},
                                                  {"inputs"},
                                                  {"supply"},
                                                  {"watch"},
                                                  {"config"},
                                                  {"config", "set"},
                                                  {"reset"},
                                                  {"flash"}}) {
        std::vector<std::string> w = words;
        w.push_back("--help");
        const ParseResult r = Parse(w);
        const std::string name = words.size() == 2 ? "config set" : words[0];
        EXPECT_EQ(r.output.rfind("usage: swb808ctl", 0), 0u) << name << ": " << r.error;
        EXPECT_NE(r.output.find("] " + name), std::string::npos) << r.output;
    }
}

TEST(CliArguments, ConfigSetBaudIsTheNewRateAndTheLineRateGoesFirst) {
    const auto r = Parse({"--baud", "9600", "config", "set", "--baud", "115200", "--error-report",
                          "off", "--retry", "30", "--keep-relays", "on", "--reset"});
    ASSERT_TRUE(r.request) << r.error;
    EXPECT_EQ(r.request->command, Command::ConfigSet);
    EXPECT_EQ(r.request->baud, 9600);
    EXPECT_EQ(r.request->newBaud, 115200);
    ASSERT_TRUE(r.request->errorReport);
    EXPECT_TRUE(r.request->errorReport->off);
    ASSERT_TRUE(r.request->retry);
    EXPECT_FALSE(r.request->retry->off);
    EXPECT_EQ(r.request->retry->seconds, 30);
    EXPECT_EQ(r.request->keepRelays, true);
    EXPECT_TRUE(r.request->resetAfter);

    const auto plain = Parse({"config"});
    ASSERT_TRUE(plain.request);
    EXPECT_EQ(plain.request->command, Command::Config);
}

TEST(CliArguments, MasksInDecimalAndHex) {
    const std::vector<std::pair<std::string, std::optional<int>>> cases = {
        {"0", 0},           {"255", 255},          {"0x81", 0x81},          {"0XfF", 255},
        {"5", 5},           {"256", std::nullopt}, {"0x100", std::nullopt}, {"abc", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(ParseMask(QString::fromStdString(text)), expected) << text;
}

TEST(CliArguments, SeveralPortsForScanAndFlash) {
    const auto r =
        Parse({"--port", "COM1", "--port", "/dev/ttyUSB0", "flash", "fw.bin", "--bootloader"});
    ASSERT_TRUE(r.request) << r.error;
    EXPECT_EQ(r.request->ports.size(), 2u);
    EXPECT_EQ(r.request->file, "fw.bin");
    EXPECT_TRUE(r.request->bootloader);
}

TEST(CliArguments, HelpAndVersionPrintAndSucceed) {
    EXPECT_NE(Parse({"--help"}).output.find("usage: swb808ctl"), std::string::npos);
    EXPECT_NE(Parse({"--version"}).output.find("swb808ctl "), std::string::npos);
}

class CliPorts : public CliTest {};

TEST_F(CliPorts, DevicePathsMapToTheirComNumber) {
    Board(4, {"--baud", "115200"});
    ::setenv("SWB808_PORT_DIR", (Dir() + "/ports").c_str(), 1);
    // Through the link itself and through the device it points to.
    EXPECT_EQ(ParsePortTarget(ComPath(4)).com, 4);
    const std::string device = std::filesystem::canonical(ComPath(4)).string();
    EXPECT_EQ(ParsePortTarget(device).com, 4);
    EXPECT_EQ(ParsePortTarget("com4").Name(), "COM4 (" + ComPath(4) + ")");
    try {
        ParsePortTarget(Dir() + "/nothing-here");
        ADD_FAILURE() << "a missing path was taken";
    } catch (const CliFailure& f) {
        EXPECT_EQ(f.Status(), ExitStatus::PortError);
    }
    ::unsetenv("SWB808_PORT_DIR");
}

TEST_F(CliPorts, RememberedBoardRoundTripAndDamagedFiles) {
    ::setenv("SWB808_PORT_DIR", (Dir() + "/ports").c_str(), 1);
    ::setenv("XDG_STATE_HOME", (Dir() + "/state").c_str(), 1);
    EXPECT_FALSE(LoadRememberedBoard());
    ASSERT_TRUE(SaveRememberedBoard({ComTarget(5), 57600}));
    EXPECT_EQ(RememberedBoardPath(), Dir() + "/state/swb808/board.json");
    auto loaded = LoadRememberedBoard();
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->port.com, 5);
    EXPECT_EQ(loaded->baud, 57600);
    // The same board again leaves the file alone; a new rate replaces it.
    const auto inode = [] {
        struct stat st {};
        return ::stat(RememberedBoardPath().c_str(), &st) == 0 ? st.st_ino : 0;
    };
    const auto before = inode();
    ASSERT_TRUE(SaveRememberedBoard({ComTarget(5), 57600}));
    EXPECT_EQ(inode(), before);
    ASSERT_TRUE(SaveRememberedBoard({ComTarget(5), 9600}));
    EXPECT_NE(inode(), before);
    EXPECT_EQ(LoadRememberedBoard()->baud, 9600);

    for (const char* damaged :
         {"", "not json", "[1,2]", "{\"port\": \"COM99\"}",
          "{\"port\": \"COM5\", \"device\": \"elsewhere\", \"baud\": 9600}"}) {
        std::ofstream(RememberedBoardPath()) << damaged;
        EXPECT_FALSE(LoadRememberedBoard()) << damaged;
    }
    // The device decides: one the table no longer has is kept by its path alone.
    std::ofstream(RememberedBoardPath())
        << "{\"port\": \"COM5\", \"device\": \"/dev/elsewhere\", \"baud\": 9600}";
    loaded = LoadRememberedBoard();
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->port, (PortTarget{0, "/dev/elsewhere"}));
    EXPECT_EQ(loaded->port.Name(), "/dev/elsewhere");
    // A rate that is none of the board's: the port is kept, the rate is searched.
    std::ofstream(RememberedBoardPath())
        << "{\"port\": \"COM5\", \"device\": \"" << ComPath(5) << "\", \"baud\": 1234}";
    loaded = LoadRememberedBoard();
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->baud, 0);
    ::unsetenv("XDG_STATE_HOME");
    ::unsetenv("SWB808_PORT_DIR");
}

TEST_F(CliPorts, TheRememberedBoardKeepsTheRateOfEachPort) {
    ::setenv("SWB808_PORT_DIR", (Dir() + "/ports").c_str(), 1);
    ::setenv("XDG_STATE_HOME", (Dir() + "/state").c_str(), 1);
    // A file from before the rates were kept per port has the rate of its one port.
    std::filesystem::create_directories(Dir() + "/state/swb808");
    std::ofstream(RememberedBoardPath())
        << "{\"port\": \"COM3\", \"device\": \"" << ComPath(3) << "\", \"baud\": 57600}";
    ASSERT_TRUE(SaveRememberedBoard({ComTarget(4), 9600}));
    auto loaded = LoadRememberedBoard();
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->port.com, 4);
    EXPECT_EQ(loaded->RateAt(ComTarget(4)), 9600);
    EXPECT_EQ(loaded->RateAt(ComTarget(3)), 57600);
    EXPECT_EQ(loaded->RateAt(ComTarget(5)), 0);
    // A rate no longer known (a bootloader flash) is forgotten; the other port keeps its own.
    ASSERT_TRUE(SaveRememberedBoard({ComTarget(4), 0}));
    loaded = LoadRememberedBoard();
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->RateAt(ComTarget(4)), 0);
    EXPECT_EQ(loaded->RateAt(ComTarget(3)), 57600);
    ::unsetenv("XDG_STATE_HOME");
    ::unsetenv("SWB808_PORT_DIR");
}

// Whatever sits at the file or its directory, nothing is written through a link, nothing
// blocks, and each refusal is one warning.
TEST_F(CliPorts, TheRememberedBoardFileIsNeverFollowedOrWaitedFor) {
    const testing::Watchdog watchdog(std::chrono::seconds(30));  // a FIFO opened blocking hangs
    ::setenv("SWB808_PORT_DIR", (Dir() + "/ports").c_str(), 1);
    const std::string victim = Dir() + "/victim";
    const std::string board =
        "{\"port\": \"COM5\", \"device\": \"" + ComPath(5) + "\", \"baud\": 9600}\n";
    // Only root can plant another user's file or directory; others test the rest.
    const bool root = ::geteuid() == 0;
    const struct {
        const char* what;
        std::function<void(const std::string& dir)> plant;  // dir: $XDG_STATE_HOME/swb808
        bool loadWarns;
        bool saved;
        std::function<bool()> unharmed;
    } cases[] = {
        {"a link to another file",
         [&](const std::string& dir) {
             std::ofstream(victim) << board;
             std::filesystem::create_symlink(victim, dir + "/board.json");
         },
         true, false,
         [&] {
             std::ifstream in(victim);
             return std::string(std::istreambuf_iterator<char>(in), {}) == board;
         }},
        {"a dangling link",
         [&](const std::string& dir) {
             std::filesystem::remove(victim);
             std::filesystem::create_symlink(victim, dir + "/board.json");
         },
         true, false, [&] { return !std::filesystem::exists(victim); }},
        {"a FIFO",
         [](const std::string& dir) {
             ASSERT_EQ(::mkfifo((dir + "/board.json").c_str(), 0600), 0);
         },
         true, false, [] { return std::filesystem::is_fifo(RememberedBoardPath()); }},
        {"a link for the directory",
         [&](const std::string& dir) {
             std::filesystem::create_directories(victim + "-dir");
             std::filesystem::remove(dir);
             std::filesystem::create_directory_symlink(victim + "-dir", dir);
         },
         false, false, [&] { return std::filesystem::is_empty(victim + "-dir"); }},
        // Replaced: the directory is ours.
        {"a file of another user",
         [&](const std::string& dir) {
             if (!root) return;
             std::ofstream(dir + "/board.json") << board;
             ASSERT_EQ(::chown((dir + "/board.json").c_str(), 65534, 65534), 0);
         },
         root, true, [] { return true; }},
        {"a directory of another user",
         [&](const std::string& dir) {
             if (root) {
                 ASSERT_EQ(::chown(dir.c_str(), 65534, 65534), 0);
             }
         },
         false, !root, [&] { return !root || !std::filesystem::exists(RememberedBoardPath()); }},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        // A directory of its own: a refusal is told once per file and process.
        const std::string state = Dir() + "/state" + std::to_string(++n);
        ::setenv("XDG_STATE_HOME", state.c_str(), 1);
        std::filesystem::create_directories(state + "/swb808");
        c.plant(state + "/swb808");
        std::vector<std::string> warnings;
        EXPECT_FALSE(
            LoadRememberedBoard([&](const std::string& line) { warnings.push_back(line); }));
        ASSERT_EQ(warnings.size(), c.loadWarns ? 1u : 0u);
        if (c.loadWarns) {
            EXPECT_NE(warnings[0].find(RememberedBoardPath()), std::string::npos);
        }
        std::string why;
        EXPECT_EQ(SaveRememberedBoard({ComTarget(5), 9600}, why), c.saved) << why;
        if (!c.saved) {
            EXPECT_NE(why, "");
        }
        EXPECT_TRUE(c.unharmed());
    }
    ::unsetenv("XDG_STATE_HOME");
    ::unsetenv("SWB808_PORT_DIR");
}

TEST_F(CliPorts, UsageErrorsExitOneWithOneLine) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"relay", "9", "on"}, {"nonsense"}, {}}) {
        const CtlResult r = Run(args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_EQ(r.out, "");
    }
    EXPECT_EQ(Run({"--help"}).status, 0);
    // Under --json a usage error is a document too.
    const CtlResult json = Run({"--json", "relay", "9", "on"});
    EXPECT_EQ(json.status, 1);
    EXPECT_EQ(json.Json()["error"].toObject()["code"].toString(), "usage") << json.out;
}

}  // namespace
}  // namespace swb808::cli::test
