// Which board a command talks to: a change goes to the board meant or to none, a search that
// finds several boards picks none of them, and every result names its port.

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QJsonArray>

#include "tests/cli/cli_fixture.h"

namespace swb808::cli::test {
namespace {

using namespace std::chrono_literals;

class CliSelection : public CliTest {};

// The remembered board is silent and another board answers elsewhere: nothing that changes a
// board may go there.
TEST_F(CliSelection, ChangesGoToTheRememberedBoardOrNowhere) {
    Board(3, {"--baud", "115200", "--silent"});
    SimProcess& other = Board(4, {"--baud", "115200"});
    Remember(3, 115200);
    const std::string untouched = other.Status();
    const std::string image = WriteFile("fw.bin", MakeImage("1.08a", 0x5A));
    const std::vector<std::vector<std::string>> changes = {{"relay", "3", "on"},
                                                           {"relays", "0xFF"},
                                                           {"config", "set", "--retry", "9"},
                                                           {"reset"},
                                                           {"flash", image}};
    for (std::vector<std::string> args : changes) {
        SCOPED_TRACE(args[0]);
        args.insert(args.begin(), {"--baud", "115200"});
        const CtlResult r = Run(args);
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_NE(r.err.find("COM3 (" + ComPath(3) + ")"), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("COM4"), std::string::npos) << r.err;
    }
    EXPECT_EQ(other.Status(), untouched);
    EXPECT_EQ(Remembered()["port"].toString(), "COM3");
}

// Reading may look elsewhere, and says so.
TEST_F(CliSelection, AReadSearchesPastASilentRememberedBoard) {
    Board(3, {"--baud", "115200", "--silent"});
    Board(4, {"--baud", "115200"});
    Remember(3, 115200);
    const CtlResult r = Run({"--baud", "115200", "inputs"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("searching COM1-COM16"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "COM4 (" + ComPath(4) + "): inputs 0x00 (active: none)\n");
}

TEST_F(CliSelection, ASearchThatFindsSeveralBoardsPicksNone) {
    SimProcess& two = Board(2, {"--baud", "115200"});
    SimProcess& five = Board(5, {"--baud", "115200"});
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"relay", "1", "on"}, {"inputs"}}) {
        SCOPED_TRACE(args[0]);
        std::vector<std::string> a = {"--json", "--baud", "115200"};
        a.insert(a.end(), args.begin(), args.end());
        const CtlResult r = Run(a);
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_NE(r.err.find("COM2 (" + ComPath(2) + ") at 115200 Bd, COM5 (" + ComPath(5) +
                             ") at 115200 Bd"),
                  std::string::npos)
            << r.err;
        EXPECT_EQ(r.Json()["error"].toObject()["code"].toString(), "usage") << r.out;
    }
    EXPECT_TRUE(two.StatusShows("relays 0x00"));
    EXPECT_TRUE(five.StatusShows("relays 0x00"));
    EXPECT_EQ(Remembered(), QJsonObject());
}

// With one board present a search takes it; each result names where it was found.
TEST_F(CliSelection, EveryResultNamesThePort) {
    Board(5, {"--baud", "115200", "--relays", "0x01"});
    const std::string five = "COM5 (" + ComPath(5) + ")";
    const CtlResult first = Run({"--baud", "115200", "relay", "2,5", "on"});
    ASSERT_EQ(first.status, 0) << first.err;
    EXPECT_NE(first.err.find("searching"), std::string::npos) << first.err;
    EXPECT_EQ(first.out, five + ": relays 0x13 (on: 1 2 5)\n");
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"relays"}, five + ": relays 0x13"},
        {{"relays", "0x80"}, five + ": relays 0x80"},
        {{"inputs"}, five + ": inputs 0x00"},
        {{"supply"}, five + ": supply 4.853 V"},
        {{"config"}, "board:        " + five + " at 115200 Bd"},
        {{"config", "set", "--retry", "3"}, "board:        " + five + " at 115200 Bd"},
        {{"info"}, "board:        " + five + " at 115200 Bd"},
        {{"reset"}, "restarted; found at " + five + " at 115200 Bd"},
    };
    for (const auto& [args, line] : cases) {
        SCOPED_TRACE(args[0]);
        const CtlResult r = Run(args);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out.rfind(line, 0), 0u) << r.out;
        EXPECT_EQ(r.err, "");  // the remembered board: no search
    }
}

// A socket where the service's would be that takes connections and never answers: the tool
// does not wait on it for long, and says what to do.
TEST_F(CliSelection, AServiceThatDoesNotAnswerIsNotWaitedFor) {
    Board(3, {"--baud", "115200"});
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", SocketPath().c_str());
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(fd, 4), 0);

    const auto started = std::chrono::steady_clock::now();
    const CtlResult r = Run({"--port", "COM3", "--baud", "115200", "relays"});
    EXPECT_LT(std::chrono::steady_clock::now() - started, 4s);
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.err.find("swb808d on " + SocketPath() + " did not answer within 2 s; --direct"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(Run({"--port", "COM3", "--baud", "115200", "--direct", "relays"}).status, 0);
    ::close(fd);
}

}  // namespace
}  // namespace swb808::cli::test
