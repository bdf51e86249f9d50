#pragma once

#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QTabWidget>
#include <QWidget>
#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "firmware/firmware_image.h"
#include "protocol/swb808_protocol.h"
#include "serial/serial_port.h"
#include "ui/controls.h"
#include "ui/led_indicator.h"
#include "ui/spin_edit.h"
#include "ui/status_bar.h"
#include "ui/text_memo.h"

namespace swb808 {

// The program's one window. Controls are public and carry the names the program's logic
// uses for them (also as Qt object names).
class TSWB808Form : public QWidget {
  public:
    explicit TSWB808Form(QWidget* parent = nullptr);
    ~TSWB808Form() override;

    // --- Start-up and the handlers that only couple controls ---
    void FormCreate();
    void FormShow();
    void hsRadioButtonOnClick();
    void hsRadioButtonOffClick();
    void errRadioButtonOnClick();
    void errRadioButtonOffClick();
    void NewBaudComboBoxChange();

    // --- Handlers of the connection and firmware logic. Declared here; each is defined
    // by its own source and connected in WireLogicHandlers() when that source joins. ---
    void ScanSpeedButtonClick();
    void SaveSpeedButtonClick();
    void ResetSpeedButtonClick();
    void RelLed1Click(LedIndicator& sender);
    void LoadSpeedButtonClick();
    void UpdateSpeedButtonClick();
    void BootloaderCheckBoxClick();
    void FormClose();

    // The file whose version record FormShow reads; the running executable by default.
    void SetExecutableFileName(const std::string& fileName) { executableFileName_ = fileName; }

    // --- Connection state, cleared by FormCreate ---
    bool Connected = false;
    bool FirmwareLoaded = false;
    int32_t ConnectedPort = 0;
    int32_t ConnectedBaud = 0;
    int32_t OpenedPort = 0;

    // --- Connection logic (connection/, firmware/image_load_handlers.cpp) ---
    TSerialPort SWBComPort;
    TSWB808Protocol Protocol{SWBComPort};  // FrameBuffer, Payload and the device records
    int32_t ScanStep = 0;
    TFirmwareImage FirmwareImage{};
    bool OpenSWBPort(int32_t port, int32_t baud);
    int32_t ScanConnect(int32_t port, int32_t baud);
    int32_t ScanBaud(int32_t port);
    void connect();  // hides QObject::connect inside the class: call that one qualified
    void disconnect();
    void setrelaisleds(uint8_t mask);
    void setoptoleds(uint8_t mask);
    void SWBComPortTriggerData(TSerialPort& CP, uint16_t TriggerHandle);
    void SWBComPortLineCheck();  // a vanished device disconnects; stale noise is dropped
    // The open port's device vanished: told in the messages tab and the status bar, port
    // closed, OpenedPort cleared. False when the line is fine (or the port closed).
    bool DropLostLine();
    void TellLineLost(int32_t com);
    void DropStaleInput();  // input nobody reads, waiting since the last check

    // --- Flashing (firmware/flashing.cpp) ---
    bool FlashRunning = false;     // UpdateSpeedButtonClick is under way
    bool CloseAfterFlash = false;  // a close came meanwhile and waits for the transfer's end
    // True when a close must wait for the running transfer (it is then carried out after it).
    bool HoldCloseDuringFlash();

    // --- Top strip ---
    QWidget* TopPanel;
    Panel* ComPortPanel;
    ComboBox* ComPortComboBox;
    Panel* BaudratePanel;
    ComboBox* BaudrateComboBox;
    SpeedButton* ScanSpeedButton;

    // --- Pages ---
    QTabWidget* PageControl;
    QWidget* WelcomeTabSheet;
    QWidget* ConfigTabSheet;
    QWidget* ControlTabSheet;
    QWidget* FirmwareTabSheet;
    QWidget* ErrorTabSheet;

    // Welcome
    Panel* WelcomePanel;
    QLabel* WelcomeImage;
    QLabel* ProgNameLabel;
    TextMemo* WelcomeMemo1;
    TextMemo* WelcomeMemo2;

    // Configuration
    QLabel* cfgTopLabel;
    QLabel* cfgLabel1;
    ComboBox* NewBaudComboBox;
    Panel* cfgHsPanel;
    QLabel* hsLabel1;
    RadioButton* hsRadioButtonOn;
    SpinEdit* hsSpinEdit;
    QLabel* hsLabel2;
    RadioButton* hsRadioButtonOff;
    Panel* cfgErrPanel;
    QLabel* errLabel1;
    RadioButton* errRadioButtonOn;
    SpinEdit* errSpinEdit;
    QLabel* errLabel2;
    RadioButton* errRadioButtonOff;
    CheckBox* KeepLastCheckBox;
    SpeedButton* SaveSpeedButton;
    QLabel* cfgLabel2;
    SpeedButton* ResetSpeedButton;
    QLabel* cfgLabel3;

    // Control
    QLabel* ControlTopLabel;
    LedIndicator* SampleLedOff;
    LedIndicator* SampleLedOn;
    GroupBox* RelGroupBox;
    LedIndicator *RelLed1, *RelLed2, *RelLed3, *RelLed4, *RelLed5, *RelLed6, *RelLed7, *RelLed8;
    GroupBox* OptoGroupBox;
    LedIndicator *OptoLed1, *OptoLed2, *OptoLed3, *OptoLed4, *OptoLed5, *OptoLed6, *OptoLed7,
        *OptoLed8;
    std::array<LedIndicator*, 8> RelLeds;   // RelLed1 ... RelLed8
    std::array<LedIndicator*, 8> OptoLeds;  // OptoLed1 ... OptoLed8
    GroupBox* VccGroupBox;
    Panel* VccPanel;

    // Firmware update
    QLabel* VersionTopLabel;
    QLabel* fwLabel1;
    QLabel* IdLabel;
    QLabel* fwLabel2;
    QLabel* VersionLabel;
    QLabel* FirmwareTopLabel;
    SpeedButton* LoadSpeedButton;
    SpeedButton* ILoadSpeedButton;
    QLabel* fwLabel3;
    QLabel* FilenameLabel;
    QLabel* fwLabel4;
    QLabel* NewVersionLabel;
    QLabel* FlashTopLabel;
    SpeedButton* UpdateSpeedButton;
    GroupBox* BootloaderGroupBox;
    CheckBox* BootloaderCheckBox;
    TextMemo* BootloaderMemo;

    // Messages
    TextMemo* ErrorMemo;

    // --- Bottom ---
    QProgressBar* StatusProgressBar;
    StatusBar* SWBStatusBar;

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;  // runs FormClose

  private:
    void BuildTopStrip();
    void BuildWelcomePage();
    void BuildConfigPage();
    void BuildControlPage();
    void BuildFirmwarePage();
    void BuildErrorPage();
    void BuildBottom();
    QWidget* AddPage(const char* name, const QString& caption);
    void WireWindowHandlers();
    // The one place where the connection and firmware logic connects its handlers.
    void WireLogicHandlers();

    std::string executableFileName_ = "/proc/self/exe";
    std::shared_ptr<TNotificationTarget> portNotifier_;
    int inputChangeDepth_ = 0;   // SWBComPortTriggerData is reading frames
    uint16_t staleWaiting_ = 0;  // input waiting at the last line check
};

}  // namespace swb808
