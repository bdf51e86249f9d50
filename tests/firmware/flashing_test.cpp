// Flashing against the simulated board: the bootloader search and the ways a transfer ends
// early. Each of these runs in a few seconds; the full transfers are in flashing_slow_test.

#include <algorithm>

#include "sim/board_simulator.h"
#include <QApplication>
#include <QTest>

#include "tests/firmware/flash_fixture.h"

namespace swb808::testing {
namespace {

using namespace std::chrono_literals;
using sim::FaultKind;

class Flash : public FlashFixture {};

TEST_F(Flash, NoBootloaderAnywhereReportsItAndKeepsTheBox) {
    // COM1 answers every probe reversed; COM2 is a bootloader whose first answer follows a
    // stray byte, so every pair read there is off by one. No other port exists.
    ProbeLine reversed(dir, 1, {0x1E, 0x00});
    sim::BoardSimulator board(BootloaderBoard(2));
    board.Start();
    board.SetFault(FaultKind::StrayByte, 0x3C);
    Watchdog watchdog(60s);
    ASSERT_NO_FATAL_FAILURE(LoadImage(TestImage()));
    form.BootloaderCheckBox->SetChecked(true);
    ShownRecord shown(form);

    form.UpdateSpeedButtonClick();

    EXPECT_EQ(reversed.Probes(), 129);
    EXPECT_EQ(reversed.OtherBytes(), 0);
    const auto received = board.ReceivedBytes();
    EXPECT_EQ(std::count(received.begin(), received.end(), 0x78), 129);
    EXPECT_EQ(received.size(), 129u) << "nothing but probes may reach a port that never answered";
    ASSERT_EQ(dialogs->shown.size(), 1u);
    EXPECT_EQ(dialogs->shown[0].kind, RecordingDialogs::Error);
    EXPECT_EQ(dialogs->shown[0].text, QStringLiteral("Gerät/Bootloader reagiert nicht, Abbruch!"));
    EXPECT_FALSE(form.Connected);
    EXPECT_TRUE(form.BootloaderCheckBox->Checked());
    EXPECT_TRUE(form.UpdateSpeedButton->isEnabled());
    EXPECT_TRUE(form.ScanSpeedButton->isEnabled());
    EXPECT_TRUE(form.LoadSpeedButton->isEnabled());
    EXPECT_TRUE(form.BootloaderCheckBox->isEnabled());
    EXPECT_FALSE(form.SWBComPort.Open());
    EXPECT_EQ(form.SWBStatusBar->PanelText(1), QStringLiteral("disconnected"));
    // One dot per port, the absent ones included.
    EXPECT_TRUE(shown.SawStatus(QStringLiteral("synchronizing....")));
    EXPECT_TRUE(shown.SawStatus(QStringLiteral("synchronizing.....")));
    EXPECT_FALSE(shown.SawStatus(QStringLiteral("synchronizing......")))
        << "no wait between the dots of ports that do not exist";
}

TEST_F(Flash, NoPortAtAllFailsAtOnce) {
    Watchdog watchdog(30s);
    ASSERT_NO_FATAL_FAILURE(LoadImage(TestImage()));
    form.BootloaderCheckBox->SetChecked(true);

    form.UpdateSpeedButtonClick();

    ASSERT_EQ(dialogs->shown.size(), 1u);
    EXPECT_EQ(dialogs->shown[0].text, QStringLiteral("Gerät/Bootloader reagiert nicht, Abbruch!"));
    EXPECT_EQ(form.SWBStatusBar->PanelText(1), QStringLiteral("disconnected"));
    EXPECT_EQ(form.StatusProgressBar->value(), 0);
    EXPECT_TRUE(form.BootloaderCheckBox->Checked());
}

// A wrong answer to a block ends the transfer right there; nothing is retried.
TEST_F(Flash, WrongBlockAnswerEndsTheTransfer) {
    const TFirmwareImage image = TestImage();
    constexpr int kBlock = 3;
    unsigned sum = 0;
    for (int i = 0; i < 64; ++i) sum += image[static_cast<size_t>(kBlock * 64 + i)];
    ASSERT_NE(sum & 0xFF, sum >> 8) << "a swapped echo must differ from the sum";

    for (FaultKind fault : {FaultKind::WrongEcho, FaultKind::SwappedEcho}) {
        SCOPED_TRACE(sim::FaultName(fault));
        dialogs->shown.clear();
        sim::BoardSimulator board(BootloaderBoard(1));
        board.Start();
        board.SetFault(fault, kBlock);
        Watchdog watchdog(30s);
        ASSERT_NO_FATAL_FAILURE(LoadImage(image));
        form.BootloaderCheckBox->SetChecked(true);
        form.StatusProgressBar->setValue(form.StatusProgressBar->maximum());  // as at start
        ShownRecord shown(form);

        form.UpdateSpeedButtonClick();

        ASSERT_EQ(dialogs->shown.size(), 1u);
        EXPECT_EQ(dialogs->shown[0].kind, RecordingDialogs::Error);
        EXPECT_EQ(dialogs->shown[0].text,
                  QStringLiteral("Falsche Prüfsumme beim Programmieren, Abbruch!"));
        EXPECT_EQ(board.BlocksReceived(), 4u);
        EXPECT_EQ(board.ReceivedBytes().size(), 1u + 4 * 66) << "one probe, four blocks";
        EXPECT_EQ(shown.progress, (std::vector<int>{0, 10, 20, 31, 0}));
        EXPECT_TRUE(shown.SawStatus(QStringLiteral("flashing...  Bytes 192")));
        EXPECT_FALSE(shown.SawStatus(QStringLiteral("flashing...  Bytes 256")));
        EXPECT_FALSE(form.Connected);
        EXPECT_FALSE(form.BootloaderCheckBox->Checked());
        EXPECT_FALSE(form.UpdateSpeedButton->isEnabled());
        EXPECT_TRUE(form.ScanSpeedButton->isEnabled());
        EXPECT_EQ(form.SWBStatusBar->PanelText(1), QStringLiteral("disconnected"));
        EXPECT_FALSE(form.SWBComPort.Open());
    }
}

}  // namespace
}  // namespace swb808::testing

namespace swb808::testing {
namespace {

// A close during the bootloader search is not held: the search ends within one probe, no
// error box follows, and the window goes at once, its caption unchanged.
TEST_F(Flash, CloseDuringTheSearchEndsItWithinOneProbe) {
    QApplication::setQuitOnLastWindowClosed(false);
    ProbeLine silent(dir, 1);
    Watchdog watchdog(60s);
    ASSERT_NO_FATAL_FAILURE(LoadImage(TestImage()));
    form.BootloaderCheckBox->SetChecked(true);
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    const QString caption = form.windowTitle();

    int probesAtClose = -1;
    bool visibleAfterClose = true;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (probesAtClose >= 0 || silent.Probes() < 3) return;
        probesAtClose = silent.Probes();
        form.close();
        visibleAfterClose = form.isVisible();
    });
    closer.start(0);
    form.UpdateSpeedButtonClick();
    closer.stop();

    ASSERT_GE(probesAtClose, 3);
    EXPECT_FALSE(visibleAfterClose) << "the close is not held during the search";
    std::this_thread::sleep_for(200ms);  // a probe sent after the close would arrive by now
    EXPECT_LE(silent.Probes(), probesAtClose + 1);
    EXPECT_TRUE(dialogs->shown.empty()) << "a stopped search is no failure to show";
    EXPECT_EQ(form.windowTitle(), caption);
    EXPECT_FALSE(form.SWBComPort.Open());
    QApplication::setQuitOnLastWindowClosed(true);
}

}  // namespace
}  // namespace swb808::testing
