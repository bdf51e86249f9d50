// Flashing through the service: a whole transfer with its job, and SIGTERM in the middle of
// one, which must finish the blocks before the service ends.

#include "tests/service/service_fixture.h"

namespace swb808::service::test {
namespace {

class FlashTest : public ServiceTest {
  protected:
    std::string StartFlash(sim::BoardSimulator& board, const std::string& image) {
        (void)board;
        StartService({"--port", "COM3", "--baud", "115200", "--allow-local-writes"});
        EXPECT_TRUE(WaitForState(3, "online")) << Service().Log();
        const HttpAnswer a = Post("/api/v1/boards/" + BoardId(3) + "/firmware", image,
                                  {{"Content-Type", "application/octet-stream"}});
        EXPECT_EQ(a.status, 202) << a.body;
        EXPECT_EQ(a.Header("location"), "/api/v1/jobs/" + a.Json()["id"].toString().toStdString());
        return a.Json()["id"].toString().toStdString();
    }
    QJsonObject Job(const std::string& id) { return Get("/api/v1/jobs/" + id).Json(); }
};

std::vector<uint8_t> Bytes(const std::string& s) {
    return {s.begin(), s.end()};
}

TEST_F(FlashTest, AnImageIsFlashedAndTheBoardFoundAgain) {
    auto& board = Board(3, Options(115200));
    const std::string image = MakeImage("2.00b", 7);
    const std::string job = StartFlash(board, image);
    EXPECT_EQ(Get("/api/v1/boards/" + BoardId(3) + "/relays").status, 200);
    EXPECT_EQ(Put("/api/v1/boards/" + BoardId(3) + "/relays", R"({"mask":1})").status, 409);
    QJsonObject j;
    for (int i = 0; i < 400; ++i) {
        j = Job(job);
        if (j["result"] != "running") break;
        std::this_thread::sleep_for(100ms);
    }
    EXPECT_EQ(j["result"], "complete") << QJsonDocument(j).toJson().toStdString();
    EXPECT_EQ(j["blocks_done"].toInt(), 96);
    EXPECT_EQ(j["old_version"], "1.07a");
    EXPECT_EQ(j["new_version"], "2.00b");
    EXPECT_EQ(board.Image(), Bytes(image));
    ASSERT_TRUE(WaitForState(3, "online", 30s)) << Service().Log();
    EXPECT_EQ(Get("/api/v1/boards/" + BoardId(3)).Json()["firmware"], "2.00b");
}

TEST_F(FlashTest, SigtermDuringAFlashFinishesTheImage) {
    auto& board = Board(3, Options(115200));
    const std::string image = MakeImage("3.01c", 11);
    const std::string job = StartFlash(board, image);
    for (int i = 0; i < 300 && Job(job)["blocks_done"].toInt() < 20; ++i)
        std::this_thread::sleep_for(50ms);
    ASSERT_LT(Job(job)["blocks_done"].toInt(), 96);
    StopService(SIGTERM);
    EXPECT_EQ(board.BlocksReceived(), 96u);
    EXPECT_EQ(board.Image(), Bytes(image));
    EXPECT_TRUE(board.ImageValid());
}

}  // namespace
}  // namespace swb808::service::test
