// flash: the window's file checks and texts, a board that answers a block wrongly, one whole
// transfer with the version read back, a lost line, Ctrl-C before and during the blocks.

#include <signal.h>

#include <QJsonArray>

#include <thread>

#include "tests/cli/cli_fixture.h"

namespace swb808::cli::test {
namespace {

using namespace std::chrono_literals;

class CliFlash : public CliTest {};

// Each file error names the file and what is wrong with it, in one line.
TEST_F(CliFlash, FileErrorsExitFourNamingFileAndCause) {
    Board(3, {"--baud", "115200"});
    struct Case {
        std::string path;
        std::string cause;
    };
    const std::vector<Case> cases = {
        {WriteFile("short.bin", std::vector<uint8_t>(6143, 0)),
         ": has 6143 bytes; a firmware image has exactly 6144 bytes"},
        {WriteFile("long.bin", std::vector<uint8_t>(6145, 0)), ": has 6145 bytes;"},
        {WriteFile("empty.bin", {}), ": has 0 bytes;"},
        {Dir(), ": is a directory;"},
        {Dir() + "/no-such.bin", ": cannot be opened: No such file or directory"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const CtlResult r = Run({"--json", "--port", "COM3", "--baud", "115200", "flash", c.path});
        EXPECT_EQ(r.status, 4);
        EXPECT_EQ(r.err.rfind("swb808ctl: " + c.path + c.cause, 0), 0u) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_EQ(r.Json()["error"].toObject()["code"].toString(), "file_error");
    }
}

// A board that is not there: its entry says so with a rate of null.
TEST_F(CliFlash, AMissingBoardHasNoRate) {
    const std::string image = WriteFile("fw.bin", MakeImage("1.08a", 0x5A));
    const CtlResult r =
        Run({"--json", "--port", "COM3", "--port", "COM4", "--baud", "115200", "flash", image});
    EXPECT_EQ(r.status, 5) << r.err;
    const QJsonArray boards = r.Json()["boards"].toArray();
    ASSERT_EQ(boards.size(), 2);
    for (const QJsonValue& b : boards) {
        EXPECT_TRUE(b.toObject()["baud"].isNull());
        EXPECT_EQ(b.toObject()["error"].toObject()["code"].toString(), "port_error");
    }
}

TEST_F(CliFlash, AnImageWithoutVersionNeedsForce) {
    SimProcess& board = Board(3, {"--baud", "115200"});
    std::vector<uint8_t> bytes = MakeImage("1.08a", 0x11);
    std::fill_n(bytes.begin() + 100, 11, uint8_t('-'));  // no marker
    const std::string image = WriteFile("nover.bin", bytes);
    const CtlResult refused = Run({"--port", "COM3", "--baud", "115200", "flash", image});
    EXPECT_EQ(refused.status, 4) << refused.err;
    EXPECT_NE(refused.err.find("--force"), std::string::npos) << refused.err;
    EXPECT_TRUE(board.StatusShows("flashes 0"));
    const CtlResult forced =
        Run({"--json", "--port", "COM3", "--baud", "115200", "flash", image, "--force"});
    EXPECT_EQ(forced.status, 0) << forced.err;
    EXPECT_NE(forced.err.find("Kann neue Version nicht ermitteln, Datei prüfen!"),
              std::string::npos)
        << forced.err;
    EXPECT_TRUE(board.StatusShows("flashes 1"));
}

// The wrong path says which one would work.
TEST_F(CliFlash, ABoardInItsBootloaderIsPointedToBootloader) {
    Board(3, {"--bootloader"});
    const std::string image = WriteFile("fw.bin", MakeImage("1.08a", 0x11));
    const CtlResult r = Run({"--port", "COM3", "--baud", "115200", "flash", image});
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find("flash --bootloader"), std::string::npos) << r.err;
}

TEST_F(CliFlash, ALostLineIsExitThreeInInfoAndFlash) {
    const std::string image = WriteFile("fw.bin", MakeImage("1.08a", 0x11));
    {
        SimProcess& board = Board(3, {"--baud", "300"});
        auto info = Start({"--port", "COM3", "--baud", "300", "info"});
        std::this_thread::sleep_for(1s);  // inside the query
        board.Command("quit");
        const CtlResult r = info->Finish(30s);
        EXPECT_EQ(r.status, 3) << r.err;
        EXPECT_NE(r.err.find("line lost"), std::string::npos) << r.err;
    }
    {
        SimProcess& board = Board(4, {"--baud", "115200"});
        auto flash = Start({"--port", "COM4", "--baud", "115200", "flash", image});
        ASSERT_TRUE(flash->WaitForError("/96 blocks 10%", 30s)) << flash->Out() << flash->Err();
        board.Command("quit");
        const CtlResult r = flash->Finish(30s);
        EXPECT_EQ(r.status, 3) << r.err;
        EXPECT_NE(r.err.find("line lost after"), std::string::npos) << r.err;
    }
}

TEST_F(CliFlash, ABoardThatAnswersABlockWronglyFailsWithFive) {
    SimProcess& board = Board(3, {"--baud", "115200", "--fault", "wrong-echo=2"});
    const std::string image = WriteFile("fw.bin", MakeImage("1.08a", 0x11));
    const CtlResult r = Run({"--json", "--port", "COM3", "--baud", "115200", "flash", image});
    EXPECT_EQ(r.status, 5) << r.err;
    EXPECT_NE(r.err.find("COM3 (" + ComPath(3) + "): wrong checksum echoed for block 3 of 96"),
              std::string::npos)
        << r.err;
    const QJsonObject doc = r.Json();
    EXPECT_FALSE(doc["ok"].toBool());
    const QJsonObject b = doc["boards"].toArray()[0].toObject();
    EXPECT_EQ(b["blocks_done"].toInt(), 2);
    EXPECT_FALSE(b["ok"].toBool());
    EXPECT_TRUE(board.StatusShows("flashes 0"));
}

// The job ends when the board is back and runs the new version, so the next command finds it.
TEST_F(CliFlash, TheWholeImageReachesTheBoardThroughItsFirmware) {
    SimProcess& board = Board(3, {"--baud", "115200", "--restart-ms", "2000"});
    const std::vector<uint8_t> bytes = MakeImage("1.08a", 0x5A);
    const std::string image = WriteFile("fw.bin", bytes);
    const CtlResult r = Run({"--json", "--port", "COM3", "--baud", "115200", "flash", image});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(board.StatusShows("mode firmware")) << board.Status();
    EXPECT_TRUE(FlashOf(board) == bytes);
    EXPECT_TRUE(FlashOf(board) == bytes);
    const QJsonObject doc = r.Json();
    EXPECT_TRUE(doc["ok"].toBool());
    EXPECT_EQ(doc["version"].toString(), "1.08a");
    const QJsonObject b = doc["boards"].toArray()[0].toObject();
    EXPECT_EQ(b["method"].toString(), "firmware");
    EXPECT_EQ(b["blocks_done"].toInt(), 96);
    // Progress is JSON lines on stderr, so stdout stays one document.
    EXPECT_NE(r.err.find("{\"blocks\":96,\"blocks_done\":96,"), std::string::npos) << r.err;
    EXPECT_EQ(b["old_version"].toString(), "1.07a");
    EXPECT_EQ(b["new_version"].toString(), "1.08a");
    // The board took the image: its checksum was right, and it runs the new version.
    const std::string status = board.Status();
    EXPECT_NE(status.find("version 1.08a"), std::string::npos) << status;
    EXPECT_NE(status.find("flashes 1"), std::string::npos) << status;
    EXPECT_EQ(Remembered()["baud"].toInt(), 115200);

    const CtlResult text = Run({"--port", "COM3", "--baud", "115200", "flash", image});
    EXPECT_EQ(text.status, 0) << text.err;
    EXPECT_NE(text.out.find("version 1.08a -> 1.08a"), std::string::npos) << text.out;
    const CtlResult unverified =
        Run({"--json", "--port", "COM3", "--baud", "115200", "flash", image, "--no-verify"});
    EXPECT_EQ(unverified.status, 0) << unverified.err;
    EXPECT_TRUE(unverified.Json()["boards"].toArray()[0].toObject()["new_version"].isNull());
}

TEST_F(CliFlash, CtrlCBeforeTheBlocksEndsAtOnce) {
    Board(3, {"--baud", "300"});
    const std::string image = WriteFile("fw.bin", MakeImage("1.08a", 0x5A));
    auto flash = Start({"--port", "COM3", "--baud", "300", "flash", image});  // the query runs
    std::this_thread::sleep_for(1s);
    flash->Signal(SIGINT);
    const CtlResult r = flash->Finish(5s);
    EXPECT_EQ(r.status, 130) << r.err;
    EXPECT_NE(r.err.find("interrupted"), std::string::npos) << r.err;
}

TEST_F(CliFlash, FirstCtrlCInTheBlocksWarnsTheSecondAborts) {
    Board(3, {"--baud", "115200"});
    const std::string image = WriteFile("fw.bin", MakeImage("1.08a", 0x5A));
    auto flash = Start({"--port", "COM3", "--baud", "115200", "flash", image});
    // Plain progress lines (stderr is no terminal) show that the blocks are going over.
    ASSERT_TRUE(flash->WaitForError("/96 blocks 10%", 30s)) << flash->Out() << flash->Err();
    flash->Signal(SIGINT);
    ASSERT_TRUE(flash->WaitForError("blocks left; press Ctrl-C again to abort", 10s))
        << flash->Err();
    // The transfer goes on after the first.
    ASSERT_TRUE(flash->WaitForError("/96 blocks 30%", 30s)) << flash->Err();
    EXPECT_TRUE(flash->Running());
    flash->Signal(SIGINT);
    const CtlResult r = flash->Finish(10s);
    EXPECT_EQ(r.status, 5) << r.err;
    EXPECT_NE(r.err.find("aborted by Ctrl-C after"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("flash --bootloader"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace swb808::cli::test
