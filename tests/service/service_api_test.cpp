// The HTTP API against a simulated board: what each request puts on the wire, what a bad
// request is refused with before anything is sent, the bounded queue and the event stream.

#include <atomic>

#include "tests/service/service_fixture.h"

namespace swb808::service::test {
namespace {

constexpr uint8_t kRelayWrite = 0xB2, kConfigWrite = 0xB4, kReset = 0xBA, kUpdate = 0xBB;

class ApiTest : public ServiceTest {
  protected:
    void Start(sim::BoardOptions options = Options(115200), std::vector<std::string> extra = {}) {
        board_ = &Board(3, options);
        std::vector<std::string> args{"--port", "COM3", "--baud", std::to_string(options.baud),
                                      "--allow-local-writes"};
        args.insert(args.end(), extra.begin(), extra.end());
        StartService(args);
        ASSERT_TRUE(WaitForState(3, "online")) << Service().Log();
        base_ = "/api/v1/boards/" + BoardId(3);
        board_->ClearRecord();
    }
    int Writes() const {
        int n = 0;
        for (uint8_t c : {kRelayWrite, kConfigWrite, kReset, kUpdate}) n += CountFrames(*board_, c);
        return n;
    }
    sim::BoardSimulator* board_ = nullptr;
    std::string base_;
};

TEST_F(ApiTest, BadRequestsAreRefusedBeforeAnythingIsSent) {
    Start();
    struct Case {
        const char* method;
        std::string path, body;
        int status;
    };
    const std::vector<Case> cases = {
        {"PUT", base_ + "/relays", "{\"mask\":", 400},
        {"PUT", base_ + "/relays", "[1,2]", 400},
        {"PUT", base_ + "/relays", R"({"mask":256})", 400},
        {"PUT", base_ + "/relays", R"({"mask":1.5})", 400},
        {"PUT", base_ + "/relays", R"({"mask":1,"on":[2]})", 400},
        {"PUT", base_ + "/relays", R"({"on":[1],"off":[1]})", 400},
        {"PUT", base_ + "/relays", R"({"on":[0]})", 400},
        {"PUT", base_ + "/relays", R"({"masks":1})", 400},
        {"PUT", base_ + "/relays", "", 400},
        {"PUT", base_ + "/relays/9", R"({"state":"on"})", 400},
        {"PUT", base_ + "/relays/0", R"({"state":"on"})", 400},
        {"PUT", base_ + "/relays/1", R"({"state":"maybe"})", 400},
        {"POST", base_ + "/relays/1/pulse", R"({"ms":0})", 400},
        {"PUT", base_ + "/config", R"({"baud":1234})", 400},
        {"PUT", base_ + "/config", R"({"retry_delay":70000})", 400},
        {"PUT", base_ + "/config", R"({"keep_relays":"yes"})", 400},
        {"POST", base_ + "/firmware", std::string(6143, 'x'), 400},
        {"POST", base_ + "/firmware", std::string(6144, 'x'), 400},  // no version in it
        {"PUT", "/api/v1/boards/nosuchboard/relays", R"({"mask":1})", 404},
        {"GET", "/api/v1/boards/nosuchboard", "", 404},
        {"GET", "/api/v1/nothing", "", 404},
        {"DELETE", base_ + "/relays", "", 405},
        {"GET", base_ + "/reset", "", 405},
        {"PUT", base_ + "/relays", std::string(70 * 1024, ' '), 413},
        {"POST", base_ + "/firmware", MakeImage("2.00b", 1) + "x", 413},
    };
    for (const auto& c : cases) {
        const HttpAnswer a = Http(Port(), c.method, c.path, c.body);
        EXPECT_EQ(a.status, c.status) << c.method << " " << c.path << " " << c.body.substr(0, 40);
        EXPECT_EQ(a.Header("content-type"), "application/problem+json") << c.path;
        EXPECT_FALSE(a.Json()["detail"].toString().isEmpty()) << c.path;
    }
    EXPECT_EQ(Writes(), 0);
    EXPECT_EQ(board_->Relays(), 0);
}

TEST_F(ApiTest, RelayRequestsPutOneFrameEach) {
    Start();
    EXPECT_EQ(Put(base_ + "/relays", R"({"mask":5})").status, 200);
    const HttpAnswer both = Put(base_ + "/relays", R"({"on":[8,2],"off":[1]})");
    EXPECT_EQ(both.status, 200);
    EXPECT_EQ(both.Json()["relays"].toInt(), 0x86);
    EXPECT_EQ(Put(base_ + "/relays/2", R"({"state":"toggle"})").Json()["relays"].toInt(), 0x84);
    EXPECT_EQ(Put(base_ + "/relays/4", R"({"state":"on"})").Json()["relays_on"].toArray(),
              QJsonArray({3, 4, 8}));
    // The answer comes once the frame has left; the board takes it a moment later.
    FramesOnceThey(*board_, kRelayWrite, 4);
    std::vector<std::vector<uint8_t>> payloads;
    for (const auto& f : board_->FramesReceived())
        if (f.command == kRelayWrite)
            payloads.push_back({f.payload.begin(), f.payload.begin() + 1});
    EXPECT_EQ(payloads, (std::vector<std::vector<uint8_t>>{{0x05}, {0x86}, {0x84}, {0x8C}}));
    EXPECT_EQ(board_->Relays(), 0x8C);
    EXPECT_EQ(Get(base_ + "/relays").Json()["relays"].toInt(), 0x8C);
}

TEST_F(ApiTest, ReadsChangeNothing) {
    Start();
    for (const std::string path : {"", "/relays", "/inputs", "/supply", "/config"}) {
        EXPECT_EQ(Get(base_ + path).status, 200) << path;
        EXPECT_EQ(Get(base_ + path + "?fresh=1").status, 200) << path;
    }
    EXPECT_EQ(Get("/api/v1/boards").status, 200);
    EXPECT_EQ(Get("/metrics").status, 200);
    EXPECT_EQ(Writes(), 0);
    EXPECT_FALSE(board_->FramesReceived().empty());  // the fresh reads did ask the board
}

// The board restarts at its new stored rate: the answer and every answer after it say so.
TEST_F(ApiTest, AConfigurationWithResetAnswersTheRateTheBoardRestartedAt) {
    Start();
    const HttpAnswer written = Put(base_ + "/config", R"({"baud":57600,"reset":true})");
    ASSERT_EQ(written.status, 200) << written.body;
    EXPECT_EQ(written.Json()["baud"].toInt(), 57600);
    EXPECT_EQ(written.Json()["config"].toObject()["baud"].toInt(), 57600);
    EXPECT_EQ(Get(base_ + "/relays").Json()["baud"].toInt(), 57600);
}

TEST_F(ApiTest, InputsFollowTheBoardAndFreshAsksIt) {
    Start();
    EventClient events(Port());
    ASSERT_EQ(events.Status(), 200);
    board_->SetInputs(0x81);
    const auto change = events.NextOfType("input_change");
    ASSERT_TRUE(change);
    EXPECT_EQ(change->data["inputs"].toInt(), 0x81);
    EXPECT_TRUE(change->id);
    const HttpAnswer cached = Get(base_ + "/inputs");
    EXPECT_EQ(cached.Json()["inputs"].toInt(), 0x81);
    EXPECT_EQ(cached.Json()["inputs_active"].toArray(), QJsonArray({1, 8}));
    board_->ClearRecord();
    EXPECT_EQ(Get(base_ + "/inputs?fresh=1").Json()["age_ms"].toInt(), 0);
    EXPECT_EQ(CountFrames(*board_, 0xB1), 1);
}

TEST_F(ApiTest, AFullQueueAnswers503InsteadOfGrowing) {
    // At 2400 Bd a read takes a good part of a second: the requests pile up.
    const std::string config = WriteFile("swb808d.conf", "[service]\nqueue = 1\n");
    Start(Options(2400), {"--config", config});
    std::vector<std::thread> clients;
    std::atomic<int> ok{0}, full{0};
    std::atomic<bool> retryAfter{true};
    for (int i = 0; i < 6; ++i)
        clients.emplace_back([&] {
            const HttpAnswer a = Get(base_ + "/supply?fresh=1");
            if (a.status == 503) {
                ++full;
                if (a.Header("retry-after").empty()) retryAfter = false;
            } else {
                ++ok;
            }
        });
    for (auto& t : clients) t.join();
    EXPECT_GE(full.load(), 1);
    EXPECT_GE(ok.load(), 1);
    EXPECT_TRUE(retryAfter.load());
}

TEST_F(ApiTest, LastEventIdReplaysWhatTheClientMissed) {
    Start();
    std::vector<uint64_t> ids;
    {
        EventClient first(Port());
        for (uint8_t in : {0x01, 0x03, 0x07}) {
            board_->SetInputs(in);
            const auto e = first.NextOfType("input_change");
            ASSERT_TRUE(e && e->id);
            ids.push_back(*e->id);
        }
    }
    EventClient again(Port(), {{"Last-Event-ID", std::to_string(ids[0])}});
    const auto second = again.NextOfType("input_change");
    const auto third = again.NextOfType("input_change");
    ASSERT_TRUE(second && third);
    EXPECT_EQ(second->id, ids[1]);
    EXPECT_EQ(third->data["inputs"].toInt(), 0x07);
    EXPECT_EQ(third->id, ids[2]);
    // A number from before the ring (or an earlier run) says so, then replays what there is.
    EventClient stale(Port(), {{"Last-Event-ID", "999999"}});
    const auto notice = stale.Next();
    ASSERT_TRUE(notice);
    EXPECT_EQ(notice->data["type"], "resync");
}

TEST_F(ApiTest, ASlowEventClientIsDroppedWithoutHoldingUpTheOthers) {
    const std::string config = WriteFile("swb808d.conf", "[service]\nevent_backlog = 32\n");
    Start(Options(115200), {"--config", config});
    EventClient slow(Port(), {}, 1024);
    ASSERT_EQ(slow.Status(), 200);
    EventClient reader(Port());
    ASSERT_EQ(reader.Status(), 200);
    // More than the kernel's buffers of the stalled connection hold, and its backlog.
    constexpr int kChanges = 800;
    std::optional<uint64_t> lastId;
    for (int i = 1; i <= kChanges; ++i) {
        board_->SetInputs(uint8_t(i));
        if (i % 10 == 0) {  // the reader keeps up, in order
            for (;;) {
                const auto e = reader.NextOfType("input_change", 10s);
                ASSERT_TRUE(e) << "at change " << i;
                ASSERT_TRUE(!lastId || *e->id > *lastId);
                lastId = e->id;
                if (e->data["inputs"].toInt() == i % 256) break;
            }
        }
    }
    const auto last = slow.ReadToEnd(20s);
    ASSERT_FALSE(last.empty());
    EXPECT_EQ(last.back().data["type"], "dropped");
    EXPECT_FALSE(slow.Connected());
    EXPECT_TRUE(Service().WaitForLog("did not keep up"));
}

}  // namespace
}  // namespace swb808::service::test
