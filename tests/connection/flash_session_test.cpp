// The transfer on a session without Qt: the in-application path, the stopped search, and two
// sessions on two threads that scan, connect and flash at once.

#include <atomic>
#include <thread>

#include "firmware/firmware_transfer.h"
#include "protocol/board_facts.h"
#include "tests/connection/session_fixture.h"

namespace swb808::testing {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TFirmwareImage TestImage(uint32_t seed) {
    TFirmwareImage image{};
    for (auto& b : image) {
        seed = seed * 1103515245u + 12345u;
        b = static_cast<uint8_t>(seed >> 16);
    }
    WriteImageChecksum(image);
    return image;
}

// 0xBB, then the entry wait and the drain receive, then the blocks; progress per block; the
// session ends disconnected.
class FlashSession : public SessionTest {};

TEST_F(FlashSession, InApplicationPathSendsTheImageAfterTheEntry) {
    sim::BoardSimulator& board = AddBoard(UnpacedBoard(115200));
    ASSERT_EQ(ScanOne(115200), 115200);
    board.ClearRecord();
    const TFirmwareImage image = TestImage(7);

    FirmwareTransfer transfer(*session);
    const FlashResult result = transfer.Run(image);

    EXPECT_EQ(result.outcome, FlashOutcome::Complete);
    EXPECT_EQ(result.blocksDone, 96);
    EXPECT_TRUE(board.ImageValid());
    EXPECT_EQ(board.Image(), std::vector<uint8_t>(image.begin(), image.end()));
    ASSERT_EQ(view.blocks.size(), 96u);
    EXPECT_EQ(view.blocks.back(), 96);
    EXPECT_EQ(view.blockCount, 96);
    EXPECT_TRUE(view.errors.empty());
    EXPECT_EQ(session->State(), SessionState::Idle);
    EXPECT_FALSE(session->Port().Open());
    EXPECT_EQ(view.status.back(), "disconnected");
    EXPECT_FALSE(transfer.SendingBlocks());

    const auto bytes = ReceivedTimed(board);
    ASSERT_GE(bytes.size(), 7u + 66u);
    EXPECT_EQ(FrameAt(bytes, board::kEnterUpdate), 0);
    // Entry wait (1 ms at 115200) and the drain receive's 31 turns of 10 ms.
    const auto gap = bytes[7].time - bytes[6].time;
    EXPECT_GE(gap, std::chrono::milliseconds(board::UpdateEntryWaitMs(115200) + 310 - 3));
    EXPECT_EQ(bytes[7].byte, image[0]);
}

// The session's stop ends the bootloader search within one probe, with no error box.
TEST_F(FlashSession, StopEndsTheSearchWithinOneProbe) {
    sim::BoardSimulator& board = AddBoard(UnpacedBoard(9600), 1);  // firmware: ignores probes
    std::thread stopper([&] {
        board.WaitForReceived(3, 10s);
        session->RequestStop();
    });
    FirmwareTransfer transfer(*session);
    const auto start = Clock::now();
    const FlashResult result = transfer.Run(TestImage(1));
    const auto took = Clock::now() - start;
    stopper.join();
    const size_t probes = board.ReceivedBytes().size();

    EXPECT_EQ(result.outcome, FlashOutcome::SearchStopped);
    EXPECT_LT(took, 5s);
    EXPECT_GE(probes, 3u);
    EXPECT_LE(probes, 4u) << "at most the probe under way when the stop came";
    EXPECT_TRUE(view.errors.empty());
    EXPECT_EQ(session->State(), SessionState::Idle);
}

// Two boards, two sessions, two plain threads: each scans its own port, connects, writes its
// relays and flashes its own image, all at once; each board gets exactly its own bytes.
TEST(TwoSessions, OnTwoThreadsEachGetsItsOwnBytes) {
    Watchdog watchdog(120s);
    test::TempPortDir ports;
    struct Side {
        int com;
        uint8_t relays;
        uint32_t seed;
        std::unique_ptr<sim::BoardSimulator> board;
        FlashResult result;
        int32_t found = 0;
        std::vector<uint8_t> inputsShown;
        std::thread::id inputsThread, ranOn;
    };
    Side sides[2] = {{3, 0x11, 11, nullptr, {}, 0, {}, {}, {}},
                     {4, 0x22, 22, nullptr, {}, 0, {}, {}, {}}};
    for (Side& s : sides) {
        sim::BoardOptions o = UnpacedBoard(115200);
        o.link = ports.ComPath(s.com);
        s.board = std::make_unique<sim::BoardSimulator>(o);
        s.board->Start();
    }
    std::atomic<int> ready{0};
    const auto run = [&](Side& s) {
        auto queue = std::make_shared<TLogicQueue>();
        ScopedEventPump pump(queue->Pump());
        RecordingView view;
        BoardSession session(view);
        session.AttachTo(queue);
        ++ready;
        while (ready < 2) std::this_thread::yield();
        s.ranOn = std::this_thread::get_id();
        // An "auto" scan of both ports would find the other board first: each its own.
        s.found = session.Scan(ScanRequest{{PortRef::Com(s.com)}, ScanRequest::AllRates()});
        if (s.found == 0) return;
        session.WriteRelays(s.relays);
        s.board->SetInputs(s.relays);
        const auto end = Clock::now() + 3s;
        while ((view.inputs.empty() || view.inputs.back() != s.relays) && Clock::now() < end)
            queue->WaitAndProcess(10ms);
        s.inputsShown = view.inputs;
        FirmwareTransfer transfer(session);
        s.result = transfer.Run(TestImage(s.seed));
    };
    std::thread a(run, std::ref(sides[0])), b(run, std::ref(sides[1]));
    a.join();
    b.join();

    for (Side& s : sides) {
        SCOPED_TRACE(s.com);
        EXPECT_EQ(s.found, 115200);
        ASSERT_FALSE(s.inputsShown.empty());
        EXPECT_EQ(s.inputsShown.back(), s.relays) << "its own board's input change";
        EXPECT_EQ(s.board->Relays(), s.relays);
        EXPECT_EQ(s.result.outcome, FlashOutcome::Complete);
        const TFirmwareImage image = TestImage(s.seed);
        EXPECT_EQ(s.board->Image(), std::vector<uint8_t>(image.begin(), image.end()));
        EXPECT_EQ(s.board->FlashCount(), 1);
        // Its own relay frame only.
        const auto received = s.board->ReceivedBytes();
        const Side& other = &s == &sides[0] ? sides[1] : sides[0];
        const uint8_t own[] = {0xC1, 0xB2, 0xE1, uint8_t(0x50 | (s.relays & 0xF)),
                               uint8_t(0x50 | s.relays >> 4)};
        const uint8_t foreign[] = {0xC1, 0xB2, 0xE1, uint8_t(0x50 | (other.relays & 0xF)),
                                   uint8_t(0x50 | other.relays >> 4)};
        EXPECT_NE(std::search(received.begin(), received.end(), std::begin(own), std::end(own)),
                  received.end());
        EXPECT_EQ(std::search(received.begin(), received.end(), std::begin(foreign),
                              std::end(foreign)),
                  received.end());
    }
    EXPECT_NE(sides[0].ranOn, sides[1].ranOn);
}

}  // namespace
}  // namespace swb808::testing
