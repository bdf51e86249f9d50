// The session without any widget or QApplication: scan, connect, commands, input changes,
// lost line, stop requests, against the simulator on pseudo-terminals.

#include <sys/file.h>

#include <atomic>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

#include "protocol/board_facts.h"
#include "serial/serial_errors.h"
#include "tests/connection/session_fixture.h"

namespace swb808::testing {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class Session : public SessionTest {};

// At 2400 Bd every reply wait is 125 ms and the identity's 250 ms, long enough to see on the
// line: each command follows the one before only after its wait and one receive turn.
TEST_F(Session, ScanQueriesWithTheWaitsBetweenTheFramesAndConnects) {
    sim::BoardOptions o = UnpacedBoard(2400);
    o.relays = 0x05;
    o.inputs = 0x81;
    sim::BoardSimulator& board = AddBoard(o);

    ASSERT_EQ(ScanOne(2400), 2400);

    EXPECT_EQ(session->State(), SessionState::Connected);
    EXPECT_TRUE(session->IsConnected());
    EXPECT_EQ(session->ConnectedPort(), kBoardCom);
    EXPECT_EQ(session->ConnectedBaud(), 2400);
    EXPECT_EQ(session->OpenedPort(), kBoardCom);
    EXPECT_EQ(session->ScanStep(), 1000 / 14);
    ASSERT_EQ(view.connected.size(), 1u);
    const BoardRecords& r = view.connected[0];
    EXPECT_EQ(r.firmwareVersion, "1.07a");
    EXPECT_EQ(r.relays, 0x05);
    EXPECT_EQ(r.inputs, 0x81);
    EXPECT_EQ(r.vccRaw, 800);
    EXPECT_EQ(view.status.back(), "SWB808 found at COM3 at 2400 Baud, Firmware Version 1.07a");
    EXPECT_EQ(view.messages.back(), "COM3: Baud=2400: SWB808 gefunden, Firmware Version 1.07a");
    EXPECT_EQ(view.messageColour, kMessageBlack);
    EXPECT_EQ(view.progress.back(), 1000);

    // Wire order: wake byte, then B8 B9 B7 B3 B1 B6 B5 BC, each after its wait.
    const auto bytes = ReceivedTimed(board);
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ(bytes[0].byte, board::kWakeByte);
    const int wait = board::ReplyWaitMs(2400);  // 125
    struct Step {
        uint8_t before, after;
        int leastMs;  // from the last byte of `before` to the first of `after`
    };
    const Step steps[] = {
        {board::kGreetingSecond, board::kReadVersion, wait + 310},  // the drain receive
        {board::kReadVersion, board::kReadRelays, wait + 10},
        {board::kReadRelays, board::kReadInputs, wait + 10},
        {board::kReadInputs, board::kReadIdentity, wait + 10},
        {board::kReadIdentity, board::kReadConfig, 4 * (board::IdentityWaitMs(2400) + 10)},
        {board::kReadConfig, board::kReadVcc, wait + 10},
    };
    for (const Step& s : steps) {
        const int a = FrameAt(bytes, s.before), b = FrameAt(bytes, s.after);
        ASSERT_GE(a, 0) << std::hex << int(s.before);
        ASSERT_GT(b, a) << std::hex << int(s.after);
        const auto gap = std::chrono::duration_cast<std::chrono::milliseconds>(
            bytes[size_t(b)].time - bytes[size_t(a) + 6].time);
        EXPECT_GE(gap.count(), s.leastMs - 3) << std::hex << int(s.before) << " -> " << int(s.after);
    }
    EXPECT_EQ(FrameAt(bytes, board::kGreeting), 1) << "the query begins right after the wake byte";
}

// A port named by its device path, at a list of rates: the rates are stepped, the texts name
// the path, and the connected port has no COM number.
TEST_F(Session, DevicePathAndRateListConnect) {
    sim::BoardSimulator& board = AddBoard(UnpacedBoard(115200));
    const std::string path = board.SlavePath();
    const ScanRequest request{{PortRef::Device(path)}, {57600, 115200}};

    ASSERT_EQ(session->Scan(request), 115200);

    EXPECT_EQ(session->ConnectedPort(), 0);
    EXPECT_EQ(session->ConnectedPortRef().device, path);
    EXPECT_NE(std::find(view.status.begin(), view.status.end(),
                        "scanning " + path + " at 57600 Baud..."),
              view.status.end());
    EXPECT_EQ(view.status.back(),
              "SWB808 found at " + path + " at 115200 Baud, Firmware Version 1.07a");
    EXPECT_EQ(session->Port().TargetPath(), path);
}

// Why a port did not open, told apart by the serial layer's codes.
TEST_F(Session, OpenFailuresCarryTheirCode) {
    EXPECT_FALSE(session->OpenSWBPort(PortRef::Device(ports.Path() + "/nothing"), 9600));
    ASSERT_TRUE(session->LastOpenFailure().has_value());
    EXPECT_EQ(session->LastOpenFailure()->code, ecBadId);

    sim::BoardSimulator& board = AddBoard(UnpacedBoard(9600));
    const int other = ::open(board.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
    EXPECT_FALSE(session->OpenSWBPort(PortRef::Com(kBoardCom), 9600));
    ASSERT_TRUE(session->LastOpenFailure().has_value());
    EXPECT_EQ(session->LastOpenFailure()->code, ecAlreadyOpen);
    EXPECT_EQ(view.messageColour, kMessageRed);
    EXPECT_EQ(view.messages.back().rfind("COM3: Baud=9600: ", 0), 0u) << view.messages.back();
    ::close(other);

    session->ForgetOpenedPort();
    EXPECT_TRUE(session->OpenSWBPort(PortRef::Com(kBoardCom), 9600));
    EXPECT_FALSE(session->LastOpenFailure().has_value());
}

// The writes go out as their frames and nothing else; the LEDs show the state asked for.
TEST_F(Session, CommandsSendTheirFrames) {
    sim::BoardSimulator& board = AddBoard(UnpacedBoard(115200));
    ASSERT_EQ(ScanOne(115200), 115200);
    using Bytes = std::vector<uint8_t>;
    struct Case {
        const char* name;
        std::function<void()> run;
        Bytes frame;
    };
    const Case cases[] = {
        {"relays 1 and 3", [&] { session->WriteRelays(0x05); },
         Bytes{0xC1, 0xB2, 0xE1, 0x55, 0x50, 0xA5, 0xDF}},
        {"relay 8 on top", [&] { session->ToggleRelay(8); },
         Bytes{0xC1, 0xB2, 0xE1, 0x55, 0x58, 0xAD, 0xDF}},
        {"config 115200, 2 s, 1 s, all flags",
         [&] { session->SaveConfig({12, 2, 1, true, true, true}); },
         Bytes{0xC1, 0xB4, 0xE7, 0x5C, 0x50, 0x52, 0x50, 0x50, 0x50, 0x51, 0x50, 0x50, 0x50,
               0x57, 0x50, 0x56, 0x51, 0xAD, 0xDF}},
    };
    for (const Case& c : cases) {
        board.ClearRecord();
        c.run();
        ASSERT_TRUE(board.WaitForReceived(c.frame.size(), 2s)) << c.name;
        std::this_thread::sleep_for(20ms);
        EXPECT_EQ(board.ReceivedBytes(), c.frame) << c.name;
    }
    EXPECT_EQ(view.relays, (std::vector<uint8_t>{0x05, 0x85}));
    EXPECT_EQ(board.Relays(), 0x85);
    EXPECT_EQ(board.Config(), (std::array<uint8_t, 6>{12, 2, 0, 1, 0, 7}));

    // Out of range: nothing is sent.
    board.ClearRecord();
    EXPECT_THROW(session->SaveConfig({-1, 2, 1, false, false, false}), ERangeError);
    EXPECT_THROW(session->SaveConfig({5, 65536, 1, false, false, false}), ERangeError);
    std::this_thread::sleep_for(50ms);
    EXPECT_TRUE(board.ReceivedBytes().empty());

    // Reads, as the query makes them.
    board.SetRelays(0x3C);
    EXPECT_EQ(session->ReadRelays(), std::optional<uint8_t>(0x3C));
    EXPECT_EQ(session->ReadInputs(), std::optional<uint8_t>(0x00));
    board.SetSilent(true);
    EXPECT_EQ(session->ReadRelays(), std::nullopt);
}

// "Close": the reset frame, "auto", disconnected, then 2000 ms before it returns.
TEST_F(Session, CloseResetsTheBoardAndWaits) {
    sim::BoardSimulator& board = AddBoard(UnpacedBoard(115200));
    ASSERT_EQ(ScanOne(115200), 115200);
    board.ClearRecord();

    const auto start = Clock::now();
    session->Close();
    const auto took = Clock::now() - start;

    EXPECT_GE(took, 2000ms);
    EXPECT_EQ(board.ReceivedBytes(), (std::vector<uint8_t>{0xC1, 0xBA, 0xE1, 0x50, 0x50, 0xA0, 0xDF}));
    EXPECT_EQ(session->State(), SessionState::Idle);
    EXPECT_FALSE(session->Port().Open());
    EXPECT_EQ(session->OpenedPort(), 0);
    EXPECT_EQ(view.autoBaud, 1);
    EXPECT_EQ(view.status.back(), "disconnected");
    EXPECT_EQ(board.ResetCount(), 1);

    // Not connected: nothing is sent at all.
    board.ClearRecord();
    session->Close();
    session->FormClose();
    EXPECT_TRUE(board.ReceivedBytes().empty());
}

// Input changes reach the view on the session's own thread, the last one last.
TEST_F(Session, InputChangesAreShown) {
    sim::BoardSimulator& board = AddBoard(UnpacedBoard(115200));
    ASSERT_EQ(ScanOne(115200), 115200);
    for (uint8_t v : {0x01, 0x81, 0x05}) {
        board.SetInputs(v);
        ASSERT_TRUE(PumpUntil([&] { return !view.inputs.empty() && view.inputs.back() == v; }))
            << int(v);
    }
    EXPECT_EQ(session->Protocol().OptoState, 0x05);
}

// The device vanishes while connected: the line check disconnects and says so in red.
TEST_F(Session, LostLineDisconnects) {
    sim::BoardSimulator& board = AddBoard(UnpacedBoard(115200));
    ASSERT_EQ(ScanOne(115200), 115200);
    board.Stop();
    ASSERT_TRUE(PumpUntil([&] { return !session->IsConnected(); }, 5s));
    EXPECT_EQ(view.messages.back(), "COM3: Verbindung zum Gerät verloren");
    EXPECT_EQ(view.messageColour, kMessageRed);
    EXPECT_EQ(view.status.back(), "COM3: Verbindung zum Gerät verloren");
    EXPECT_FALSE(session->Port().Open());
    EXPECT_EQ(view.disconnects, 1);
}

// A stop from another thread ends an "auto" scan before its next pair.
TEST_F(Session, StopRequestEndsTheScan) {
    // A silent line at 300 Bd costs over a second per rate.
    sim::BoardOptions o = UnpacedBoard(9600);
    sim::BoardSimulator& board = AddBoard(o);
    board.SetSilent(true);
    std::atomic<bool> stopped{false};
    std::thread stopper([&] {
        std::this_thread::sleep_for(300ms);
        session->RequestStop();
        stopped = true;
    });
    const auto start = Clock::now();
    EXPECT_EQ(session->Scan(ScanRequest::Auto()), 0);
    const auto took = Clock::now() - start;
    stopper.join();
    EXPECT_TRUE(stopped);
    // 300 Bd's query would take 1 s of reply waits plus the drain; one pair at most is left.
    EXPECT_LT(took, 5s);
    EXPECT_EQ(view.status.back(), "SWB808 not found");
    EXPECT_EQ(session->State(), SessionState::Idle);
    // Sticky until cleared: the next scan does not even start its pairs.
    const auto before = board.ReceivedBytes().size();
    EXPECT_EQ(ScanOne(9600), 0);
    EXPECT_EQ(board.ReceivedBytes().size(), before);
    session->ClearStopRequest();
    board.SetSilent(false);
    EXPECT_EQ(ScanOne(9600), 9600);
}

}  // namespace
}  // namespace swb808::testing
