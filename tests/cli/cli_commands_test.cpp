// Every command of swb808ctl as a script runs it: the real executable, simulated boards on
// pseudo-terminals, JSON parsed, exit statuses, stderr lines.

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <QDateTime>
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
              "--error-delay", "300", "--flags", "6", "--identity", "SWB808 lab 4"});
    const CtlResult r = Run(With({"--json", "info"}, kFast));
    ASSERT_EQ(r.status, 0) << r.err;
    const QJsonObject o = r.Json();
    EXPECT_EQ(o["port"].toString(), "COM3");
    EXPECT_EQ(o["device"].toString().toStdString(), ComPath(3));
    EXPECT_EQ(o["baud"].toInt(), 115200);
    EXPECT_EQ(o["firmware"].toString(), "1.07a");
    // The board pads its identity with blanks; the raw text keeps them.
    EXPECT_EQ(o["identity"].toString(), "SWB808 lab 4");
    EXPECT_TRUE(o["identity_raw"].toString().startsWith("SWB808 lab 4  "))
        << o["identity_raw"].toString().toStdString();
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
        EXPECT_TRUE(board.StatusShows(std::string("relays ") + hex))
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
    EXPECT_TRUE(board.StatusShows("config 0x0C 0x02 0x00 0x01 0x02 0x05"))
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
    EXPECT_TRUE(board.StatusShows("rate 57600")) << board.Status();
    EXPECT_TRUE(board.StatusShows("resets 1")) << board.Status();
    EXPECT_EQ(Remembered()["baud"].toInt(), 57600);
}

TEST_F(CliCommands, ResetRestartsAndRemembersTheBoard) {
    SimProcess& board = Board(3, {"--baud", "115200"});
    const CtlResult r = Run(With({"--json", "reset"}, kFast));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.Json()["baud"].toInt(), 115200);
    EXPECT_EQ(r.Json()["firmware"].toString(), "1.07a");
    EXPECT_TRUE(board.StatusShows("resets 1")) << board.Status();
    EXPECT_EQ(Remembered()["port"].toString(), "COM3");
}

TEST_F(CliCommands, TheRememberedBoardIsUsedWhenNoPortIsGiven) {
    Board(2, {"--baud", "115200"});  // first in the search order
    SimProcess& five = Board(5, {"--baud", "115200"});
    Remember(5, 115200);
    const CtlResult r = Run({"--json", "relay", "2", "on"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.Json()["port"].toString(), "COM5");
    EXPECT_TRUE(five.StatusShows("relays 0x02"));
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
    EXPECT_TRUE(board.StatusShows("relays 0x00")) << board.Status();
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

// A board whose version reply is short fails the query, so these can only pass as single
// reads.
TEST_F(CliCommands, RelaysSupplyAndInputsAreSingleReads) {
    Board(3, {"--baud", "115200", "--fault", "version-short", "--relays", "0x24", "--vcc", "866",
              "--inputs", "0x03"});
    ASSERT_EQ(Run(With({"info"}, kFast)).status, 2);
    const CtlResult relays = Run(With({"--json", "relays"}, kFast));
    ASSERT_EQ(relays.status, 0) << relays.err;
    EXPECT_EQ(relays.Json()["relays"].toInt(), 0x24);
    EXPECT_EQ(relays.Json()["relays_on"].toArray(), Numbers({3, 6}));
    const CtlResult supply = Run(With({"--json", "supply"}, kFast));
    ASSERT_EQ(supply.status, 0) << supply.err;
    EXPECT_EQ(supply.Json()["supply"].toObject()["raw"].toInt(), 866);
    EXPECT_EQ(supply.Json()["port"].toString(), "COM3");
    const CtlResult inputs = Run(With({"--json", "inputs"}, kFast));
    ASSERT_EQ(inputs.status, 0) << inputs.err;
    EXPECT_EQ(inputs.Json()["inputs"].toInt(), 0x03);
}

// relay ... --wait-input: an input already in the state counts, a later change counts, and
// the time running out is exit 2 with the relays switched all the same.
TEST_F(CliCommands, RelayThenWaitForAnInput) {
    SimProcess& board = Board(3, {"--baud", "115200", "--inputs", "0x01"});
    const CtlResult already = Run(
        With({"--json", "relay", "2", "on", "--wait-input", "1=high", "--timeout", "5"}, kFast));
    ASSERT_EQ(already.status, 0) << already.err;
    EXPECT_TRUE(already.Json()["input_reached"].toBool());
    EXPECT_EQ(already.Json()["relays"].toInt(), 0x02);

    auto later =
        Start(With({"relay", "3", "on", "--wait-input", "4=high", "--timeout", "30"}, kFast));
    ASSERT_TRUE(later->WaitForOutput("relays 0x06", 20s)) << later->Err();
    EXPECT_TRUE(later->Running());
    board.Command("inputs 0x09");
    const CtlResult r = later->Finish(20s);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("COM3 (" + ComPath(3) + "): input 4 high"), std::string::npos) << r.out;

    const CtlResult timeout =
        Run(With({"relay", "4", "on", "--wait-input", "1=low", "--timeout", "0.3"}, kFast));
    EXPECT_EQ(timeout.status, 2) << timeout.err;
    EXPECT_NE(timeout.err.find("input 1 not low within 0.3 s"), std::string::npos) << timeout.err;
    EXPECT_TRUE(board.StatusShows("relays 0x0E")) << board.Status();
}

// -v tells each port and rate a search tries; progress is on stderr, never in the results.
TEST_F(CliCommands, VerboseTellsThePortsAndRatesTried) {
    Board(3, {"--baud", "115200"});
    Board(4, {"--baud", "115200", "--silent"});
    const CtlResult r = Run({"-v", "--baud", "115200", "--json", "inputs"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.Json()["port"].toString(), "COM3");
    for (int com : {3, 4})
        EXPECT_NE(
            r.err.find("trying COM" + std::to_string(com) + " (" + ComPath(com) + ") at 115200 Bd"),
            std::string::npos)
            << r.err;
    EXPECT_EQ(r.err.find("COM5"), std::string::npos) << r.err;  // no device there
    EXPECT_EQ(Run({"--port", "COM3", "--baud", "115200", "inputs"}).err, "");
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
        EXPECT_EQ(r.Json()["error"].toObject()["code"].toString(), "port_error") << r.out;
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
    EXPECT_EQ(r.Json()["error"].toObject()["code"].toString(), "no_board") << r.out;
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
    const CtlResult r = Run({"--baud", "115200", "scan"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
    EXPECT_NE(r.err.find("swb808ctl: COM4 (" + ComPath(4) + ") is in use by another program\n"),
              std::string::npos)
        << r.err;
    const CtlResult none = Run({"--json", "--port", "COM4", "--baud", "115200", "scan"});
    EXPECT_EQ(none.status, 3);
    const QJsonObject error = none.Json()["errors"].toArray()[0].toObject();
    EXPECT_EQ(error["code"].toString(), "port_error");
    EXPECT_EQ(error["port"].toString(), "COM4");
    EXPECT_EQ(error["message"].toString().toStdString(),
              "COM4 (" + ComPath(4) + ") is in use by another program");
}

std::vector<QJsonObject> JsonLines(const std::string& out) {
    std::vector<QJsonObject> lines;
    for (const QByteArray& line : QByteArray::fromStdString(out).split('\n'))
        if (!line.isEmpty()) lines.push_back(QJsonDocument::fromJson(line).object());
    return lines;
}

// The state now, then the changes; each line says where and when, in RFC 3339 with its zone.
TEST_F(CliCommands, WatchPrintsTheStateThenOneJsonLinePerChange) {
    SimProcess& board = Board(3, {"--baud", "115200", "--inputs", "0x01"});
    auto watch = Start(With({"--json", "watch", "--count", "2"}, kFast));
    ASSERT_TRUE(watch->WaitForOutput("\"initial\":true", 20s)) << watch->Err();
    board.Command("inputs 0x81");
    board.Command("inputs 0x80");
    const CtlResult r = watch->Finish(30s);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<QJsonObject> lines = JsonLines(r.out);
    ASSERT_EQ(lines.size(), 3u) << r.out;
    EXPECT_EQ(lines[0]["inputs"].toInt(), 0x01);
    EXPECT_EQ(lines[0]["changed"].toArray(), QJsonArray());
    EXPECT_EQ(lines[1]["inputs"].toInt(), 0x81);
    EXPECT_EQ(lines[1]["changed"].toArray(), Numbers({8}));
    EXPECT_EQ(lines[2]["inputs"].toInt(), 0x80);
    EXPECT_EQ(lines[2]["changed"].toArray(), Numbers({1}));
    for (const QJsonObject& line : lines) {
        EXPECT_EQ(line["port"].toString(), "COM3");
        EXPECT_EQ(line["baud"].toInt(), 115200);
        const QDateTime t = QDateTime::fromString(line["time"].toString(), Qt::ISODateWithMs);
        EXPECT_TRUE(t.isValid()) << line["time"].toString().toStdString();
        EXPECT_TRUE(t.timeSpec() == Qt::OffsetFromUTC || t.timeSpec() == Qt::UTC)
            << line["time"].toString().toStdString();
    }
}

TEST_F(CliCommands, WatchEndsAtItsTimeoutAndFailsWithTooFewChanges) {
    Board(3, {"--baud", "115200", "--inputs", "0x02"});
    const CtlResult r = Run(With({"watch", "--timeout", "0.5"}, kFast), 20s);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("watching COM3"), std::string::npos);
    EXPECT_NE(r.out.find("COM3 (" + ComPath(3) + ") at 115200 Bd  inputs 0x02 (active: 2)  now"),
              std::string::npos)
        << r.out;
    const CtlResult few = Run(With({"--json", "watch", "--timeout", "0.5", "--count", "1"}, kFast));
    EXPECT_EQ(few.status, 2) << few.err;
    const std::vector<QJsonObject> lines = JsonLines(few.out);
    ASSERT_EQ(lines.size(), 2u) << few.out;
    EXPECT_EQ(lines[1]["error"].toObject()["code"].toString(), "no_board");
    EXPECT_NE(few.err.find("0 of 1 changes within 0.5 s"), std::string::npos) << few.err;
}

TEST_F(CliCommands, CtrlCEndsAWatchAtOnceAndFreesThePort) {
    Board(3, {"--baud", "115200"});
    auto watch = Start(With({"watch"}, kFast));
    ASSERT_TRUE(watch->WaitForError("watching", 20s)) << watch->Err();
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
