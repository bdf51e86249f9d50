// Every command of swb808ctl as a script runs it: the real executable, simulated boards on
// pseudo-terminals, JSON parsed, exit statuses, stderr lines.

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <QJsonArray>

#include <filesystem>

#include "serial/serial_port.h"
#include "tests/cli/cli_fixture.h"

namespace swb808::cli::test {
namespace {

using namespace std::chrono_literals;

const std::vector<std::string> kFast = {"--port", "COM3", "--baud", "115200"};

std::vector<std::string> With(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

QJsonArray Numbers(std::initializer_list<int> n) {
    QJsonArray a;
    for (int x : n) a.append(x);
    return a;
}

class CliCommands : public CliTest {};

TEST_F(CliCommands, InfoReportsTheWholeQueryAsJson) {
    Board(3, {"--baud", "115200", "--inputs", "0x81", "--relays", "0x05", "--vcc", "866",
              "--error-delay", "300", "--flags", "6"});
    const CtlResult r = Run(With({"--json", "info"}, kFast));
    ASSERT_EQ(r.status, 0) << r.err;
    const QJsonObject o = r.Json();
    EXPECT_EQ(o["port"].toString(), "COM3");
    EXPECT_EQ(o["device"].toString().toStdString(), ComPath(3));
    EXPECT_EQ(o["baud"].toInt(), 115200);
    EXPECT_EQ(o["firmware"].toString(), "1.07a");
    EXPECT_TRUE(o["identity"].toString().startsWith("SWB808"))
        << o["identity"].toString().toStdString();
    EXPECT_EQ(o["relays"].toInt(), 5);
    EXPECT_EQ(o["relays_on"].toArray(), Numbers({1, 3}));
    EXPECT_EQ(o["inputs"].toInt(), 0x81);
    EXPECT_EQ(o["inputs_active"].toArray(), Numbers({1, 8}));
    const QJsonObject supply = o["supply"].toObject();
    EXPECT_EQ(supply["raw"].toInt(), 866);
    EXPECT_DOUBLE_EQ(supply["volts"].toDouble(), 5.253);
    EXPECT_FALSE(supply["in_range"].toBool());  // 866 is just above the window's green range
    const QJsonObject config = o["config"].toObject();
    EXPECT_EQ(config["baud"].toInt(), 115200);
    EXPECT_EQ(config["baud_index"].toInt(), 12);
    EXPECT_EQ(config["error_report_delay"].toInt(), 300);
    EXPECT_TRUE(config["error_report_off"].toBool());
    EXPECT_EQ(config["retry_delay"].toInt(), 1);
    EXPECT_TRUE(config["retry_off"].toBool());
    EXPECT_FALSE(config["keep_relays"].toBool());
    EXPECT_EQ(r.err, "");
}

TEST_F(CliCommands, InfoAsTextNamesTheBoard) {
    Board(3, {"--baud", "115200"});
    const CtlResult r = Run(With({"info"}, kFast));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("COM3 (" + ComPath(3) + ") at 115200 Bd"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("4.853 V"), std::string::npos) << r.out;
}

TEST_F(CliCommands, RelayChangesReachTheBoard) {
    SimProcess& board = Board(3, {"--baud", "115200", "--relays", "0x01"});
    struct Case {
        std::vector<std::string> args;
        int relays;
    };
    const std::vector<Case> cases = {
        {{"relay", "3", "on"}, 0x05},     {{"relay", "3", "on"}, 0x05},
        {{"relay", "1", "toggle"}, 0x04}, {{"relay", "all", "on"}, 0xFF},
        {{"relay", "8", "off"}, 0x7F},    {{"relays", "0x81"}, 0x81},
        {{"relays", "0"}, 0x00},          {{"relay", "all", "toggle"}, 0xFF},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args[1]);
        const CtlResult r = Run(With(With({"--json"}, kFast), c.args));
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.Json()["relays"].toInt(), c.relays);
        char hex[8];
        std::snprintf(hex, sizeof hex, "0x%02X", c.relays);
        EXPECT_NE(board.Status().find(std::string("relays ") + hex), std::string::npos)
            << board.Status();
    }
}

TEST_F(CliCommands, InputsAndConfigRead) {
    Board(3, {"--baud", "115200", "--inputs", "0x42", "--retry-delay", "7", "--flags", "1"});
    const CtlResult in = Run(With({"--json", "inputs"}, kFast));
    ASSERT_EQ(in.status, 0) << in.err;
    EXPECT_EQ(in.Json()["inputs"].toInt(), 0x42);
    EXPECT_EQ(in.Json()["inputs_active"].toArray(), Numbers({2, 7}));
    const CtlResult cfg = Run(With({"--json", "config"}, kFast));
    ASSERT_EQ(cfg.status, 0) << cfg.err;
    const QJsonObject c = cfg.Json()["config"].toObject();
    EXPECT_EQ(c["retry_delay"].toInt(), 7);
    EXPECT_TRUE(c["keep_relays"].toBool());
    EXPECT_FALSE(c["retry_off"].toBool());
}

TEST_F(CliCommands, ConfigSetWritesTheRecordWithItsChecksum) {
    SimProcess& board = Board(3, {"--baud", "115200"});
    const CtlResult r =
        Run(With(With({"--json"}, kFast), {"config", "set", "--error-report", "off", "--retry",
                                           "513", "--keep-relays", "on"}));
    ASSERT_EQ(r.status, 0) << r.err;
    // The board stores a record only with a right checksum: 0C 02 00 01 02 05.
    EXPECT_NE(board.Status().find("config 0x0C 0x02 0x00 0x01 0x02 0x05"), std::string::npos)
        << board.Status();
    const QJsonObject c = r.Json()["config"].toObject();
    EXPECT_TRUE(c["error_report_off"].toBool());
    EXPECT_EQ(c["error_report_delay"].toInt(), 2);  // kept while off
    EXPECT_EQ(c["retry_delay"].toInt(), 513);
    EXPECT_FALSE(r.Json()["reset"].toBool());
}

TEST_F(CliCommands, ConfigSetWithResetFindsTheBoardAtItsNewRate) {
    SimProcess& board = Board(3, {"--baud", "115200"});
    const CtlResult r =
        Run(With(With({"--json"}, kFast), {"config", "set", "--baud", "57600", "--reset"}));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.Json()["baud"].toInt(), 57600);
    EXPECT_EQ(r.Json()["config"].toObject()["baud"].toInt(), 57600);
    EXPECT_NE(board.Status().find("rate 57600"), std::string::npos) << board.Status();
    EXPECT_NE(board.Status().find("resets 1"), std::string::npos) << board.Status();
    EXPECT_EQ(Remembered()["baud"].toInt(), 57600);
}

TEST_F(CliCommands, ResetRestartsAndRemembersTheBoard) {
    SimProcess& board = Board(3, {"--baud", "115200"});
    const CtlResult r = Run(With({"--json", "reset"}, kFast));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.Json()["baud"].toInt(), 115200);
    EXPECT_EQ(r.Json()["firmware"].toString(), "1.07a");
    EXPECT_NE(board.Status().find("resets 1"), std::string::npos) << board.Status();
    EXPECT_EQ(Remembered()["port"].toString(), "COM3");
}

TEST_F(CliCommands, TheRememberedBoardIsUsedWhenNoPortIsGiven) {
    Board(2, {"--baud", "115200"});  // first in the search order
    SimProcess& five = Board(5, {"--baud", "115200"});
    Remember(5, 115200);
    const CtlResult r = Run({"--json", "relay", "2", "on"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.Json()["port"].toString(), "COM5");
    EXPECT_NE(five.Status().find("relays 0x02"), std::string::npos);
}

TEST_F(CliCommands, ASuccessfulCommandRemembersTheBoard) {
    Board(3, {"--baud", "115200"});
    ASSERT_EQ(Run(With({"inputs"}, kFast)).status, 0);
    const QJsonObject m = Remembered();
    EXPECT_EQ(m["port"].toString(), "COM3");
    EXPECT_EQ(m["device"].toString().toStdString(), ComPath(3));
    EXPECT_EQ(m["baud"].toInt(), 115200);
}

// A device none of COM1-COM16 names (another adapter, a by-id link): used and remembered by
// its path.
TEST_F(CliCommands, ADeviceOutsideTheComTableIsUsedByItsPath) {
    const std::string elsewhere = Dir() + "/bench";
    std::filesystem::create_directories(elsewhere);
    SimProcess board(elsewhere, 1, {"--baud", "115200"});
    ASSERT_TRUE(board.Ready());
    const std::string device = elsewhere + "/com1";
    const CtlResult on = Run({"--json", "--port", device, "--baud", "115200", "relay", "3", "on"});
    ASSERT_EQ(on.status, 0) << on.err;
    EXPECT_TRUE(on.Json()["port"].isNull());
    EXPECT_EQ(on.Json()["device"].toString().toStdString(), device);
    EXPECT_TRUE(Remembered()["port"].isNull());
    EXPECT_EQ(Remembered()["device"].toString().toStdString(), device);
    // No port given: the remembered device, although the search over the table has none.
    const CtlResult off = Run({"--json", "relay", "3", "off"});
    ASSERT_EQ(off.status, 0) << off.err;
    EXPECT_EQ(off.Json()["device"].toString().toStdString(), device);
    EXPECT_NE(board.Status().find("relays 0x00"), std::string::npos) << board.Status();
    EXPECT_EQ(Run({"--port", elsewhere + "/com2", "inputs"}).err,
              "swb808ctl: " + elsewhere + "/com2 does not exist\n");
}

// Back on a port used before: its own last rate, with one read. The board on COM3 fails the
// search's whole query, so only that read can find it.
TEST_F(CliCommands, GoingBackToABoardUsesTheRateItHadThere) {
    Board(3, {"--baud", "115200", "--fault", "version-short"});
    Board(4, {"--baud", "115200"});
    ASSERT_EQ(Run({"--port", "COM3", "--baud", "115200", "inputs"}).status, 0);
    ASSERT_EQ(Run({"--port", "COM4", "--baud", "115200", "inputs"}).status, 0);
    ASSERT_EQ(Remembered()["port"].toString(), "COM4");
    const CtlResult r = Run({"--json", "--port", "COM3", "inputs"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.Json()["port"].toString(), "COM3");
    EXPECT_EQ(Remembered()["port"].toString(), "COM3");
}

TEST_F(CliCommands, ABoardThatMovedToAnotherRateIsSearchedAgain) {
    Board(3, {"--baud", "2400"});
    Remember(3, 115200);
    const CtlResult r = Run({"--json", "relay", "1", "on"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.Json()["baud"].toInt(), 2400);
    EXPECT_EQ(Remembered()["baud"].toInt(), 2400);
}

// Another program holding the port open and locked, as the window's session does.
class PortHolder {
  public:
    explicit PortHolder(const std::string& path)
        : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {
        held_ = fd_ >= 0 && ::flock(fd_, LOCK_EX | LOCK_NB) == 0;
    }
    ~PortHolder() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool Held() const { return held_; }

  private:
    int fd_;
    bool held_ = false;
};

// The window's own port object, open on COM n as a connected window holds it.
class WindowPort {
  public:
    WindowPort(const std::string& portDir, int com) {
        ::setenv("SWB808_PORT_DIR", portDir.c_str(), 1);
        port_.SetComNumber(uint16_t(com));
        port_.SetBaud(115200);
        port_.SetOpen(true);
    }
    ~WindowPort() {
        if (port_.Open()) port_.SetOpen(false);
        ::unsetenv("SWB808_PORT_DIR");
    }
    bool Open() const { return port_.Open(); }

  private:
    TSerialPort port_;
};

TEST_F(CliCommands, PortFailuresExitThreeWithOneLineNamingThePort) {
    Board(3, {"--baud", "115200"});
    {
        WindowPort window(Dir() + "/ports", 3);
        ASSERT_TRUE(window.Open());
        const CtlResult r = Run(With({"--json", "relay", "1", "on"}, kFast));
        EXPECT_EQ(r.status, 3);
        EXPECT_EQ(r.err, "swb808ctl: COM3 (" + ComPath(3) + ") is in use by another program\n");
        EXPECT_EQ(r.out, "");
    }
    {
        PortHolder window(ComPath(3));
        ASSERT_TRUE(window.Held());
        const CtlResult r = Run(With({"relay", "1", "on"}, kFast));
        EXPECT_EQ(r.status, 3);
        EXPECT_EQ(r.err, "swb808ctl: COM3 (" + ComPath(3) + ") is in use by another program\n");
        EXPECT_EQ(r.out, "");
    }
    const CtlResult missing = Run({"--port", "COM7", "--baud", "115200", "inputs"});
    EXPECT_EQ(missing.status, 3);
    EXPECT_EQ(missing.err, "swb808ctl: COM7 (" + ComPath(7) + ") does not exist\n");
    // Released: the same command works again, and nothing was remembered meanwhile.
    EXPECT_EQ(Run(With({"relay", "1", "on"}, kFast)).status, 0);
}

TEST_F(CliCommands, NoAnswerExitsTwo) {
    Board(3, {"--baud", "115200", "--silent"});
    const CtlResult r = Run(With({"--json", "inputs"}, kFast));
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "swb808ctl: no SWB808 answered on COM3 (" + ComPath(3) + ") at 115200 Bd\n");
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(Remembered(), QJsonObject());
}

TEST_F(CliCommands, ScanFindsEveryBoardOnTheGivenPorts) {
    Board(2, {"--baud", "115200", "--version", "2.00a"});
    Board(5, {"--baud", "115200"});
    Board(6, {"--baud", "115200", "--silent"});
    const CtlResult r = Run({"--json", "--baud", "115200", "scan"});
    ASSERT_EQ(r.status, 0) << r.err;
    const QJsonArray boards = r.Json()["boards"].toArray();
    ASSERT_EQ(boards.size(), 2);
    EXPECT_EQ(boards[0].toObject()["port"].toString(), "COM2");
    EXPECT_EQ(boards[0].toObject()["firmware"].toString(), "2.00a");
    EXPECT_EQ(boards[1].toObject()["port"].toString(), "COM5");
    EXPECT_TRUE(boards[1].toObject()["identity"].toString().startsWith("SWB808"));
    EXPECT_EQ(r.Json()["errors"].toArray().size(), 0);
    EXPECT_EQ(Remembered()["port"].toString(), "COM2");
}

TEST_F(CliCommands, ScanReportsAHeldPortAndStillFindsTheOthers) {
    Board(2, {"--baud", "115200"});
    Board(4, {"--baud", "115200"});
    PortHolder window(ComPath(4));
    ASSERT_TRUE(window.Held());
    const CtlResult r = Run({"--json", "--baud", "115200", "scan"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.Json()["boards"].toArray().size(), 1);
    EXPECT_EQ(r.err, "swb808ctl: COM4 (" + ComPath(4) + ") is in use by another program\n");
    const CtlResult none = Run({"--port", "COM4", "--baud", "115200", "scan"});
    EXPECT_EQ(none.status, 3);
}

TEST_F(CliCommands, WatchPrintsOneJsonLinePerChange) {
    SimProcess& board = Board(3, {"--baud", "115200", "--inputs", "0x01"});
    auto watch = Start(With({"--json", "watch", "--count", "2"}, kFast));
    // The initial read is done once the board saw the 0xB1 request; give it time, then change.
    std::this_thread::sleep_for(1s);
    board.Command("inputs 0x81");
    board.Command("inputs 0x80");
    const CtlResult r = watch->Finish(30s);
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<QJsonObject> lines;
    for (const QByteArray& line : QByteArray::fromStdString(r.out).split('\n'))
        if (!line.isEmpty()) lines.push_back(QJsonDocument::fromJson(line).object());
    ASSERT_EQ(lines.size(), 2u) << r.out;
    EXPECT_EQ(lines[0]["inputs"].toInt(), 0x81);
    EXPECT_EQ(lines[0]["changed"].toArray(), Numbers({8}));
    EXPECT_EQ(lines[1]["inputs"].toInt(), 0x80);
    EXPECT_EQ(lines[1]["changed"].toArray(), Numbers({1}));
    EXPECT_FALSE(lines[1]["time"].toString().isEmpty());
}

TEST_F(CliCommands, WatchEndsAtItsTimeout) {
    Board(3, {"--baud", "115200"});
    const CtlResult r = Run(With({"watch", "--timeout", "0.5"}, kFast), 20s);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("watching COM3"), std::string::npos);
}

TEST_F(CliCommands, CtrlCEndsAWatchAtOnceAndFreesThePort) {
    Board(3, {"--baud", "115200"});
    auto watch = Start(With({"watch"}, kFast));
    ASSERT_TRUE(watch->WaitForOutput("watching", 20s)) << watch->Err();
    watch->Signal(SIGINT);
    const CtlResult r = watch->Finish(5s);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Run(With({"inputs"}, kFast)).status, 0);  // the port was closed
}

TEST_F(CliCommands, CtrlCDuringASearchEndsWithStatus130) {
    Board(3, {"--baud", "300"});
    auto info = Start({"--port", "COM3", "--baud", "300", "info"});  // about 10 s of query
    std::this_thread::sleep_for(1s);
    ASSERT_TRUE(info->Running());
    info->Signal(SIGINT);
    const CtlResult r = info->Finish(5s);
    EXPECT_EQ(r.status, 130);
    EXPECT_EQ(r.err, "swb808ctl: interrupted; the port is closed\n");
    EXPECT_EQ(Remembered(), QJsonObject());
}

}  // namespace
}  // namespace swb808::cli::test
