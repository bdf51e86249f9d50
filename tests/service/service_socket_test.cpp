// swb808ctl through swb808d's local socket: the same output and exit status as on the port
// itself; the port stays the service's; and the socket file's life (its mode and group, a
// stale file replaced, another service's refused, the file gone at the end).

#include <grp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QJsonArray>

#include <filesystem>

#include "tests/cli/cli_fixture.h"
#include "tests/service/service_fixture.h"

namespace swb808::service::test {
namespace {

using cli::test::CtlProcess;
using cli::test::CtlResult;

class SocketTest : public ServiceTest {
  protected:
    // swb808ctl looking for the service at SocketPath(), remembering its board in `state`.
    std::map<std::string, std::string> CtlEnv(const std::string& state) const {
        return {{"SWB808_SOCKET", SocketPath()}, {"XDG_STATE_HOME", Dir() + "/" + state}};
    }
    CtlResult Ctl(const std::vector<std::string>& args, const std::string& state) {
        return CtlProcess(args, CtlEnv(state)).Finish(120s);
    }

    // A socket file nobody listens on any more, as a killed service leaves it.
    void LeaveStaleSocket() {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", SocketPath().c_str());
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ::close(fd);
    }
};

const sim::BoardOptions kBoard = Options(115200, 0x12, 0x02);

// The first names the port; the others go to the board remembered since.
const std::vector<std::vector<std::string>> kCommands = {
    {"--port", "COM3", "--baud", "115200", "info"},
    {"--json", "info"},
    {"relays"},
    {"relay", "3", "on"},
    {"--json", "relay", "1-2", "toggle"},
    {"relay", "2", "toggle"},
    {"relays", "0x21"},
    {"--json", "relays"},
    {"relay", "4", "off", "--wait-input", "2=high", "--timeout", "5"},
    {"--json", "relays", "0", "--wait-input", "1=high", "--timeout", "0.3"},
    {"inputs"},
    {"--json", "inputs"},
    {"supply"},
    {"--json", "supply"},
    {"config"},
    {"config", "set", "--retry", "7", "--keep-relays", "on"},
    {"--json", "config", "set", "--error-report", "off"},
    {"--json", "config"},
    {"reset"},
    {"--json", "config", "set", "--baud", "57600", "--reset"},
    {"info"},
};

TEST_F(SocketTest, TheToolThroughTheServiceGivesWhatItGivesOnThePort) {
    Board(3, kBoard);
    // Without --allow-local-writes: the socket's callers may still change the board.
    StartService({"--port", "COM3", "--baud", "115200"});
    ASSERT_TRUE(WaitForState(3, "online")) << Service().Log();
    std::vector<CtlResult> through;
    for (const auto& args : kCommands) through.push_back(Ctl(args, "through"));
    EXPECT_NE(Service().Log().find("change by socket uid " + std::to_string(::getuid()) + " pid "),
              std::string::npos)
        << Service().Log();
    StopService();

    Board(3, kBoard);  // the same board as it was at the start
    for (size_t i = 0; i < kCommands.size(); ++i) {
        const std::vector<std::string>& args = kCommands[i];
        SCOPED_TRACE(::testing::PrintToString(args));
        const CtlResult direct = Ctl(args, "direct");
        EXPECT_EQ(through[i].status, direct.status) << through[i].err << "\n" << direct.err;
        EXPECT_EQ(through[i].out, direct.out);
        EXPECT_FALSE(direct.out.empty());
    }
}

TEST_F(SocketTest, WatchAndWaitFollowTheBoardThroughTheService) {
    auto& board = Board(3, kBoard);
    StartService({"--port", "COM3", "--baud", "115200"});
    ASSERT_TRUE(WaitForState(3, "online")) << Service().Log();
    const std::string where = "  COM3 (" + ComPath(3) + ") at 115200 Bd  inputs ";
    CtlProcess watch({"--port", "COM3", "watch", "--count", "2", "--timeout", "20"},
                     CtlEnv("state"));
    ASSERT_TRUE(watch.WaitForOutput(where + "0x02 (active: 2)  now\n", 10s)) << watch.Err();
    board.SetInputs(0x83);
    ASSERT_TRUE(watch.WaitForOutput(where + "0x83 (active: 1 2 8)  changed: 1 8\n", 10s));
    board.SetInputs(0x03);
    const CtlResult watched = watch.Finish(20s);
    EXPECT_EQ(watched.status, 0) << watched.err;
    EXPECT_NE(watched.out.find(where + "0x03 (active: 1 2)  changed: 8\n"), std::string::npos)
        << watched.out;

    const int reads = CountFrames(board, 0xB1);
    CtlProcess wait({"--port", "COM3", "relays", "5", "--wait-input", "3=high", "--timeout", "20"},
                    CtlEnv("state"));
    ASSERT_TRUE(wait.WaitForOutput("relays 0x05", 10s)) << wait.Err();
    // Once its read is answered: a change on the line during a read is another matter.
    ASSERT_EQ(FramesOnceThey(board, 0xB1, reads + 1), reads + 1);
    std::this_thread::sleep_for(200ms);
    board.SetInputs(0x07);
    const CtlResult waited = wait.Finish(20s);
    EXPECT_EQ(waited.status, 0) << waited.err;
    if (waited.status != 0) {
        for (const auto& w : board.WireLog()) {
            std::string hex;
            for (auto b : w.bytes) {
                char t[4];
                std::snprintf(t, 4, "%02X ", b);
                hex += t;
            }
            std::printf("%lld %s %d %s\n",
                        (long long)std::chrono::duration_cast<std::chrono::microseconds>(
                            w.time.time_since_epoch())
                                .count() %
                            100000000,
                        w.sent ? "->" : "<-", int(w.kind), hex.c_str());
        }
        std::printf("%s\n", Service().Log().c_str());
    }
    EXPECT_NE(waited.out.find("COM3 (" + ComPath(3) + "): input 3 high"), std::string::npos)
        << waited.out;
}

// The service sends the image; the tool follows its job and reads back what the board runs.
TEST_F(SocketTest, AFlashThroughTheServiceEndsAsOneOnThePort) {
    const std::string image = WriteFile("fw.bin", MakeImage("2.00b", 7));
    const std::vector<std::string> flash = {"--port", "COM3",  "--baud", "115200",
                                            "--json", "flash", image};
    const auto withoutTime = [](const CtlResult& r) {
        QJsonObject doc = r.Json();
        QJsonArray boards = doc["boards"].toArray();
        QJsonObject first = boards[0].toObject();
        EXPECT_GT(first["seconds"].toDouble(), 0.0);
        first.remove("seconds");
        boards[0] = first;
        doc["boards"] = boards;
        return doc;
    };
    Board(3, kBoard);
    StartService({"--port", "COM3", "--baud", "115200"});
    ASSERT_TRUE(WaitForState(3, "online")) << Service().Log();
    const CtlResult through = Ctl(flash, "through");
    ASSERT_EQ(through.status, 0) << through.err;
    EXPECT_NE(Service().Log().find("firmware 2.00b"), std::string::npos) << Service().Log();
    StopService();

    Board(3, kBoard);
    const CtlResult direct = Ctl(flash, "direct");
    ASSERT_EQ(direct.status, 0) << direct.err;
    EXPECT_EQ(withoutTime(through), withoutTime(direct)) << through.out << direct.out;
    EXPECT_EQ(withoutTime(through)["boards"][0]["new_version"], "2.00b");
}

// A board the service asks in vain is one that stays silent (exit 2); one it has lost, a
// port error (exit 3), as on the port itself.
TEST_F(SocketTest, TheServicesFailuresAreTheToolsExitStatus) {
    auto& board = Board(3, kBoard);
    StartService({"--port", "COM3", "--baud", "115200"});
    ASSERT_TRUE(WaitForState(3, "online")) << Service().Log();
    board.SetSilent(true);
    const CtlResult silent = Ctl({"--port", "COM3", "relays"}, "state");
    EXPECT_EQ(silent.status, 2) << silent.err;
    EXPECT_EQ(silent.err.rfind("swb808ctl: COM3 (" + ComPath(3) + "): ", 0), 0u) << silent.err;
    EXPECT_NE(silent.err.find(" (through swb808d)\n"), std::string::npos) << silent.err;

    board.Stop();
    ASSERT_TRUE(WaitForState(3, "offline")) << Service().Log();
    const CtlResult lost = Ctl({"--port", "COM3", "--json", "relays"}, "state");
    EXPECT_EQ(lost.status, 3) << lost.err;
    EXPECT_EQ(lost.Json()["error"].toObject()["code"], "port_error") << lost.out;
    EXPECT_NE(lost.err.find("offline"), std::string::npos) << lost.err;
}

// Without a port or a remembered board: the service's board is the one found, its port not
// probed (it would be in use).
TEST_F(SocketTest, ASearchFindsTheServicesBoard) {
    Board(3, kBoard);
    StartService({"--port", "COM3", "--baud", "115200"});
    ASSERT_TRUE(WaitForState(3, "online")) << Service().Log();
    const std::string port = "COM3 (" + ComPath(3) + ")";
    const CtlResult read = Ctl({"inputs"}, "search");
    EXPECT_EQ(read.status, 0) << read.err;
    EXPECT_EQ(read.out, port + ": inputs 0x02 (active: 2)\n");
    const CtlResult scan = Ctl({"scan"}, "scan");
    EXPECT_EQ(scan.status, 0) << scan.err;
    EXPECT_EQ(scan.out.rfind(port + "  115200 Bd  firmware 1.07a  SWB808", 0), 0u) << scan.out;
}

TEST_F(SocketTest, DirectLeavesTheServicesPortAlone) {
    auto& board = Board(3, kBoard);
    StartService({"--port", "COM3", "--baud", "115200"});
    ASSERT_TRUE(WaitForState(3, "online")) << Service().Log();
    const CtlResult r = Ctl({"--direct", "--port", "COM3", "relays", "0xFF"}, "state");
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.err, "swb808ctl: COM3 (" + ComPath(3) + ") is in use by another program\n");
    EXPECT_EQ(CountFrames(board, 0xB2), 0);
    EXPECT_EQ(board.Relays(), 0x12);
}

TEST_F(SocketTest, TheSocketIsForTheDialoutGroupAndGoneAtTheEnd) {
    Board(3, kBoard);
    StartService({"--port", "COM3"});
    ASSERT_TRUE(Service().WaitForLog("listening on " + SocketPath())) << Service().Log();
    struct stat st {};
    ASSERT_EQ(::lstat(SocketPath().c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0660u);
    if (const group* dialout = ::getgrnam("dialout")) {
        EXPECT_EQ(st.st_gid, dialout->gr_gid);
    }
    StopService();
    EXPECT_FALSE(std::filesystem::exists(SocketPath()));
}

TEST_F(SocketTest, AStaleSocketIsReplacedAndALiveOneRefused) {
    Board(3, kBoard);
    LeaveStaleSocket();
    StartService({"--port", "COM3", "--baud", "115200"});
    ASSERT_TRUE(WaitForState(3, "online")) << Service().Log();
    EXPECT_EQ(Ctl({"--port", "COM3", "relays"}, "state").status, 0);

    ServiceProcess second({"--listen", "127.0.0.1:0", "--port", "COM4"},
                          {{"XDG_RUNTIME_DIR", Dir()}, {"XDG_STATE_HOME", Dir() + "/state"}});
    EXPECT_EQ(second.Wait(20s), 1);
    EXPECT_NE(second.Log().find("another swb808d answers on " + SocketPath()), std::string::npos)
        << second.Log();
    EXPECT_EQ(Ctl({"--port", "COM3", "relays"}, "state").status, 0) << "the first keeps its socket";
}

}  // namespace
}  // namespace swb808::service::test
