#include "tests/window/window_fixture.h"

namespace swb808::testing {
namespace {

class ScanAll : public WindowTest {};

// COM1 present and silent, COM2 absent, the board on COM3 at 9600: every rate on COM1, then
// 300 ... 4800 on COM3 before 9600 answers. (The absent COM2 fails without a wait, so its
// texts are gone before the event pump could see them.)
TEST_F(ScanAll, AutoPortAutoRateFindsTheBoardAfterEverySlowerPair) {
    AddBareLine(1);
    sim::BoardSimulator& board = AddBoard(Board(9600));

    Scan("auto", "auto");

    std::vector<QString> expected;
    for (int port : {1, 3})
        for (const char* rate : {"300", "600", "1200", "2400", "4800", "9600", "14400", "19200",
                                 "28800", "38400", "57600", "76800", "115200", "230400"}) {
            expected.push_back(QStringLiteral("scanning COM%1 at %2 Baud...").arg(port).arg(rate));
            if (port == 3 && QString(rate) == "9600") break;
        }
    std::vector<QString> scanning;
    for (const QString& s : statusSeen)
        if (s.startsWith("scanning") && !s.startsWith("scanning COM2")) scanning.push_back(s);
    EXPECT_EQ(scanning, expected);
    EXPECT_EQ(form().SWBStatusBar->PanelText(1),
              "SWB808 found at COM3 at 9600 Baud, Firmware Version 1.07a");
    EXPECT_EQ(form().ScanStep, 1000 / 3 / 14);
    EXPECT_TRUE(form().Connected);
    EXPECT_EQ(form().ConnectedPort, 3);
    EXPECT_EQ(form().ConnectedBaud, 9600);
    // The board understood only what came at its own rate: the last pair's bytes.
    size_t understood = 0;
    for (const auto& e : board.WireLog())
        if (!e.sent && !e.bytes.empty() && e.understood) ++understood;
    EXPECT_GT(understood, 0u);
    EXPECT_EQ(form().ErrorMemo->Lines().size(), 1);
}

}  // namespace
}  // namespace swb808::testing
