// The typed board API and its owner thread, without Qt, against the simulator: what goes on
// the wire, the waits between, the errors as values and the events.

#include <thread>

#include "connection/board.h"
#include "connection/board_worker.h"
#include "firmware/firmware_transfer.h"
#include "protocol/board_facts.h"
#include "tests/connection/session_fixture.h"
#include "tests/support/wire_times.h"

namespace swb808::testing {
namespace {

using namespace std::chrono_literals;

class BoardApi : public SessionTest {
  protected:
    OpenRequest One(int32_t baud) { return OpenRequest{{PortRef::Com(kBoardCom)}, {baud}, {}}; }
    std::vector<BoardEvent> events;
    Board board{*session};
    BoardEvents::Subscription sub =
        board.Subscribe([this](const BoardEvent& e) { events.push_back(e); });
    std::vector<BoardEvent> Of(BoardEventKind kind) const {
        std::vector<BoardEvent> out;
        for (const auto& e : events)
            if (e.kind == kind) out.push_back(e);
        return out;
    }
};

TEST_F(BoardApi, OpenGivesTheIdentityAndAnotherBoardIsNotTakenAsTheOld) {
    sim::BoardOptions o = UnpacedBoard(115200);
    o.identity = std::string("  SWB808 S/N 4711 ") + std::string(6, '\0');
    AddBoard(o);

    const auto id = board.Open(One(115200));
    ASSERT_TRUE(id) << id.error().message;
    EXPECT_EQ(id->key, "SWB808 S/N 4711");
    EXPECT_EQ(id->port, PortRef::Com(kBoardCom));
    EXPECT_EQ(id->baud, 115200);
    ASSERT_EQ(Of(BoardEventKind::Connected).size(), 1u);
    EXPECT_EQ(Of(BoardEventKind::Connected)[0].board, "SWB808 S/N 4711");
    EXPECT_EQ(events.front().seq, 1u);

    // Already connected: no second scan.
    EXPECT_EQ(board.Open(One(115200)).error().code, BoardErrc::Busy);
    board.Release();
    OpenRequest expectOther = One(115200);
    expectOther.expectedKey = "SWB808 S/N 0815";
    const auto other = board.Open(expectOther);
    ASSERT_FALSE(other);
    EXPECT_EQ(other.error().code, BoardErrc::OtherBoard);
    EXPECT_FALSE(board.IsConnected());
    EXPECT_FALSE(session->Port().Open());
}

TEST_F(BoardApi, OpenFailuresAreTyped) {
    const auto missing = board.Open(One(9600));
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().code, BoardErrc::PortMissing);
    sim::BoardSimulator& sim = AddBoard(UnpacedBoard(9600));
    sim.SetSilent(true);
    EXPECT_EQ(board.Open(One(9600)).error().code, BoardErrc::NoAnswer);
    EXPECT_EQ(board.ReadRelays().error().code, BoardErrc::NotConnected);
}

// Several relays change in one frame; a bad argument sends nothing.
TEST_F(BoardApi, RelayWritesAreOneFrameEach) {
    sim::BoardOptions o = UnpacedBoard(115200);
    o.relays = 0x05;
    sim::BoardSimulator& sim = AddBoard(o);
    ASSERT_TRUE(board.Open(One(115200)));
    sim.ClearRecord();

    ASSERT_TRUE(board.SetRelays(0x82, 0x01));
    ASSERT_TRUE(board.SetRelay(3, false));
    ASSERT_TRUE(sim.WaitForReceived(14, 2s));
    EXPECT_EQ(test::FrameTimes(sim, board::kWriteRelays).size(), 2u);
    EXPECT_EQ(sim.Relays(), 0x82);
    EXPECT_EQ(board.SetRelay(9, true).error().code, BoardErrc::BadArgument);
    EXPECT_EQ(board.SetRelays(0x01, 0x01).error().code, BoardErrc::BadArgument);
    EXPECT_EQ(board.WriteConfig({5, 65536, 1, false, false, false}).error().code,
              BoardErrc::BadArgument);
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(sim.ReceivedBytes().size(), 14u);
    const auto relays = Of(BoardEventKind::RelayChange);
    ASSERT_EQ(relays.size(), 2u);
    EXPECT_EQ(relays[0].relays, 0x86);
    EXPECT_EQ(relays[1].relays, 0x82);
}

// Each read waits the reply wait after its frame before the next command goes out; a silent
// board is a typed NoAnswer.
TEST_F(BoardApi, ReadsWaitForTheReplyAndCheckIt) {
    sim::BoardOptions o = UnpacedBoard(2400);
    o.vcc = 700;
    o.config = {7, 3, 0, 1, 0, 5};
    sim::BoardSimulator& sim = AddBoard(o);
    ASSERT_TRUE(board.Open(One(2400)));
    sim.ClearRecord();
    sim.SetRelays(0x3C);
    sim.SetVcc(866);

    EXPECT_EQ(board.ReadRelays().value_or(0), 0x3C);
    const auto supply = board.ReadSupply();
    ASSERT_TRUE(supply);
    EXPECT_EQ(supply->raw, 866);
    EXPECT_FALSE(supply->inRange);
    const auto config = board.ReadConfig();
    ASSERT_TRUE(config);
    EXPECT_EQ(ConfigValuesOf(*config).errorDelay, 3);
    EXPECT_TRUE(ConfigValuesOf(*config).keepRelays);
    EXPECT_TRUE(ConfigValuesOf(*config).ignoreErrors);

    const auto b3 = test::FrameTimes(sim, board::kReadRelays);
    const auto bc = test::FrameTimes(sim, board::kReadVcc);
    const auto b5 = test::FrameTimes(sim, board::kReadConfig);
    ASSERT_EQ(b3.size(), 1u);
    ASSERT_EQ(bc.size(), 1u);
    ASSERT_EQ(b5.size(), 1u);
    const int wait = board::ReplyWaitMs(2400);
    EXPECT_GE(test::Ms(bc[0] - b3[0]), wait);
    EXPECT_GE(test::Ms(b5[0] - bc[0]), wait);

    sim.SetSilent(true);
    EXPECT_EQ(board.ReadInputs().error().code, BoardErrc::NoAnswer);
    EXPECT_TRUE(board.IsConnected());
}

// The board's change frame crossing a read, ahead of the reply or behind it: the change is an
// event once, the reply still answers, and nothing is left behind for the next read.
TEST_F(BoardApi, AChangeFrameCrossingAReadIsAnEventAndTheReplyStillAnswers) {
    using At = sim::BoardSimulator::ChangeAt;
    sim::BoardSimulator& sim = AddBoard(UnpacedBoard(9600));
    ASSERT_TRUE(board.Open(One(9600)));
    const auto changes = [&] {
        std::vector<int> masks;
        for (const auto& e : Of(BoardEventKind::InputChange)) masks.push_back(e.inputs);
        return masks;
    };
    sim.SetRelays(0x3C);
    sim.SetInputsAtNextReply(0x81, At::BeforeReply);
    const auto relays = board.ReadRelays();
    ASSERT_TRUE(relays) << relays.error().message;
    EXPECT_EQ(*relays, 0x3C);
    EXPECT_EQ(changes(), std::vector<int>({0x81}));

    sim.SetInputsAtNextReply(0x42, At::BeforeReply);
    const auto inputs = board.ReadInputs();
    ASSERT_TRUE(inputs) << inputs.error().message;
    EXPECT_EQ(*inputs, 0x42);
    EXPECT_EQ(changes(), std::vector<int>({0x81, 0x42}));

    // Behind the reply, inside the read's wait: reported once the read has its answer.
    sim.SetInputsAtNextReply(0x99, At::AfterReply);
    EXPECT_EQ(board.ReadRelays().value_or(0), 0x3C);
    EXPECT_EQ(changes(), std::vector<int>({0x81, 0x42, 0x99}));
}

TEST_F(BoardApi, EventsCarryInputsLostLineAndFoundAgain) {
    sim::BoardSimulator& sim = AddBoard(UnpacedBoard(115200));
    ASSERT_TRUE(board.Open(One(115200)));
    sim.SetInputs(0x81);
    ASSERT_TRUE(PumpUntil([&] { return !Of(BoardEventKind::InputChange).empty(); }));
    EXPECT_EQ(Of(BoardEventKind::InputChange).back().inputs, 0x81);

    const auto again = board.Reset({115200});
    ASSERT_TRUE(again) << again.error().message;
    ASSERT_EQ(Of(BoardEventKind::FoundAgain).size(), 1u);
    EXPECT_EQ(Of(BoardEventKind::FoundAgain)[0].newVersion, "1.07a");
    EXPECT_EQ(sim.ResetCount(), 1);
    for (size_t i = 1; i < events.size(); ++i) EXPECT_EQ(events[i].seq, events[i - 1].seq + 1);

    sub.Reset();
    const size_t seen = events.size();
    sim.SetInputs(0x02);
    PumpUntil([&] { return session->Records().inputs == 0x02; });
    EXPECT_EQ(events.size(), seen);  // the subscription has ended

    sub = board.Subscribe([this](const BoardEvent& e) { events.push_back(e); });
    sim.Stop();
    const auto read = board.ReadRelays();
    ASSERT_FALSE(read);
    EXPECT_EQ(read.error().code, BoardErrc::LineLost);
    ASSERT_EQ(Of(BoardEventKind::Lost).size(), 1u);
    EXPECT_EQ(Of(BoardEventKind::Lost)[0].message, "COM3: Verbindung zum Gerät verloren");
    EXPECT_FALSE(board.IsConnected());
}

// Attached without a query: the version read, input changes once listened for, and a line
// that goes away while the tool only waits.
TEST_F(BoardApi, AnAttachedBoardReadsItsVersionAndReportsChangesAndTheLostLine) {
    sim::BoardSimulator& sim = AddBoard(UnpacedBoard(9600));
    ASSERT_TRUE(board.Attach(PortRef::Com(kBoardCom), 9600));
    sim.SetVersion("1.09b");
    const auto version = board.ReadVersion();
    ASSERT_TRUE(version) << version.error().message;
    EXPECT_EQ(*version, "1.09b");
    EXPECT_EQ(board.Records().firmwareVersion, "1.09b");

    ASSERT_TRUE(board.ListenForInputChanges());
    sim.SetInputs(0x81);
    ASSERT_TRUE(PumpUntil([&] { return !Of(BoardEventKind::InputChange).empty(); }));
    EXPECT_EQ(Of(BoardEventKind::InputChange).back().inputs, 0x81);

    sim.SetSilent(true);
    EXPECT_EQ(board.ReadVersion().error().code, BoardErrc::NoAnswer);

    EXPECT_TRUE(board.LineLostText().empty());
    sim.Stop();
    Result<void> waited;
    for (int i = 0; i < 300 && (waited = board.Wait(10)); ++i) {
    }
    ASSERT_FALSE(waited);
    EXPECT_EQ(waited.error().code, BoardErrc::LineLost);
    EXPECT_FALSE(board.IsAttached());
    EXPECT_FALSE(board.LineLostText().empty());  // still there once the port is closed
}

// A bootloader found by its answer takes the image on the loader link; progress and the
// result come as events.
TEST_F(BoardApi, FlashingOnTheLoaderLinkReportsItsProgress) {
    sim::BoardOptions o = UnpacedBoard(115200);
    o.bootloader = true;
    sim::BoardSimulator& sim = AddBoard(o);
    TFirmwareImage image{};
    for (size_t i = 0; i < image.size(); ++i) image[i] = uint8_t(i * 7);
    WriteImageChecksum(image);

    const FlashResult result = FirmwareTransfer(*session).Run(image, {PortRef::Com(kBoardCom)});
    ASSERT_EQ(result.outcome, FlashOutcome::Complete);
    EXPECT_TRUE(sim.ImageValid());
    const auto progress = Of(BoardEventKind::FlashProgress);
    ASSERT_EQ(progress.size(), board::kBlockCount);
    EXPECT_EQ(progress.back().blocksDone, int(board::kBlockCount));
    const auto done = Of(BoardEventKind::FlashResult);
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].blocksDone, int(board::kBlockCount));
    EXPECT_EQ(done[0].message, "");
    EXPECT_EQ(done[0].port, PortRef::Com(kBoardCom));
    // While the transfer holds the board, the API is busy; after it, let go.
    EXPECT_FALSE(board.IsConnected());
}

// The entry: 0xBB, the entry wait at the connected rate and the drain receive before the first
// block; each block is answered by its sum.
TEST_F(BoardApi, TheLoaderIsEnteredWithItsWaitAndAnswersEachBlock) {
    sim::BoardSimulator& sim = AddBoard(UnpacedBoard(2400));
    ASSERT_TRUE(board.Open(One(2400)));
    sim.ClearRecord();
    auto link = board.Loader();
    ASSERT_TRUE(link);
    ASSERT_TRUE(link->Enter());
    LoaderLink::Block block{};
    for (size_t i = 0; i < block.size(); ++i) block[i] = uint8_t(0xF0 + i);
    const auto answer = link->SendBlock(block);
    ASSERT_TRUE(answer) << answer.error().message;
    EXPECT_EQ(*answer, LoaderLink::BlockSum(block));
    EXPECT_EQ(sim.BlocksReceived(), 1u);

    const auto bytes = ReceivedTimed(sim);
    const int entry = FrameAt(bytes, board::kEnterUpdate);
    ASSERT_EQ(entry, 0);
    const auto gap = bytes[7].time - bytes[6].time;  // the entry frame's end, the first block byte
    EXPECT_GE(test::Ms(gap), board::UpdateEntryWaitMs(2400) + 300);
    board.Release();
}

// Requests from many threads reach the wire one at a time, in the order posted; a full queue
// answers at once.
TEST(BoardWorkerTest, RequestsRunInOrderAndAFullQueueIsOverloaded) {
    Watchdog watchdog{std::chrono::seconds(60)};
    test::TempPortDir ports;
    sim::BoardOptions o = UnpacedBoard(115200);
    o.link = ports.ComPath(4);
    sim::BoardSimulator sim(o);
    sim.Start();

    BoardWorker worker(4);
    const PortRef port = PortRef::Com(4);
    auto opened = worker.Post([&](Board& b) { return b.Open({{port}, {115200}, {}}); });
    ASSERT_TRUE(opened.get());
    std::vector<uint8_t> seen;
    auto sub = worker.Subscribe([&](const BoardEvent& e) {
        if (e.kind == BoardEventKind::RelayChange) seen.push_back(e.relays);
    });

    // A request that holds the owner thread until the writes are queued behind it.
    std::promise<void> running, release;
    auto hold = worker.Post([&](Board&) -> Result<void> {
        running.set_value();
        release.get_future().wait();
        return {};
    });
    running.get_future().wait();
    std::vector<std::future<Result<void>>> writes;
    std::thread other([&] {
        for (uint8_t m = 1; m <= 5; ++m)
            writes.push_back(worker.Post([m](Board& b) { return b.WriteRelays(m); }));
    });
    other.join();
    release.set_value();
    ASSERT_TRUE(hold.get());
    int overloaded = 0;
    for (auto& w : writes) {
        const auto r = w.get();
        if (!r) overloaded += r.error().code == BoardErrc::Overloaded;
    }
    EXPECT_EQ(overloaded, 1);  // the fifth found four waiting
    auto last = worker.Post([](Board& b) { return b.ReadRelays(); });
    EXPECT_EQ(last.get().value_or(0), 4);
    EXPECT_EQ(seen, (std::vector<uint8_t>{1, 2, 3, 4}));
    EXPECT_EQ(sim.Relays(), 4);
}

}  // namespace
}  // namespace swb808::testing
