// A board that vanishes (a USB adapter pulled out) while connected, while being scanned and
// while being flashed: no crash and no spinning thread, the loss told in plain words, the
// port closed, and the board found again once it is back.

#include "tests/faults/fault_fixture.h"

namespace swb808::testing {
namespace {

using namespace std::chrono_literals;

constexpr double kIdleCores = 0.5;  // a spinning thread alone would take a whole core

class Vanish : public FaultTest {};

TEST_F(Vanish, WhileConnectedTheWindowDisconnectsAndTellsWhy) {
    sim::BoardSimulator& board = Connect();
    board.Stop();
    EXPECT_LT(CoresOver(1s), kIdleCores);

    ASSERT_TRUE(WaitFor([&] { return !form().Connected; }));
    ExpectLossToldAndClosed(3);
    // No text of the connected state says when the line went away, so ours stays.
    EXPECT_EQ(form().SWBStatusBar->PanelText(1), LostText(3));
    EXPECT_EQ(form().ErrorMemo->Lines().back(), LostText(3));
    EXPECT_TRUE(dialogs->shown.empty());

    ExpectFoundAgain(115200);
    EXPECT_EQ(form().ErrorMemo->FontColor(), clBlack);
}

// The pair's board disappears under the query: a silent one after the wake byte (the scan
// goes on to the other ports), an answering one after its version reply (the query would
// otherwise go on to "connect" a board that is gone).
TEST_F(Vanish, WhileScanningThePairFailsAndTheNextScanFindsTheBoardBack) {
    struct Case {
        const char* name;
        bool silent;
        const char* port;
    } cases[] = {
        {"silent, after the wake byte", true, "auto"},
        {"answering, after the version", false, "COM3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::BoardOptions o = Board(115200);
        sim::BoardSimulator& board = AddBoard(o);
        board.SetSilent(c.silent);
        bool stopped = false;
        OnceWhen(
            [&] {
                return c.silent ? !board.ReceivedBytes().empty()
                                : form().SWBStatusBar->PanelText(1).startsWith("querying COM3");
            },
            [&] {
                board.Stop();
                stopped = true;
            });
        Scan(c.port, "115200");
        ASSERT_TRUE(stopped);
        EXPECT_EQ(form().SWBStatusBar->PanelText(1), "SWB808 not found");
        ExpectLossToldAndClosed(3);
        EXPECT_LT(CoresOver(1s), kIdleCores);

        ExpectFoundAgain(115200);
        form().disconnect();  // "Close" would wait 2 s for the board's restart
        form().ErrorMemo->SetLines({});
    }
}

TEST_F(Vanish, WhileFlashingTheTransferEndsAtOnceAndTheWindowIsDisconnected) {
    sim::BoardSimulator& board = Connect();
    TFirmwareImage image{};
    for (size_t i = 0; i < image.size(); ++i) image[i] = uint8_t(i * 7);
    WriteImageChecksum(image);
    form().FirmwareImage = image;
    form().FirmwareLoaded = true;
    form().BootloaderCheckBox->SetChecked(true);

    OnceWhen([&] { return form().SWBStatusBar->PanelText(1) == "flashing...  Bytes 640"; },
             [&] { board.Stop(); });
    const auto start = std::chrono::steady_clock::now();
    Click(form().UpdateSpeedButton);
    // A lost line cannot answer: the transfer does not sit out the 10 s answer wait.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 8s);

    ASSERT_EQ(dialogs->shown.size(), 1);
    EXPECT_EQ(dialogs->shown[0].text, "Keine Rückmeldung beim Programmieren, Abbruch!");
    EXPECT_NE(StatusIndex(LostText(3)), -1);
    EXPECT_EQ(form().SWBStatusBar->PanelText(1), "disconnected");
    ExpectLossToldAndClosed(3);
    EXPECT_FALSE(form().BootloaderCheckBox->Checked());
    EXPECT_TRUE(form().LoadSpeedButton->isEnabled());
    EXPECT_LT(CoresOver(1s), kIdleCores);

    ExpectFoundAgain(115200);
}

}  // namespace
}  // namespace swb808::testing
