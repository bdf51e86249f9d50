// The COM port list names the device behind each item in its tooltip; the texts stay.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QAbstractItemView>
#include <QTest>
#include <filesystem>
#include <fstream>

#include "serial/port_description.h"
#include "ui/main_window.h"
#include "ui/window_controls.h"

namespace swb808 {
namespace {

namespace fs = std::filesystem;

class PortTooltips : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/swb808-tooltips-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        std::ofstream(dir_ / "device3") << "";
        fs::create_symlink(dir_ / "device3", dir_ / "com3");
        setenv("SWB808_PORT_DIR", dir_.c_str(), 1);
    }
    void TearDown() override {
        unsetenv("SWB808_PORT_DIR");
        fs::remove_all(dir_);
    }
    static QString Tip(const QComboBox* combo, int i) {
        return combo->itemData(i, Qt::ToolTipRole).toString();
    }
    fs::path dir_;
};

TEST_F(PortTooltips, EveryItemNamesItsDeviceAndKeepsItsText) {
    TSWB808Form form;
    const QComboBox* combo = form.ComPortComboBox;
    ASSERT_EQ(combo->count(), 17);
    EXPECT_EQ(combo->itemText(0), QStringLiteral("auto"));
    EXPECT_EQ(Tip(combo, 0), QStringLiteral("alle Ports COM1 bis COM16 nacheinander"));
    for (int n = 1; n <= 16; ++n) {
        SCOPED_TRACE(n);
        EXPECT_EQ(combo->itemText(n), QStringLiteral("COM%1").arg(n));
        EXPECT_EQ(Tip(combo, n), QString::fromStdString(DescribeComPort(n)));
    }
    EXPECT_TRUE(Tip(combo, 3).endsWith((dir_ / "device3").c_str())) << Tip(combo, 3).toStdString();
    EXPECT_TRUE(Tip(combo, 4).endsWith(QStringLiteral(", not present")));
}

TEST_F(PortTooltips, OpeningTheListRefreshesThem) {
    TSWB808Form form;
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    std::ofstream(dir_ / "device4") << "";
    fs::create_symlink(dir_ / "device4", dir_ / "com4");
    // An adapter plugged in after start shows at the next look, and one pulled out again too.
    for (const bool present : {true, false}) {
        SCOPED_TRACE(present);
        form.ComPortComboBox->showPopup();
        const QString tip = Tip(form.ComPortComboBox, 4);
        EXPECT_EQ(tip, QString::fromStdString(DescribeComPort(4)));
        EXPECT_EQ(tip.endsWith(QStringLiteral(", not present")), !present) << tip.toStdString();
        form.ComPortComboBox->hidePopup();
        fs::remove(dir_ / "com4");
    }
    EXPECT_EQ(form.ComPortComboBox->currentIndex(), 0);
}

}  // namespace
}  // namespace swb808
