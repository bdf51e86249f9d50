// Several boards flashed at once, each through its own path, each with its own image.

#include <QJsonArray>

#include "tests/cli/cli_fixture.h"

namespace swb808::cli::test {
namespace {

class CliFlashSlow : public CliTest {};

// Two boards, two images: one command per image, run at the same time.
TEST_F(CliFlashSlow, TwoBoardsAtOnceEachGetTheirOwnImage) {
    SimProcess& three = Board(3, {"--baud", "115200"});
    SimProcess& five = Board(5, {"--baud", "57600"});
    const std::vector<uint8_t> imageA = MakeImage("3.00a", 0x21), imageB = MakeImage("5.00b", 0x42);
    const std::string a = WriteFile("a.bin", imageA);
    const std::string b = WriteFile("b.bin", imageB);
    auto first = Start({"--json", "--port", "COM3", "--baud", "115200", "flash", a});
    auto second = Start({"--json", "--port", "COM5", "--baud", "57600", "flash", b});
    const CtlResult ra = first->Finish();
    const CtlResult rb = second->Finish();
    ASSERT_EQ(ra.status, 0) << ra.err;
    ASSERT_EQ(rb.status, 0) << rb.err;
    EXPECT_TRUE(three.StatusShows("version 3.00a")) << three.Status();
    EXPECT_TRUE(five.StatusShows("version 5.00b")) << five.Status();
    EXPECT_TRUE(three.StatusShows("flashes 1"));
    EXPECT_TRUE(five.StatusShows("flashes 1"));
    EXPECT_TRUE(FlashOf(three) == imageA);
    EXPECT_TRUE(FlashOf(five) == imageB);
}

// One command, several --port: all at once, one summary, one exit status for all.
TEST_F(CliFlashSlow, SeveralPortsInOneCommandThroughTheirBootloaders) {
    SimProcess& two = Board(2, {"--bootloader"});
    SimProcess& four = Board(4, {"--bootloader"});
    SimProcess& six = Board(6, {"--bootloader", "--fault", "no-echo=40"});
    const std::vector<uint8_t> bytes = MakeImage("2.10c", 0x77);
    const std::string image = WriteFile("fw.bin", bytes);
    const CtlResult r = Run({"--json", "--port", "COM2", "--port", "COM4", "--port", "COM6",
                             "flash", image, "--bootloader"});
    EXPECT_EQ(r.status, 5) << r.err;
    const QJsonArray boards = r.Json()["boards"].toArray();
    ASSERT_EQ(boards.size(), 3);
    EXPECT_TRUE(boards[0].toObject()["ok"].toBool());
    EXPECT_EQ(boards[0].toObject()["method"].toString(), "bootloader");
    EXPECT_TRUE(boards[1].toObject()["ok"].toBool());
    EXPECT_FALSE(boards[2].toObject()["ok"].toBool());
    EXPECT_EQ(boards[2].toObject()["blocks_done"].toInt(), 40);
    EXPECT_NE(r.err.find("COM6 (" + ComPath(6) + "): no answer to block 41 of 96"),
              std::string::npos)
        << r.err;
    EXPECT_TRUE(two.StatusShows("version 2.10c")) << two.Status();
    EXPECT_TRUE(four.StatusShows("version 2.10c")) << four.Status();
    EXPECT_TRUE(six.StatusShows("mode bootloader")) << six.Status();
    EXPECT_TRUE(FlashOf(two) == bytes);
    EXPECT_TRUE(FlashOf(four) == bytes);
}

}  // namespace
}  // namespace swb808::cli::test

namespace swb808::cli::test {
namespace {

// The bound on the wait for the restarted board, and the hint on the wrong path.
TEST_F(CliFlashSlow, ABoardThatDoesNotComeBackAndABoardWithoutBootloader) {
    Board(3, {"--baud", "115200", "--restart-ms", "15000"});
    const std::string image = WriteFile("fw.bin", MakeImage("1.08a", 0x11));
    const CtlResult gone = Run({"--port", "COM3", "--baud", "115200", "flash", image});
    EXPECT_EQ(gone.status, 2) << gone.err;
    EXPECT_NE(gone.err.find("did not answer within 10 s"), std::string::npos) << gone.err;

    Board(4, {"--baud", "115200"});
    const CtlResult firmware = Run({"--port", "COM4", "flash", image, "--bootloader"});
    EXPECT_EQ(firmware.status, 2) << firmware.err;
    EXPECT_NE(firmware.err.find("flashed without --bootloader"), std::string::npos) << firmware.err;
}

}  // namespace
}  // namespace swb808::cli::test
