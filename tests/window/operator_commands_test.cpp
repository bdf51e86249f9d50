#include "sim/frame_codec.h"
#include <QApplication>
#include <QMouseEvent>

#include "tests/window/window_fixture.h"

namespace swb808::testing {
namespace {

using Bytes = std::vector<uint8_t>;

class Commands : public WindowTest {};

TEST_F(Commands, RelayClicksSendTheWholeRelayByteAndTheBoardFollows) {
    sim::BoardSimulator& board = Connect();
    struct Step {
        LedIndicator* led;
        uint8_t relays;  // RelayState after the click
    } steps[] = {
        {form().RelLed8, 0x80}, {form().RelLed8, 0x00}, {form().RelLed1, 0x01},
        {form().RelLed3, 0x05}, {form().RelLed1, 0x04},
    };
    for (const Step& step : steps) {
        board.ClearRecord();
        Click(step.led);
        EXPECT_EQ(Received(board, 7), sim::EncodeFrame(0xB2, {step.relays}));
        EXPECT_TRUE(WaitFor([&] { return board.Relays() == step.relays; }));
        for (int n = 0; n < 8; ++n)
            EXPECT_EQ(form().RelLeds[n]->LedState(), (step.relays >> n & 1) ? stOn : stOff)
                << "relay " << n + 1 << " after " << int(step.relays);
    }
    // Relays 1 and 3 on, as the board's documentation writes the frame.
    board.ClearRecord();
    Click(form().RelLed1);
    EXPECT_EQ(Received(board, 7), (Bytes{0xC1, 0xB2, 0xE1, 0x55, 0x50, 0xA5, 0xDF}));
}

// Press, release, double-click, release: one click, so the relay switches once.
TEST_F(Commands, DoubleClickOnARelaySwitchesItOnce) {
    sim::BoardSimulator& board = Connect();
    board.ClearRecord();
    LedIndicator* led = form().RelLed2;
    const QPointF at = QRectF(led->rect()).center();
    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease,
                              QEvent::MouseButtonDblClick, QEvent::MouseButtonRelease}) {
        const bool down = type != QEvent::MouseButtonRelease;
        QMouseEvent event(type, at, led->mapToGlobal(at), Qt::LeftButton,
                          down ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(led, &event);
    }
    EXPECT_EQ(Received(board, 7), sim::EncodeFrame(0xB2, {0x02}));
    PacedWait(100);
    EXPECT_EQ(board.ReceivedBytes().size(), 7u) << "a second 0xB2 frame";
    EXPECT_EQ(form().Protocol.RelayState, 0x02);
    EXPECT_EQ(led->LedState(), stOn);
}

TEST_F(Commands, SaveSendsTheRecordBuiltFromTheControlsAndTheBoardStoresIt) {
    sim::BoardSimulator& board = Connect();
    TSWB808Form& f = form();
    f.NewBaudComboBox->SetItemIndex(12);  // 115200
    f.errSpinEdit->SetValue(2);
    f.hsSpinEdit->SetValue(1);
    f.KeepLastCheckBox->SetChecked(true);
    f.hsRadioButtonOn->SetChecked(true);
    f.errRadioButtonOn->SetChecked(true);
    board.ClearRecord();

    Click(f.SaveSpeedButton);

    EXPECT_EQ(Received(board, 19),
              sim::EncodeFrame(0xB4, {0x0C, 0x02, 0x00, 0x01, 0x00, 0x01, 0x10}));
    const std::array<uint8_t, 6> stored = {0x0C, 0x02, 0x00, 0x01, 0x00, 0x01};
    EXPECT_TRUE(WaitFor([&] { return board.Config() == stored; }));
    EXPECT_EQ(f.Protocol.DeviceConfig, stored);
    EXPECT_TRUE(dialogs->shown.empty());
}

TEST_F(Commands, SaveWithoutASelectedRateShowsTheRangeErrorAndSendsNothing) {
    sim::BoardSimulator& board = Connect();
    form().NewBaudComboBox->SetItemIndex(15);  // as for a rate code above 14: nothing selected
    board.ClearRecord();

    Click(form().SaveSpeedButton);
    PacedWait(100);

    ASSERT_EQ(dialogs->shown.size(), 1u);
    EXPECT_EQ(dialogs->shown[0].kind, RecordingDialogs::Exception);
    EXPECT_EQ(dialogs->shown[0].text, "Fehler bei Bereichsprüfung");
    EXPECT_TRUE(board.ReceivedBytes().empty());
}

TEST_F(Commands, ResetRestartsTheBoardAtTheStoredRateAndTheRescanFindsItThere) {
    sim::BoardSimulator& board = Connect();
    form().NewBaudComboBox->SetItemIndex(4);  // 4800
    Click(form().SaveSpeedButton);
    ASSERT_TRUE(WaitFor([&] { return board.Config()[0] == 4; }));
    statusSeen.clear();

    Click(form().ResetSpeedButton);

    EXPECT_EQ(board.ResetCount(), 1);
    EXPECT_EQ(board.Rate(), 4800u);
    EXPECT_TRUE(form().Connected);
    EXPECT_EQ(form().ConnectedBaud, 4800);
    EXPECT_EQ(form().BaudrateComboBox->currentText(), "auto");
    EXPECT_EQ(form().ComPortComboBox->currentText(), "COM3");
    const int disconnected = StatusIndex("disconnected");
    EXPECT_GE(disconnected, 0);
    EXPECT_GT(StatusIndex("scanning COM3 at 300 Baud..."), disconnected);
    EXPECT_EQ(form().SWBStatusBar->PanelText(1),
              "SWB808 found at COM3 at 4800 Baud, Firmware Version 1.07a");
}

TEST_F(Commands, CloseResetsTheBoardAndTheWindowAndScanningAgainReopensThePort) {
    sim::BoardOptions o;
    o.relays = 0x05;
    o.inputs = 0x81;
    sim::BoardSimulator& board = Connect(115200, o);
    TSWB808Form& f = form();
    board.ClearRecord();

    Click(f.ScanSpeedButton);  // "Close"

    EXPECT_EQ(Received(board, 7), sim::EncodeFrame(0xBA, {0x00}));
    EXPECT_EQ(board.ResetCount(), 1);
    EXPECT_FALSE(f.Connected);
    EXPECT_EQ(f.OpenedPort, 0);
    EXPECT_FALSE(f.SWBComPort.Open());
    EXPECT_EQ(f.BaudrateComboBox->currentText(), "auto");
    EXPECT_EQ(f.ComPortComboBox->currentText(), "COM3");
    EXPECT_TRUE(f.BaudrateComboBox->isEnabled());
    EXPECT_TRUE(f.ComPortComboBox->isEnabled());
    for (int n = 0; n < 8; ++n) {
        EXPECT_EQ(f.RelLeds[n]->LedState(), stOff);
        EXPECT_EQ(f.OptoLeds[n]->LedState(), stOff);
    }
    EXPECT_EQ(f.VccPanel->Caption(), "0.00 V");
    EXPECT_EQ(f.VccPanel->Color(), clVccBad);
    EXPECT_EQ(f.ScanSpeedButton->text(), "Scan");
    EXPECT_EQ(f.SWBStatusBar->PanelText(1), "disconnected");
    EXPECT_EQ(f.StatusProgressBar->value(), 0);
    EXPECT_EQ(f.IdLabel->text(), "(unbekannt, bitte Scan durchführen)");
    EXPECT_EQ(f.VersionLabel->text(), "(unbekannt)");
    EXPECT_EQ(f.NewBaudComboBox->currentText(), "unbekannt");
    EXPECT_FALSE(f.NewBaudComboBox->isEnabled());
    EXPECT_EQ(f.errSpinEdit->Value(), 2);
    EXPECT_FALSE(f.errSpinEdit->isEnabled());
    EXPECT_EQ(f.hsSpinEdit->Value(), 1);
    EXPECT_FALSE(f.hsSpinEdit->isEnabled());
    EXPECT_TRUE(f.hsRadioButtonOn->Checked());
    EXPECT_TRUE(f.errRadioButtonOn->Checked());
    EXPECT_FALSE(f.KeepLastCheckBox->Checked());
    EXPECT_FALSE(f.SaveSpeedButton->isEnabled());
    EXPECT_FALSE(f.ResetSpeedButton->isEnabled());
    EXPECT_FALSE(f.ConfigTabSheet->isEnabled());
    EXPECT_FALSE(f.ControlTabSheet->isEnabled());

    // The board restarted at its rate; the port is opened afresh.
    Scan("COM3", "115200");
    EXPECT_TRUE(f.Connected);
    EXPECT_EQ(f.OpenedPort, 3);
}

TEST_F(Commands, ClosingTheWindowResetsAConnectedBoardOnly) {
    sim::BoardSimulator& board = Connect();
    board.ClearRecord();
    form().close();
    EXPECT_EQ(Received(board, 7), sim::EncodeFrame(0xBA, {0x00}));

    // Shown again, closed with "Close", then closed as a window: nothing more is sent.
    form().show();
    Click(form().ScanSpeedButton);
    ASSERT_FALSE(form().Connected);
    board.ClearRecord();
    form().close();
    PacedWait(200);
    EXPECT_TRUE(board.ReceivedBytes().empty());
}

}  // namespace
}  // namespace swb808::testing
