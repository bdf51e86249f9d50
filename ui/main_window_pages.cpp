#include <QVBoxLayout>

#include "ui/artwork.h"
#include "ui/form_builder.h"
#include "ui/main_window.h"
#include "ui/window_controls.h"

namespace swb808 {

using namespace form;

namespace {

QVBoxLayout* FillLayout(QWidget* page) {
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    return layout;
}

// The eighteen LEDs share one look.
LedIndicator* Led(QWidget* parent, const char* name, int x, int y, int w, const QString& caption,
                  TAlign align, TState state) {
    auto* led = Place(Make<LedIndicator>(parent, name), x, y, w, 25);
    led->SetCaption(caption);
    led->SetLedOnColor(clSwbOrange);
    led->SetLedOffColor(clSwbBrown);
    led->SetLedCircle(13);
    led->SetLedMargin(5);
    led->SetCaptionMargin(2);
    led->SetCaptionAlign(caLeft);
    led->SetLedBorder(olNone);
    led->SetBorder(olNone);
    led->SetCaptionBorder(olNone);
    led->SetLedSpot(false);
    led->SetTransparant(false);
    led->SetCaptionTransparant(false);
    led->SetColorBackGround(clBtnFace);
    led->SetCaptionBackGround(clBtnFace);
    led->SetLedColorLine(clBlack);
    led->SetBorderLine(clBlack);
    led->SetCaptionLineColor(clBlack);
    led->SetLedSpotColorOn(clWhite);
    led->SetLedSpotColorOff(clWhite);
    led->SetLedAlign(align);
    led->SetLedState(state);
    return led;
}

TextMemo* Memo(QWidget* parent, const char* name, int x, int y, int w, int h,
               const QStringList& lines) {
    auto* memo = Place(Make<TextMemo>(parent, name), x, y, w, h);
    memo->setFrameShape(QFrame::NoFrame);
    memo->setFocusPolicy(Qt::NoFocus);
    memo->document()->setDocumentMargin(0);
    memo->SetLines(lines);
    return memo;
}

}  // namespace

void TSWB808Form::BuildWelcomePage() {
    WelcomeTabSheet = AddPage("WelcomeTabSheet", QStringLiteral("Willkommen"));
    WelcomePanel = Make<Panel>(WelcomeTabSheet, "WelcomePanel", QString());
    WelcomePanel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    WelcomePanel->SetColor(clWindow);
    FillLayout(WelcomeTabSheet)->addWidget(WelcomePanel);

    WelcomeImage = Place(Make<QLabel>(WelcomePanel, "WelcomeImage"), 48, 24, 305, 81);
    WelcomeImage->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    WelcomeImage->setPixmap(QPixmap::fromImage(WelcomePicture()));

    ProgNameLabel = AutoLabel(WelcomePanel, "ProgNameLabel", 112, 112, QString());
    ProgNameLabel->setFont(WindowFont(20));
    ProgNameLabel->setText(QStringLiteral("SWB808 Control 1.0"));
    ProgNameLabel->adjustSize();

    WelcomeMemo1 = Memo(
        WelcomePanel, "WelcomeMemo1", 112, 144, 241, 137,
        {QStringLiteral("SWB808 Control project"), QStringLiteral("Werkzeug für die Relais- und"),
         QStringLiteral("Eingangskarte SWB808"), QString(),
         QStringLiteral("Finden, Steuern, Konfigurieren"),
         QStringLiteral("und Flashen über RS-232"), QString(),
         QStringLiteral("Hinweise: README.md")});
    WelcomeMemo2 = Memo(WelcomePanel, "WelcomeMemo2", 40, 280, 345, 49,
                        {QStringLiteral("Zum Start Schnittstelle und Baudrate wählen"),
                         QStringLiteral("(oder \"auto\") und auf \"Scan\" klicken!")});
    WelcomeMemo2->setFont(WindowFont(15, true));
}

void TSWB808Form::BuildConfigPage() {
    QWidget* page = ConfigTabSheet = AddPage("ConfigTabSheet", QStringLiteral("Konfiguration"));
    cfgTopLabel = HeaderLabel(page, "cfgTopLabel", 9, QStringLiteral("  SWB808 konfigurieren"));
    cfgLabel1 = AutoLabel(page, "cfgLabel1", 16, 51, QStringLiteral("Baudrate:"));
    NewBaudComboBox = Place(Make<ComboBox>(page, "NewBaudComboBox",
                                           RateTexts() + QStringList{"unbekannt"}),
                            128, 48, 97, 21);
    NewBaudComboBox->SetItemIndex(14);
    NewBaudComboBox->setEnabled(false);

    // Each panel reads as one sentence: label, "nach" + seconds + label, or the other button.
    cfgHsPanel = Place(Make<Panel>(page, "cfgHsPanel", QString()), 8, 80, 401, 58);
    hsLabel1 = AutoLabel(cfgHsPanel, "hsLabel1", 8, 8, QStringLiteral("Verbindungsaufbau:"));
    hsRadioButtonOn = Place(
        Make<RadioButton>(cfgHsPanel, "hsRadioButtonOn", QStringLiteral("nach")), 120, 8, 47, 17);
    hsRadioButtonOn->SetChecked(true);
    hsSpinEdit = Place(Make<SpinEdit>(cfgHsPanel, "hsSpinEdit"), 176, 5, 65, 22);
    hsSpinEdit->SetMinValue(1);
    hsSpinEdit->SetMaxValue(65535);
    hsSpinEdit->SetIncrement(1);
    hsSpinEdit->SetValue(1);
    hsSpinEdit->setEnabled(false);
    hsLabel2 =
        AutoLabel(cfgHsPanel, "hsLabel2", 248, 8, QStringLiteral("Sekunden erneut versuchen"));
    hsRadioButtonOff = Place(
        Make<RadioButton>(cfgHsPanel, "hsRadioButtonOff", QStringLiteral("nicht erneut versuchen")),
        120, 30, 169, 17);

    cfgErrPanel = Place(Make<Panel>(page, "cfgErrPanel", QString()), 8, 136, 401, 58);
    errLabel1 = AutoLabel(cfgErrPanel, "errLabel1", 8, 8, QStringLiteral("Verbindungsfehler:"));
    errRadioButtonOn = Place(
        Make<RadioButton>(cfgErrPanel, "errRadioButtonOn", QStringLiteral("nach")), 120, 8, 47, 17);
    errRadioButtonOn->SetChecked(true);
    errSpinEdit = Place(Make<SpinEdit>(cfgErrPanel, "errSpinEdit"), 176, 5, 65, 22);
    errSpinEdit->SetMinValue(2);
    errSpinEdit->SetMaxValue(65535);
    errSpinEdit->SetIncrement(1);
    errSpinEdit->SetValue(2);
    errSpinEdit->setEnabled(false);
    errLabel2 = AutoLabel(cfgErrPanel, "errLabel2", 248, 8, QStringLiteral("Sekunden melden"));
    errRadioButtonOff =
        Place(Make<RadioButton>(cfgErrPanel, "errRadioButtonOff", QStringLiteral("ignorieren")),
              120, 30, 169, 17);

    KeepLastCheckBox =
        Place(Make<CheckBox>(page, "KeepLastCheckBox",
                             QStringLiteral("Relaiszustand bei Verbindungsfehler beibehalten")),
              16, 200, 353, 17);
    KeepLastCheckBox->SetChecked(true);

    SaveSpeedButton = Place(Make<SpeedButton>(page, "SaveSpeedButton", QStringLiteral("Speichern")),
                            16, 232, 97, 41);
    SaveSpeedButton->setIcon(SaveIcon());
    SaveSpeedButton->setIconSize(QSize(32, 32));
    SaveSpeedButton->setEnabled(false);
    cfgLabel2 = AutoLabel(page, "cfgLabel2", 128, 244,
                          QStringLiteral("Konfiguration auf SWB808 speichern"));
    ResetSpeedButton = Place(Make<SpeedButton>(page, "ResetSpeedButton", QStringLiteral("Reset")),
                             16, 280, 97, 41);
    ResetSpeedButton->setIcon(ResetIcon());
    ResetSpeedButton->setIconSize(QSize(32, 32));
    ResetSpeedButton->setEnabled(false);
    cfgLabel3 = AutoLabel(page, "cfgLabel3", 128, 292,
                          QStringLiteral("SWB808 zurücksetzen und Konfiguration auslesen"));
    page->setEnabled(false);
}

void TSWB808Form::BuildControlPage() {
    QWidget* page = ControlTabSheet = AddPage("ControlTabSheet", QStringLiteral("Steuerung"));
    ControlTopLabel =
        HeaderLabel(page, "ControlTopLabel", 9, QStringLiteral("  SWB808 steuern und überwachen"));
    SampleLedOff = Led(page, "SampleLedOff", 8, 56, 73, QStringLiteral("= off"), alLeft, stOff);
    SampleLedOn = Led(page, "SampleLedOn", 8, 88, 73, QStringLiteral("= on"), alLeft, stOn);

    RelGroupBox =
        Place(Make<GroupBox>(page, "RelGroupBox", QStringLiteral("Relais schalten [click]")), 120,
              48, 129, 305);
    OptoGroupBox = Place(Make<GroupBox>(page, "OptoGroupBox", QStringLiteral("Optos Anzeige")), 280,
                         48, 113, 305);
    static constexpr const char* kRelNames[8] = {"RelLed1", "RelLed2", "RelLed3", "RelLed4",
                                                 "RelLed5", "RelLed6", "RelLed7", "RelLed8"};
    static constexpr const char* kOptoNames[8] = {"OptoLed1", "OptoLed2", "OptoLed3", "OptoLed4",
                                                  "OptoLed5", "OptoLed6", "OptoLed7", "OptoLed8"};
    for (int i = 0; i < 8; ++i) {
        RelLeds[i] = Led(RelGroupBox, kRelNames[i], 32, 40 + 32 * i, 68,
                         QStringLiteral("Relais %1").arg(i + 1), alRight, stOff);
        OptoLeds[i] = Led(OptoGroupBox, kOptoNames[i], 26, 40 + 32 * i, 63,
                          QStringLiteral("Opto %1").arg(i + 1), alRight, stOff);
    }
    RelLed1 = RelLeds[0], RelLed2 = RelLeds[1], RelLed3 = RelLeds[2], RelLed4 = RelLeds[3];
    RelLed5 = RelLeds[4], RelLed6 = RelLeds[5], RelLed7 = RelLeds[6], RelLed8 = RelLeds[7];
    OptoLed1 = OptoLeds[0], OptoLed2 = OptoLeds[1], OptoLed3 = OptoLeds[2], OptoLed4 = OptoLeds[3];
    OptoLed5 = OptoLeds[4], OptoLed6 = OptoLeds[5], OptoLed7 = OptoLeds[6], OptoLed8 = OptoLeds[7];

    VccGroupBox =
        Place(Make<GroupBox>(page, "VccGroupBox", QStringLiteral("Vcc")), 16, 152, 73, 65);
    VccPanel = Make<Panel>(VccGroupBox, "VccPanel", QStringLiteral("0.00 V"));
    VccPanel->setAlignment(Qt::AlignCenter);
    VccPanel->SetColor(clVccBad);
    auto* vccLayout = FillLayout(VccGroupBox);
    vccLayout->setContentsMargins(2, 15, 2, 2);
    vccLayout->addWidget(VccPanel);
    page->setEnabled(false);
}

void TSWB808Form::BuildFirmwarePage() {
    QWidget* page = FirmwareTabSheet =
        AddPage("FirmwareTabSheet", QStringLiteral("Firmware Update"));
    VersionTopLabel =
        HeaderLabel(page, "VersionTopLabel", 9, QStringLiteral("  Versions-Information"));
    fwLabel1 = AutoLabel(page, "fwLabel1", 16, 40, QStringLiteral("Gerätekennung:"));
    IdLabel = FixedLabel(page, "IdLabel", 104, 40, 305, 17,
                         QStringLiteral("(unbekannt, bitte Scan durchführen!)"));
    fwLabel2 = FixedLabel(page, "fwLabel2", 16, 56, 89, 17, QStringLiteral("Firmware Version:"));
    VersionLabel =
        FixedLabel(page, "VersionLabel", 104, 56, 105, 17, QStringLiteral("(unbekannt)"));

    FirmwareTopLabel =
        HeaderLabel(page, "FirmwareTopLabel", 89, QStringLiteral("  Firmware laden"));
    LoadSpeedButton = Place(Make<SpeedButton>(page, "LoadSpeedButton", QStringLiteral("Aus Datei")),
                            16, 120, 81, 25);
    ILoadSpeedButton =
        Place(Make<SpeedButton>(page, "ILoadSpeedButton", QStringLiteral("Vom Internet")), 104, 120,
              89, 25);
    ILoadSpeedButton->setVisible(false);
    fwLabel3 = AutoLabel(page, "fwLabel3", 16, 152, QStringLiteral("Geladene Firmware-Datei:"));
    FilenameLabel = FixedLabel(page, "FilenameLabel", 144, 152, 265, 13, QStringLiteral("(keine)"));
    fwLabel4 = FixedLabel(page, "fwLabel4", 16, 168, 81, 17, QStringLiteral("Update Version:"));
    NewVersionLabel =
        FixedLabel(page, "NewVersionLabel", 144, 168, 49, 17, QStringLiteral("(keine)"));

    FlashTopLabel = HeaderLabel(page, "FlashTopLabel", 193, QStringLiteral("  Firmware flashen"));
    UpdateSpeedButton = Place(Make<SpeedButton>(page, "UpdateSpeedButton", QStringLiteral("Flash")),
                              16, 226, 89, 41);
    UpdateSpeedButton->setIcon(FlashIcon());
    UpdateSpeedButton->setIconSize(QSize(32, 32));
    UpdateSpeedButton->setEnabled(false);

    BootloaderGroupBox = Place(
        Make<GroupBox>(page, "BootloaderGroupBox", QStringLiteral("Flash-Inhalt defekt (Notfall)")),
        208, 224, 201, 113);
    BootloaderCheckBox = Place(Make<CheckBox>(BootloaderGroupBox, "BootloaderCheckBox",
                                              QStringLiteral("Update per Bootloader")),
                               8, 24, 185, 17);
    BootloaderMemo = Memo(BootloaderGroupBox, "BootloaderMemo", 8, 56, 185, 49,
                          {QStringLiteral("Diese Option nur dann wählen, "),
                           QStringLiteral("wenn die Status-LEDs am Gerät"),
                           QStringLiteral("auf defekten Flash-Inhalt hinweisen!")});
    BootloaderMemo->SetBackgroundColor(clBtnFace);
}

void TSWB808Form::BuildErrorPage() {
    ErrorTabSheet = AddPage("ErrorTabSheet", QStringLiteral("Meldungen"));
    ErrorMemo = Make<TextMemo>(ErrorTabSheet, "ErrorMemo");
    FillLayout(ErrorTabSheet)->addWidget(ErrorMemo);
}

}  // namespace swb808
