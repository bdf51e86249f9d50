// Whole transfers against the simulated board. A transfer lasts about 11 s by design (each
// block waits one 100 ms drain turn), so these carry the label slow.

#include <QApplication>
#include <QTest>
#include <algorithm>

#include "sim/board_simulator.h"
#include "sim/frame_codec.h"
#include "tests/firmware/flash_fixture.h"

namespace swb808::testing {
namespace {

using namespace std::chrono_literals;
using sim::FaultKind;

// What the program must put on the line for `image`: 64 data bytes and their sum, low byte
// first, per block.
std::vector<uint8_t> BlockBytes(const TFirmwareImage& image) {
    std::vector<uint8_t> out;
    for (size_t offset = 0; offset < image.size(); offset += 64) {
        unsigned sum = 0;
        for (size_t i = 0; i < 64; ++i) {
            out.push_back(image[offset + i]);
            sum += image[offset + i];
        }
        out.push_back(static_cast<uint8_t>(sum & 0xFF));
        out.push_back(static_cast<uint8_t>(sum >> 8));
    }
    return out;
}

std::vector<QString> FlashingTexts(const ShownRecord& shown) {
    std::vector<QString> texts;
    for (const auto& s : shown.status)
        if (s.startsWith(QStringLiteral("flashing"))) texts.push_back(s);
    return texts;
}

std::vector<QString> AllFlashingTexts() {
    std::vector<QString> texts;
    for (int offset = 0; offset < 6144; offset += 64)
        texts.push_back(QStringLiteral("flashing...  Bytes %1").arg(offset));
    return texts;
}

class FlashSlow : public FlashFixture {
  protected:
    void ExpectEndedAfterBlocks() {
        EXPECT_FALSE(form.Connected);
        EXPECT_FALSE(form.SWBComPort.Open());
        EXPECT_EQ(form.SWBStatusBar->PanelText(1), QStringLiteral("disconnected"));
        EXPECT_EQ(form.StatusProgressBar->value(), 0);
        EXPECT_TRUE(form.ScanSpeedButton->isEnabled());
        EXPECT_TRUE(form.LoadSpeedButton->isEnabled());
        EXPECT_TRUE(form.BootloaderCheckBox->isEnabled());
        EXPECT_FALSE(form.BootloaderCheckBox->Checked());
        EXPECT_FALSE(form.UpdateSpeedButton->isEnabled());
        EXPECT_FALSE(form.ConfigTabSheet->isEnabled());
        EXPECT_FALSE(form.ControlTabSheet->isEnabled());
    }
};

TEST_F(FlashSlow, InApplicationAt19200) {
    sim::BoardOptions o;
    o.link = dir.ComPath(1);
    o.baud = 19200;
    sim::BoardSimulator board(o);  // paced: the firmware's answer must be swept up in time
    board.Start();
    Watchdog watchdog(90s);
    const TFirmwareImage image = TestImage();
    ASSERT_NO_FATAL_FAILURE(LoadImage(image));
    form.ComPortComboBox->SetItemIndex(1);
    form.BaudrateComboBox->SetItemIndex(form.BaudrateComboBox->findText(QStringLiteral("19200")));
    form.ScanSpeedButtonClick();
    ASSERT_TRUE(form.Connected);
    ASSERT_TRUE(form.UpdateSpeedButton->isEnabled());
    board.ClearRecord();
    ShownRecord shown(form);

    form.UpdateSpeedButtonClick();

    EXPECT_TRUE(dialogs->shown.empty());
    const auto entry = sim::EncodeFrame(0xBB, {0x00});
    auto expected = entry;
    const auto blocks = BlockBytes(image);
    expected.insert(expected.end(), blocks.begin(), blocks.end());
    EXPECT_EQ(board.ReceivedBytes(), expected);
    EXPECT_EQ(board.Image(), std::vector<uint8_t>(image.begin(), image.end()));
    EXPECT_TRUE(board.ImageValid());
    EXPECT_EQ(board.FlashCount(), 1);
    EXPECT_EQ(board.ResetCount(), 0);

    // The firmware's answer is swept up (210000 / 19200 ms, then a 31-turn receive) before
    // the first block goes out.
    std::chrono::steady_clock::time_point frameEnd{}, blockStart{};
    size_t count = 0;
    for (const auto& e : board.WireLog()) {
        if (e.sent) continue;
        if (count < entry.size() && count + e.bytes.size() >= entry.size()) frameEnd = e.time;
        if (count <= entry.size() && count + e.bytes.size() > entry.size()) blockStart = e.time;
        count += e.bytes.size();
    }
    EXPECT_GE(blockStart - frameEnd, 320ms);

    ASSERT_EQ(shown.progress.size(), 97u);
    EXPECT_EQ(shown.progress.front(), 0);
    EXPECT_EQ(shown.progress[1], 10);
    EXPECT_EQ(shown.progress[2], 20);
    EXPECT_EQ(shown.progress[3], 31);
    EXPECT_EQ(shown.progress[95], 989);
    EXPECT_EQ(shown.progress.back(), 0);
    EXPECT_TRUE(std::is_sorted(shown.progress.begin(), shown.progress.end() - 1));
    EXPECT_EQ(FlashingTexts(shown), AllFlashingTexts());
    ExpectEndedAfterBlocks();
    EXPECT_TRUE(form.FirmwareLoaded);
    EXPECT_EQ(form.FirmwareImage, image);
    // The new image runs: the board restarts into it and reports its version.
    EXPECT_TRUE(board.WaitForMode(sim::BoardMode::Firmware, 3s));
    EXPECT_EQ(board.Version(), "1.08b");
}

TEST_F(FlashSlow, BootloaderOnCom3AfterSilentCom1) {
    ProbeLine silent(dir, 1);
    sim::BoardSimulator board(BootloaderBoard(3));
    board.Start();
    Watchdog watchdog(90s);
    const TFirmwareImage image = TestImage();
    ASSERT_NO_FATAL_FAILURE(LoadImage(image));
    form.BootloaderCheckBox->SetChecked(true);
    ASSERT_TRUE(form.UpdateSpeedButton->isEnabled());
    ShownRecord shown(form);

    form.UpdateSpeedButtonClick();

    EXPECT_TRUE(dialogs->shown.empty());
    EXPECT_EQ(silent.Probes(), 129);
    // Each unanswered probe is given 11 polls of 10 ms before the next one goes out.
    EXPECT_GE(silent.ProbeSpan(), 128 * 110ms - 20ms);
    EXPECT_EQ(silent.OtherBytes(), 0);
    auto expected = std::vector<uint8_t>{0x78};
    const auto blocks = BlockBytes(image);
    expected.insert(expected.end(), blocks.begin(), blocks.end());
    EXPECT_EQ(board.ReceivedBytes(), expected) << "one probe, then the image";
    EXPECT_EQ(board.Image(), std::vector<uint8_t>(image.begin(), image.end()));
    EXPECT_TRUE(board.ImageValid());

    std::vector<QString> sync;
    for (const auto& s : shown.status)
        if (s.startsWith(QStringLiteral("synchronizing"))) sync.push_back(s);
    EXPECT_EQ(sync, (std::vector<QString>{QStringLiteral("synchronizing...."),
                                          QStringLiteral("synchronizing......")}));
    EXPECT_EQ(FlashingTexts(shown), AllFlashingTexts());
    ExpectEndedAfterBlocks();
}

TEST_F(FlashSlow, NoAnswerToABlockEndsTheTransferAfterTenSeconds) {
    sim::BoardSimulator board(BootloaderBoard(1));
    board.Start();
    board.SetFault(FaultKind::NoEcho, 1);
    Watchdog watchdog(60s);
    ASSERT_NO_FATAL_FAILURE(LoadImage(TestImage()));
    form.BootloaderCheckBox->SetChecked(true);
    ShownRecord shown(form);

    form.UpdateSpeedButtonClick();
    const auto returned = std::chrono::steady_clock::now();

    ASSERT_EQ(dialogs->shown.size(), 1u);
    EXPECT_EQ(dialogs->shown[0].kind, RecordingDialogs::Error);
    EXPECT_EQ(dialogs->shown[0].text,
              QStringLiteral("Keine Rückmeldung beim Programmieren, Abbruch!"));
    // The board is given 1000 polls of 10 ms, and one more wait, to answer.
    // The last bytes on the line, not the close that the transfer's end records after them.
    const auto log = board.WireLog();
    const auto lastBytes = std::find_if(log.rbegin(), log.rend(), [](const sim::WireEvent& e) {
        return e.kind == sim::WireEvent::Kind::Bytes;
    });
    ASSERT_NE(lastBytes, log.rend());
    EXPECT_GE(returned - lastBytes->time, 10000ms);
    EXPECT_EQ(board.BlocksReceived(), 2u);
    EXPECT_EQ(board.ReceivedBytes().size(), 1u + 2 * 66) << "nothing after the unanswered block";
    EXPECT_FALSE(shown.SawStatus(QStringLiteral("flashing...  Bytes 128")));
    ExpectEndedAfterBlocks();
}

// The transfer cannot be cut short by closing the window: the close waits for its end, and
// then no reset frame goes into the freshly written loader.
TEST_F(FlashSlow, CloseDuringTransferWaitsForItsEnd) {
    QApplication::setQuitOnLastWindowClosed(false);
    sim::BoardSimulator board(BootloaderBoard(1));
    board.Start();
    Watchdog watchdog(60s);
    const TFirmwareImage image = TestImage();
    ASSERT_NO_FATAL_FAILURE(LoadImage(image));
    form.BootloaderCheckBox->SetChecked(true);
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    const QString caption = form.windowTitle();

    bool closedAt = false, visibleAfterClose = false;
    QString hint;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (closedAt || form.SWBStatusBar->PanelText(1) != QStringLiteral("flashing...  Bytes 640"))
            return;
        closedAt = true;
        form.close();
        visibleAfterClose = form.isVisible();
        hint = form.windowTitle();
    });
    closer.start(0);

    form.UpdateSpeedButtonClick();
    closer.stop();

    ASSERT_TRUE(closedAt);
    EXPECT_TRUE(visibleAfterClose);
    EXPECT_EQ(hint, caption) << "the caption never changes";
    // Told where the block texts do not overwrite it: the messages tab and a panel of its own.
    EXPECT_TRUE(form.ErrorMemo->Lines().contains(
        "Das Programm wird beendet, sobald das Flashen abgeschlossen ist."));
    ASSERT_EQ(form.SWBStatusBar->PanelCount(), 3);
    EXPECT_EQ(form.SWBStatusBar->PanelText(2), "schließt nach dem Flashen");
    EXPECT_LE(form.SWBStatusBar->PanelRight(2), form.width()) << "the notice is in sight";
    EXPECT_TRUE(dialogs->shown.empty());
    auto expected = std::vector<uint8_t>{0x78};
    const auto blocks = BlockBytes(image);
    expected.insert(expected.end(), blocks.begin(), blocks.end());
    EXPECT_EQ(board.ReceivedBytes(), expected) << "the whole image and nothing else";
    EXPECT_TRUE(board.ImageValid());
    ExpectEndedAfterBlocks();

    // The close that was held back follows once the handler has returned, and it sends
    // nothing: the board is no longer connected.
    EXPECT_TRUE(form.isVisible());
    QCoreApplication::processEvents();
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(board.ReceivedBytes(), expected);
    EXPECT_EQ(board.ResetCount(), 0);
    QApplication::setQuitOnLastWindowClosed(true);
}

}  // namespace
}  // namespace swb808::testing
