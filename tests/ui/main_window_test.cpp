#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTabBar>
#include <QTest>
#include <QTimer>

#include "ui/dialogs.h"
#include "ui/main_window.h"
#include "ui/window_controls.h"

namespace swb808 {
namespace {

class Form : public ::testing::Test {
  protected:
    void Show() {
        form.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    }
    template <typename T = QWidget>
    T* Find(const char* name) {
        return form.findChild<T*>(QString::fromLatin1(name));
    }
    TSWB808Form form;
};

TEST_F(Form, ControlsCarryTheirNamesPlacesAndStartStates) {
    struct Case {
        const char* name;
        QWidget* member;
        QRect geometry;  // relative to the parent's client area
        bool enabled;    // the control's own flag
    } cases[] = {
        {"ComPortComboBox", form.ComPortComboBox, {56, 6, 73, 21}, true},
        {"BaudrateComboBox", form.BaudrateComboBox, {56, 6, 73, 21}, true},
        {"ScanSpeedButton", form.ScanSpeedButton, {312, 8, 89, 41}, true},
        {"NewBaudComboBox", form.NewBaudComboBox, {128, 48, 97, 21}, false},
        {"hsRadioButtonOn", form.hsRadioButtonOn, {120, 8, 47, 17}, true},
        {"hsSpinEdit", form.hsSpinEdit, {176, 5, 65, 22}, false},
        {"errSpinEdit", form.errSpinEdit, {176, 5, 65, 22}, false},
        {"errRadioButtonOff", form.errRadioButtonOff, {120, 30, 169, 17}, true},
        {"KeepLastCheckBox", form.KeepLastCheckBox, {16, 200, 353, 17}, true},
        {"SaveSpeedButton", form.SaveSpeedButton, {16, 232, 97, 41}, false},
        {"ResetSpeedButton", form.ResetSpeedButton, {16, 280, 97, 41}, false},
        {"SampleLedOn", form.SampleLedOn, {8, 88, 73, 25}, true},
        {"RelLed1", form.RelLed1, {32, 40, 68, 25}, true},
        {"RelLed8", form.RelLed8, {32, 264, 68, 25}, true},
        {"OptoLed5", form.OptoLed5, {26, 168, 63, 25}, true},
        {"RelGroupBox", form.RelGroupBox, {120, 48, 129, 305}, true},
        {"VccGroupBox", form.VccGroupBox, {16, 152, 73, 65}, true},
        {"LoadSpeedButton", form.LoadSpeedButton, {16, 120, 81, 25}, true},
        {"UpdateSpeedButton", form.UpdateSpeedButton, {16, 226, 89, 41}, false},
        {"BootloaderGroupBox", form.BootloaderGroupBox, {208, 224, 201, 113}, true},
        {"BootloaderCheckBox", form.BootloaderCheckBox, {8, 24, 185, 17}, true},
        {"IdLabel", form.IdLabel, {104, 40, 305, 17}, true},
        {"FilenameLabel", form.FilenameLabel, {144, 152, 265, 13}, true},
        {"FlashTopLabel", form.FlashTopLabel, {8, 193, 401, 20}, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Find(c.name), c.member) << c.name;
        EXPECT_EQ(c.member->geometry(), c.geometry) << c.name;
        EXPECT_EQ(c.member->isEnabledTo(c.member->parentWidget()), c.enabled) << c.name;
    }
    EXPECT_EQ(form.ComPortComboBox->count(), 17);
    EXPECT_EQ(form.ComPortComboBox->itemText(16), QStringLiteral("COM16"));
    EXPECT_EQ(form.BaudrateComboBox->count(), 15);
    EXPECT_EQ(form.BaudrateComboBox->currentText(), QStringLiteral("auto"));
    EXPECT_EQ(form.NewBaudComboBox->currentText(), QStringLiteral("unbekannt"));
    EXPECT_EQ(form.hsSpinEdit->Value(), 1);
    EXPECT_EQ(form.errSpinEdit->Value(), 2);
    EXPECT_TRUE(form.hsRadioButtonOn->Checked());
    EXPECT_FALSE(form.hsRadioButtonOff->Checked());
    EXPECT_TRUE(form.errRadioButtonOn->Checked());
    EXPECT_TRUE(form.KeepLastCheckBox->Checked());
    EXPECT_FALSE(form.BootloaderCheckBox->Checked());
    EXPECT_TRUE(form.ILoadSpeedButton->isHidden());
    EXPECT_EQ(form.IdLabel->text(), QStringLiteral("(unbekannt, bitte Scan durchführen!)"));
    EXPECT_EQ(form.VccPanel->Caption(), QStringLiteral("0.00 V"));
    EXPECT_EQ(form.VccPanel->Color(), clVccBad);
    EXPECT_EQ(form.SampleLedOff->LedState(), stOff);
    EXPECT_EQ(form.SampleLedOn->LedState(), stOn);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(form.RelLeds[i]->LedState(), stOff);
        EXPECT_EQ(form.OptoLeds[i]->LedState(), stOff);
        EXPECT_EQ(form.RelLeds[i]->Caption(), QStringLiteral("Relais %1").arg(i + 1));
        EXPECT_EQ(form.OptoLeds[i]->LedOnColor(), clSwbOrange);
    }
    EXPECT_EQ(form.ErrorMemo->toPlainText(), QString());
    EXPECT_EQ(form.SWBStatusBar->PanelCount(), 2);
    EXPECT_EQ(form.SWBStatusBar->PanelText(0), QStringLiteral("Status: "));
    EXPECT_EQ(form.SWBStatusBar->PanelWidth(0), 50);
    EXPECT_EQ(form.SWBStatusBar->PanelText(1), QStringLiteral("disconnected"));
    EXPECT_EQ(form.SWBStatusBar->PanelWidth(1), 500);
    EXPECT_EQ(form.StatusProgressBar->maximum(), 1000);
    EXPECT_EQ(form.StatusProgressBar->value(), 1000);
}

TEST_F(Form, ShowingActivatesTheWelcomePageAndPaintsTheBarOrange) {
    const QStringList tabs{"Willkommen", "Konfiguration", "Steuerung", "Firmware Update",
                           "Meldungen"};
    ASSERT_EQ(form.PageControl->count(), 5);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(form.PageControl->tabText(i), tabs[i]);
    form.PageControl->setCurrentIndex(3);
    Show();
    EXPECT_EQ(form.PageControl->currentIndex(), 0);
    const QImage bar = form.StatusProgressBar->grab().toImage();
    const QColor mid = bar.pixelColor(bar.width() / 2, bar.height() / 2);
    EXPECT_NEAR(mid.red(), 244, 24);
    EXPECT_NEAR(mid.green(), 87, 24);
    EXPECT_NEAR(mid.blue(), 18, 24);
}

TEST_F(Form, DisabledPagesCanBeShownButTakeNoInput) {
    Show();
    EXPECT_FALSE(form.ConfigTabSheet->isEnabled());
    EXPECT_FALSE(form.ControlTabSheet->isEnabled());
    EXPECT_TRUE(form.FirmwareTabSheet->isEnabled());
    EXPECT_TRUE(form.ErrorTabSheet->isEnabled());
    QTest::mouseClick(form.PageControl->tabBar(), Qt::LeftButton, {},
                      form.PageControl->tabBar()->tabRect(2).center());
    EXPECT_EQ(form.PageControl->currentIndex(), 2);

    int clicks = 0;
    form.RelLed3->OnClick = [&](LedIndicator&) { ++clicks; };
    QTest::mouseClick(form.RelLed3, Qt::LeftButton, {}, QPoint(55, 12));
    QTest::mouseClick(form.hsRadioButtonOff, Qt::LeftButton);
    EXPECT_EQ(clicks, 0);
    EXPECT_FALSE(form.hsRadioButtonOff->Checked());

    form.ControlTabSheet->setEnabled(true);
    QTest::mouseClick(form.RelLed3, Qt::LeftButton, {}, QPoint(55, 12));
    EXPECT_EQ(clicks, 1);
}

TEST_F(Form, RadioButtonsSwitchOnlyTheirSpinEdit) {
    Show();
    form.ConfigTabSheet->setEnabled(true);
    form.PageControl->setCurrentIndex(1);
    form.errSpinEdit->setEnabled(true);
    form.errSpinEdit->SetValue(17);
    QTest::mouseClick(form.errRadioButtonOff, Qt::LeftButton);
    EXPECT_FALSE(form.errSpinEdit->isEnabled());
    EXPECT_EQ(form.errSpinEdit->Value(), 17);
    QTest::mouseClick(form.errRadioButtonOn, Qt::LeftButton);
    EXPECT_TRUE(form.errSpinEdit->isEnabled());
    EXPECT_EQ(form.errSpinEdit->Value(), 17);
    EXPECT_FALSE(form.hsSpinEdit->isEnabled()) << "the other group is independent";

    // What connect and disconnect do by code: the handlers run as for a click.
    form.hsSpinEdit->setEnabled(true);
    form.hsRadioButtonOff->SetChecked(true);
    EXPECT_FALSE(form.hsSpinEdit->isEnabled());
    EXPECT_TRUE(form.errSpinEdit->isEnabled());
    form.hsRadioButtonOff->SetChecked(false);
    EXPECT_FALSE(form.hsSpinEdit->isEnabled());
    form.hsRadioButtonOn->SetChecked(true);
    EXPECT_TRUE(form.hsSpinEdit->isEnabled());
}

TEST_F(Form, TheOperatorCannotPickUnbekannt) {
    Show();
    form.ConfigTabSheet->setEnabled(true);
    form.PageControl->setCurrentIndex(1);
    form.NewBaudComboBox->setEnabled(true);
    form.NewBaudComboBox->SetItemIndex(5);
    QTest::keyClick(form.NewBaudComboBox, Qt::Key_End);
    EXPECT_EQ(form.NewBaudComboBox->currentText(), QStringLiteral("230400"));
    QTest::keyClick(form.NewBaudComboBox, Qt::Key_Home);
    EXPECT_EQ(form.NewBaudComboBox->currentText(), QStringLiteral("300"));
    form.NewBaudComboBox->SetItemIndex(14);  // the program may show it
    EXPECT_EQ(form.NewBaudComboBox->currentText(), QStringLiteral("unbekannt"));
}

TEST_F(Form, SpinEditsOfTheConfigurationPageKeepTheirRanges) {
    form.errSpinEdit->SetText(QStringLiteral("abc"));
    form.hsSpinEdit->SetText(QStringLiteral("abc"));
    EXPECT_EQ(form.errSpinEdit->Value(), 2);
    EXPECT_EQ(form.hsSpinEdit->Value(), 1);
    form.hsSpinEdit->SetValue(70000);
    form.errSpinEdit->SetValue(0);
    EXPECT_EQ(form.hsSpinEdit->Text(), QStringLiteral("65535"));
    EXPECT_EQ(form.errSpinEdit->Text(), QStringLiteral("2"));
}

TEST_F(Form, ErrorMemoHasOneColourForAllLines) {
    Show();
    form.PageControl->setCurrentIndex(4);
    form.ErrorMemo->AddLine(QStringLiteral("COM1: Port existiert nicht"));
    form.ErrorMemo->AddLine(QStringLiteral("COM2: Port existiert nicht"));
    auto count = [&](auto pred) {
        const QImage img = form.ErrorMemo->viewport()->grab().toImage();
        int n = 0;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x) n += pred(img.pixelColor(x, y)) ? 1 : 0;
        return n;
    };
    auto dark = [](QColor c) { return c.red() < 60 && c.green() < 60 && c.blue() < 60; };
    auto red = [](QColor c) { return c.red() > 200 && c.green() < 60 && c.blue() < 60; };
    EXPECT_GT(count(dark), 0);
    form.ErrorMemo->SetFontColor(clRed);
    EXPECT_EQ(count(dark), 0) << "every line already shown turned red";
    EXPECT_GT(count(red), 0);
    EXPECT_EQ(form.ErrorMemo->Lines().size(), 2);
}

TEST_F(Form, TheRealExecutablesRecordGivesTheCaption) {
    form.SetExecutableFileName(SWB808_EXECUTABLE);
    Show();
    EXPECT_EQ(form.windowTitle(), QStringLiteral("SWB808-config 1.0.0.7"));
    EXPECT_EQ(form.ProgNameLabel->text(), QStringLiteral("SWB808-config 1.0.0.7"));
    EXPECT_GE(form.ProgNameLabel->width(), form.ProgNameLabel->sizeHint().width());
}

TEST_F(Form, ABlankFileVersionKeepsTheCreationCaptions) {
    Show();  // this test binary carries a record with a blank FileVersion
    EXPECT_EQ(form.windowTitle(), QStringLiteral("SWB808 Kontrollprogramm"));
    EXPECT_EQ(form.ProgNameLabel->text(), QStringLiteral("SWB808 Control 1.0"));
    EXPECT_EQ(form.PageControl->currentIndex(), 0);
}

TEST(QtDialogs, BoxesCarryTheirCaptionAndSingleButton) {
    struct Case {
        void (QtDialogs::*show)(const QString&);
        const char* caption;
        const char* button;
    } cases[] = {{&QtDialogs::ShowError, "Fehler", "&Abbrechen"},
                 {&QtDialogs::ShowWarning, "Warnung", "OK"}};
    for (const auto& c : cases) {
        QString caption, text;
        QStringList buttons;
        QTimer::singleShot(0, [&] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
                    caption = box->windowTitle();
                    text = box->text();
                    for (auto* b : box->buttons()) buttons << b->text();
                    box->done(0);
                }
        });
        QTimer guard;  // never hang, even if the box was not found
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [] {
            if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
        });
        guard.start(3000);
        QtDialogs dialogs;
        (dialogs.*c.show)(QStringLiteral("Dies ist keine gültige Firmware-Datei, Abbruch!"));
        EXPECT_EQ(caption, QString::fromLatin1(c.caption));
        EXPECT_EQ(text, QStringLiteral("Dies ist keine gültige Firmware-Datei, Abbruch!"));
        EXPECT_EQ(buttons, QStringList{QString::fromLatin1(c.button)});
    }
}

}  // namespace
}  // namespace swb808
