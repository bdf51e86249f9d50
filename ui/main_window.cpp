#include "ui/main_window.h"
#include "ui/window_controls.h"

#include <QShowEvent>
#include <QVBoxLayout>

#include "ui/artwork.h"
#include "ui/form_builder.h"
#include "ui/port_tooltips.h"
#include "ui/progress_bar_color.h"
#include "ui/version_info.h"
#include "ui/window_view.h"

namespace swb808 {

using namespace form;

TSWB808Form::TSWB808Form(QWidget* parent)
    : QWidget(parent), view_(std::make_unique<TWindowView>(*this)), Session(*view_) {
    setObjectName(QStringLiteral("SWB808Form"));
    setWindowTitle(QStringLiteral("SWB808 Kontrollprogramm"));
    setWindowIcon(ProgramIcon());
    setFont(WindowFont());
    setAutoFillBackground(true);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    BuildTopStrip();
    PageControl = Make<QTabWidget>(this, "PageControl");
    BuildWelcomePage();
    BuildConfigPage();
    BuildControlPage();
    BuildFirmwarePage();
    BuildErrorPage();
    BuildBottom();
    layout->addWidget(TopPanel);
    layout->addWidget(PageControl, 1);
    layout->addWidget(StatusProgressBar);
    layout->addWidget(SWBStatusBar);

    // Client area 426 x 533 at 96 dpi; the frame is the window manager's.
    resize(426, 533);
    move(28, 35);

    WireWindowHandlers();
    WireLogicHandlers();
    FormCreate();
}

void TSWB808Form::BuildTopStrip() {
    TopPanel = Make<QWidget>(this, "TopPanel");
    TopPanel->setFixedHeight(65);

    ComPortPanel =
        Place(Make<Panel>(TopPanel, "ComPortPanel", QStringLiteral(" COM-Port:")), 8, 12, 137, 33);
    QStringList ports{QStringLiteral("auto")};
    for (int n = 1; n <= 16; ++n) ports << QStringLiteral("COM%1").arg(n);
    ComPortComboBox = Place(Make<ComboBox>(ComPortPanel, "ComPortComboBox", ports), 56, 6, 73, 21);
    ComPortComboBox->SetAutoComplete(false);
    ComPortComboBox->SetItemIndex(0);
    AttachPortTooltips(ComPortComboBox);

    BaudratePanel = Place(Make<Panel>(TopPanel, "BaudratePanel", QStringLiteral(" Baudrate:")), 160,
                          12, 137, 33);
    BaudrateComboBox =
        Place(Make<ComboBox>(
                  BaudratePanel, "BaudrateComboBox",
                  QStringList{"auto"} + RateTexts()),
              56, 6, 73, 21);
    BaudrateComboBox->SetItemIndex(0);

    ScanSpeedButton = Place(Make<SpeedButton>(TopPanel, "ScanSpeedButton", QStringLiteral("Scan")),
                            312, 8, 89, 41);
    ScanSpeedButton->setFlat(true);
    ScanSpeedButton->setIcon(ScanIcon());
    ScanSpeedButton->setIconSize(QSize(32, 32));
}

QWidget* TSWB808Form::AddPage(const char* name, const QString& caption) {
    auto* page = Make<QWidget>(PageControl, name);
    // Pages in the button-face colour, as the panels and LEDs on them are.
    page->setAutoFillBackground(true);
    PageControl->addTab(page, caption);
    return page;
}

void TSWB808Form::BuildBottom() {
    StatusProgressBar = Make<QProgressBar>(this, "StatusProgressBar");
    StatusProgressBar->setOrientation(Qt::Horizontal);
    StatusProgressBar->setRange(0, 1000);
    StatusProgressBar->setValue(1000);
    StatusProgressBar->setTextVisible(false);
    StatusProgressBar->setFixedHeight(33);

    SWBStatusBar = Make<StatusBar>(this, "SWBStatusBar");
    SWBStatusBar->setFixedHeight(19);
    SWBStatusBar->AddPanel(50, QStringLiteral("Status: "));
    SWBStatusBar->AddPanel(500, QStringLiteral("disconnected"));
}

void TSWB808Form::WireWindowHandlers() {
    hsRadioButtonOn->OnClick = [this] { hsRadioButtonOnClick(); };
    hsRadioButtonOff->OnClick = [this] { hsRadioButtonOffClick(); };
    errRadioButtonOn->OnClick = [this] { errRadioButtonOnClick(); };
    errRadioButtonOff->OnClick = [this] { errRadioButtonOffClick(); };
    NewBaudComboBox->OnChange = [this] { NewBaudComboBoxChange(); };
}

// The connection state starts cleared in the session, which is made with the window.
void TSWB808Form::FormCreate() {
    FirmwareLoaded = false;
}

void TSWB808Form::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!event->spontaneous()) FormShow();
}

void TSWB808Form::FormShow() {
    std::string internalName, fileVersion;
    if (ReadVersionInfo(executableFileName_, internalName, fileVersion)) {
        const QString caption = QString::fromStdString(internalName + " " + fileVersion);
        setWindowTitle(caption);
        ProgNameLabel->setText(caption);
        ProgNameLabel->adjustSize();
    }
    SetProgressBarColor(StatusProgressBar, clSwbOrange);
    PageControl->setCurrentIndex(0);
}

void TSWB808Form::hsRadioButtonOnClick() {
    hsSpinEdit->setEnabled(true);
}
void TSWB808Form::hsRadioButtonOffClick() {
    hsSpinEdit->setEnabled(false);
}
void TSWB808Form::errRadioButtonOnClick() {
    errSpinEdit->setEnabled(true);
}
void TSWB808Form::errRadioButtonOffClick() {
    errSpinEdit->setEnabled(false);
}

void TSWB808Form::NewBaudComboBoxChange() {
    // "unbekannt" is only for the program to show; the operator's pick becomes the top rate.
    const int count = NewBaudComboBox->count();
    if (NewBaudComboBox->ItemIndex() == count - 1) NewBaudComboBox->SetItemIndex(count - 2);
}

}  // namespace swb808
