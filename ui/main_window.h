#pragma once

// The window's declaration needs the session it holds and the image it keeps; its controls
// are named by pointer only (ui/controls.h and the others define them).

#include <QWidget>
#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "connection/board_session.h"
#include "firmware/firmware_image.h"

class QLabel;
class QProgressBar;
class QTabWidget;

namespace swb808 {

class TWindowView;
class FirmwareTransfer;
class Panel;
class ComboBox;
class SpeedButton;
class RadioButton;
class CheckBox;
class GroupBox;
class LedIndicator;
class SpinEdit;
class TextMemo;
class StatusBar;

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
    // by its own source and connected in WireLogicHandlers(). Each is a short forward to the
    // session below the window (connection/board_session.h). ---
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

  private:
    // Declared before the session, which reports to it.
    std::unique_ptr<TWindowView> view_;

  public:
    // The board logic: one session on the window's port, run on the UI thread.
    BoardSession Session;

    // "Connected" reads the session's state.
    struct TConnectedFlag {
        const BoardSession& session;
        operator bool() const { return session.IsConnected(); }
    };

    // --- Connection state, in the session ---
    const TConnectedFlag Connected{Session};
    bool FirmwareLoaded = false;
    const int32_t& ConnectedPort = Session.ConnectedPort();
    const int32_t& ConnectedBaud = Session.ConnectedBaud();
    const int32_t& OpenedPort = Session.OpenedPort();

    // --- Connection logic (in the session; firmware image in ui/image_load_handlers.cpp) ---
    TSerialPort& SWBComPort = Session.Port();
    TSWB808Protocol& Protocol = Session.Protocol();  // FrameBuffer, Payload, device records
    const int32_t& ScanStep = Session.ScanStep();
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
    // The scan the port and rate pickers ask for ("auto": every port, every rate).
    ScanRequest PickedScan() const;
    ConfigValues ConfigControls() const;

    // --- Flashing (ui/flashing.cpp) ---
    // True while UpdateSpeedButtonClick is under way.
    bool FlashRunning() const { return transfer_ != nullptr; }
    // True when a close must wait for the running transfer: the board is taking blocks (it is
    // then carried out after the transfer). The operator is told in the messages tab and in
    // a status-bar panel of its own.
    bool HoldCloseDuringFlash();
    bool CloseAfterFlash() const { return closeAfterFlash_; }

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

    friend class TWindowView;
    friend class TFlashRun;

    std::string executableFileName_ = "/proc/self/exe";
    std::shared_ptr<TNotificationTarget> portNotifier_;
    FirmwareTransfer* transfer_ = nullptr;  // the running "Flash"
    bool closeAfterFlash_ = false;          // a close came meanwhile and waits for its end
};

}  // namespace swb808
