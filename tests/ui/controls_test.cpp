#include <gtest/gtest.h>

#include <QApplication>
#include <QFocusEvent>
#include <QLineEdit>
#include <QTest>
#include <stdexcept>

#include "tests/ui/recording_dialogs.h"
#include "ui/controls.h"
#include "ui/spin_edit.h"

namespace swb808 {
namespace {

TEST(RadioButton, ClickHandlerRunsWhenItBecomesCheckedByOperatorOrCode) {
    QWidget group;
    RadioButton on(QStringLiteral("nach"), &group), off(QStringLiteral("ignorieren"), &group);
    on.setGeometry(0, 0, 80, 17);
    off.setGeometry(0, 20, 80, 17);
    on.SetChecked(true);
    int onClicks = 0, offClicks = 0;
    on.OnClick = [&] { ++onClicks; };
    off.OnClick = [&] { ++offClicks; };

    off.SetChecked(true);  // by code: runs, and unchecks the partner first
    EXPECT_EQ(offClicks, 1);
    EXPECT_FALSE(on.Checked());
    off.SetChecked(true);  // already checked: nothing
    EXPECT_EQ(offClicks, 1);

    QTest::mouseClick(&on, Qt::LeftButton);  // the operator
    EXPECT_EQ(onClicks, 1);
    EXPECT_FALSE(off.Checked());

    on.SetChecked(false);  // unchecking by code runs nothing and may leave none checked
    EXPECT_FALSE(on.Checked());
    EXPECT_FALSE(off.Checked());
    EXPECT_EQ(onClicks + offClicks, 2);
    off.SetChecked(true);  // the group still works afterwards
    on.SetChecked(true);
    EXPECT_FALSE(off.Checked());
    EXPECT_EQ(onClicks, 2);
}

TEST(CheckBox, ClickHandlerRunsOnEveryChangeOnly) {
    CheckBox box(QStringLiteral("Update per Bootloader"));
    box.resize(150, 17);
    int clicks = 0;
    box.OnClick = [&] { ++clicks; };
    box.SetChecked(true);
    box.SetChecked(true);
    EXPECT_EQ(clicks, 1);
    QTest::mouseClick(&box, Qt::LeftButton, {}, QPoint(5, 8));
    EXPECT_FALSE(box.Checked());
    box.SetChecked(false);
    EXPECT_EQ(clicks, 2);
}

TEST(ComboBox, ChangeHandlerRunsOnlyForTheOperatorsPick) {
    ComboBox list({"auto", "COM1", "COM2", "COM3"});
    int changes = 0;
    list.OnChange = [&] { ++changes; };
    list.SetItemIndex(2);
    list.SetItemIndex(15);  // a board's baud code beyond the list
    EXPECT_EQ(list.ItemIndex(), -1);
    list.SetItemIndex(2);
    list.SetItemIndex(-1);
    EXPECT_EQ(list.ItemIndex(), -1);
    EXPECT_EQ(changes, 0);
    list.SetItemIndex(0);
    QTest::keyClick(&list, Qt::Key_Down);
    EXPECT_EQ(list.ItemIndex(), 1);
    EXPECT_EQ(changes, 1);
    QTest::keyClick(&list, Qt::Key_End);
    EXPECT_EQ(list.ItemIndex(), 3);
    EXPECT_EQ(changes, 2);
}

TEST(ComboBox, WithoutAutoCompleteTypedLettersSelectNothing) {
    ComboBox list({"auto", "COM1", "COM2"});
    list.SetAutoComplete(false);
    QTest::keyClicks(&list, QStringLiteral("C"));
    EXPECT_EQ(list.ItemIndex(), 0);
    list.SetAutoComplete(true);
    QTest::keyClicks(&list, QStringLiteral("C"));
    EXPECT_EQ(list.ItemIndex(), 1);
}

TEST(Handlers, AnUncaughtExceptionEndsTheHandlerAndIsShown) {
    testing::ScopedRecordingDialogs dialogs;
    CheckBox box(QStringLiteral("x"));
    box.OnClick = [] { throw std::runtime_error("Fehler bei Bereichsprüfung"); };
    box.SetChecked(true);
    ASSERT_EQ(dialogs->shown.size(), 1u);
    EXPECT_EQ(dialogs->shown[0].kind, testing::RecordingDialogs::Exception);
    EXPECT_EQ(dialogs->shown[0].text, QStringLiteral("Fehler bei Bereichsprüfung"));
    EXPECT_TRUE(box.Checked());
}

// --- Spin edit ---

class SpinEditTest : public ::testing::Test {
  protected:
    SpinEditTest() {
        spin.SetMinValue(2);
        spin.SetMaxValue(65535);
        spin.SetValue(2);
    }
    void LeaveFocus() {
        QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
        QApplication::sendEvent(&spin, &out);
    }
    SpinEdit spin;
};

TEST_F(SpinEditTest, ReadingAndLeavingFollowTheText) {
    struct Case {
        const char* text;
        int value;          // Value() while the text is there
        const char* after;  // the text once the focus has left
    } cases[] = {
        {"abc", 2, "abc"},   {"70000", 70000, "65535"},
        {"0", 0, "2"},       {"-7", -7, "2"},
        {"300", 300, "300"}, {"+12", 12, "+12"},
        {"", 2, ""},         {"99999999999", 2, "99999999999"},
    };
    for (const auto& c : cases) {
        spin.SetText(QString::fromLatin1(c.text));
        EXPECT_EQ(spin.Value(), c.value) << c.text;
        LeaveFocus();
        EXPECT_EQ(spin.Text(), QString::fromLatin1(c.after)) << c.text;
    }
}

TEST_F(SpinEditTest, SettingClamps) {
    spin.SetValue(70000);
    EXPECT_EQ(spin.Text(), QStringLiteral("65535"));
    spin.SetValue(-3);
    EXPECT_EQ(spin.Value(), 2);
}

TEST_F(SpinEditTest, ArrowKeysStepByOneWithinTheRange) {
    spin.SetValue(10);
    QTest::keyClick(&spin, Qt::Key_Up);
    EXPECT_EQ(spin.Value(), 11);
    QTest::keyClick(&spin, Qt::Key_Down);
    QTest::keyClick(&spin, Qt::Key_Down);
    EXPECT_EQ(spin.Value(), 9);
    spin.SetValue(2);
    QTest::keyClick(&spin, Qt::Key_Down);
    EXPECT_EQ(spin.Value(), 2);
    spin.SetText(QStringLiteral("abc"));
    QTest::keyClick(&spin, Qt::Key_Up);
    EXPECT_EQ(spin.Text(), QStringLiteral("3"));
}

TEST_F(SpinEditTest, TypingDropsWhatCannotBeANumber) {
    spin.SetText(QString());
    spin.setFocus();
    QTest::keyClicks(&spin, QStringLiteral("1a+-x2 ") + QLocale().decimalPoint());
    EXPECT_EQ(spin.Text(), QStringLiteral("1+-2") + QLocale().decimalPoint());
    QTest::keyClick(&spin, Qt::Key_Backspace);
    EXPECT_EQ(spin.Text(), QStringLiteral("1+-2"));
}

}  // namespace
}  // namespace swb808
