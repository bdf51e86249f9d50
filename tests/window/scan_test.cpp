#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QLocale>
#include <cstdlib>
#include <filesystem>

#include "tests/window/window_fixture.h"

extern char** environ;

namespace swb808::testing {
namespace {

using namespace std::chrono_literals;

class Scanning : public WindowTest {};

// Every control the connected state fills, for a board with relays 1 and 3 on, inputs 1 and 8
// active, 4.853 V and flags "keep relays" and "no retry".
TEST_F(Scanning, FixedPortAutoRateTriesTheSlowerRatesFirstThenShowsTheBoard) {
    QLocale::setDefault(QLocale(QLocale::German));
    sim::BoardOptions o = Board(9600);
    o.relays = 0x05;
    o.inputs = 0x81;
    o.config = {5, 3, 0, 7, 0, kCfgKeepRelays | kCfgNoRetry};
    sim::BoardSimulator& board = AddBoard(o);
    form().ErrorMemo->SetFontColor(clRed);  // as a failed port open on an earlier scan left it

    Scan("COM3", "auto");
    QLocale::setDefault(QLocale::c());

    // 300 ... 4800 were tried first and each went by without a query.
    const QStringList slower = {"300", "600", "1200", "2400", "4800"};
    int last = -1;
    for (const QString& rate : slower) {
        const int at = StatusIndex(QStringLiteral("scanning COM3 at %1 Baud...").arg(rate));
        ASSERT_GT(at, last) << rate.toStdString();
        last = at;
    }
    const int scanning = StatusIndex("scanning COM3 at 9600 Baud...");
    const int querying = StatusIndex("querying COM3 at 9600 Baud...");
    EXPECT_GT(scanning, last);
    EXPECT_EQ(querying, scanning + 1);
    EXPECT_EQ(StatusIndex("querying COM3 at 4800 Baud..."), -1);

    TSWB808Form& f = form();
    EXPECT_TRUE(f.Connected);
    EXPECT_EQ(f.ConnectedPort, 3);
    EXPECT_EQ(f.ConnectedBaud, 9600);
    EXPECT_EQ(f.ScanStep, 1000 / 14);
    EXPECT_EQ(f.SWBStatusBar->PanelText(1),
              "SWB808 found at COM3 at 9600 Baud, Firmware Version 1.07a");
    EXPECT_EQ(f.ErrorMemo->Lines(),
              QStringList{"COM3: Baud=9600: SWB808 gefunden, Firmware Version 1.07a"});
    EXPECT_EQ(f.ErrorMemo->FontColor(), clBlack);
    EXPECT_EQ(f.IdLabel->text(), QString::fromStdString(board.Identity()));
    EXPECT_EQ(f.VersionLabel->text(), "1.07a");
    for (int n = 0; n < 8; ++n) {
        EXPECT_EQ(f.RelLeds[n]->LedState(), (0x05 >> n & 1) ? stOn : stOff) << "relay " << n + 1;
        EXPECT_EQ(f.OptoLeds[n]->LedState(), (0x81 >> n & 1) ? stOn : stOff) << "input " << n + 1;
    }
    EXPECT_EQ(f.VccPanel->Caption(), "4,853 V");  // the user's decimal separator
    EXPECT_EQ(f.VccPanel->Color(), clVccGood);
    EXPECT_EQ(f.NewBaudComboBox->currentText(), "9600");
    EXPECT_TRUE(f.NewBaudComboBox->isEnabled());
    EXPECT_EQ(f.errSpinEdit->Value(), 3);
    EXPECT_TRUE(f.errSpinEdit->isEnabled());
    EXPECT_EQ(f.hsSpinEdit->Value(), 7);
    EXPECT_FALSE(f.hsSpinEdit->isEnabled());  // "nicht erneut versuchen" is checked
    EXPECT_TRUE(f.hsRadioButtonOff->Checked());
    EXPECT_FALSE(f.errRadioButtonOff->Checked());
    EXPECT_TRUE(f.errRadioButtonOn->Checked());
    EXPECT_TRUE(f.KeepLastCheckBox->Checked());
    EXPECT_TRUE(f.SaveSpeedButton->isEnabled());
    EXPECT_TRUE(f.ResetSpeedButton->isEnabled());
    EXPECT_TRUE(f.ConfigTabSheet->isEnabled());
    EXPECT_TRUE(f.ControlTabSheet->isEnabled());
    EXPECT_EQ(f.ScanSpeedButton->text(), "Close");
    EXPECT_TRUE(f.ScanSpeedButton->isEnabled());
    EXPECT_FALSE(f.ComPortComboBox->isEnabled());
    EXPECT_FALSE(f.BaudrateComboBox->isEnabled());
    EXPECT_EQ(f.StatusProgressBar->value(), 1000);
    EXPECT_EQ(f.PageControl->currentIndex(), 1);     // from the welcome page to "Konfiguration"
    EXPECT_FALSE(f.UpdateSpeedButton->isEnabled());  // no image loaded
    EXPECT_TRUE(dialogs->shown.empty());
}

TEST_F(Scanning, AutoPortPassesASilentPortAndFindsTheBoardOnTheNextPresentOne) {
    AddBareLine(1);
    AddBoard(Board(115200));
    form().PageControl->setCurrentIndex(3);  // "Firmware Update"

    Scan("auto", "115200");

    EXPECT_TRUE(form().Connected);
    EXPECT_EQ(form().ConnectedPort, 3);
    EXPECT_EQ(form().ConnectedBaud, 115200);
    EXPECT_EQ(form().ScanStep, 1000 / 3 / 14);  // COM1 and COM3 present: k = 3
    EXPECT_EQ(StatusIndex("querying COM1 at 115200 Baud..."), -1);
    EXPECT_NE(StatusIndex("querying COM3 at 115200 Baud..."), -1);
    EXPECT_EQ(form().PageControl->currentIndex(), 3);  // any page but the welcome page stays
    EXPECT_EQ(form().ErrorMemo->Lines().size(), 1);
}

TEST_F(Scanning, FixedPairTriesExactlyThatPairAndNothingAnsweringResetsTheControls) {
    sim::BoardSimulator& board = AddBoard(Board(9600));

    Scan("COM3", "19200");

    // The wake byte and the three frames before the version reply decides: 1 + 3 x 7 bytes.
    EXPECT_EQ(board.ReceivedBytes().size(), 22u);
    for (const QString& s : statusSeen) EXPECT_FALSE(s.startsWith("scanning")) << s.toStdString();
    TSWB808Form& f = form();
    EXPECT_FALSE(f.Connected);
    EXPECT_EQ(f.SWBStatusBar->PanelText(1), "SWB808 not found");
    EXPECT_EQ(f.StatusProgressBar->value(), 0);
    EXPECT_TRUE(f.ScanSpeedButton->isEnabled());
    EXPECT_EQ(f.ScanSpeedButton->text(), "Scan");
    EXPECT_TRUE(f.ComPortComboBox->isEnabled());
    EXPECT_TRUE(f.BaudrateComboBox->isEnabled());
    EXPECT_TRUE(f.ErrorMemo->Lines().isEmpty());
    EXPECT_FALSE(f.ConfigTabSheet->isEnabled());

    // The same pair at the board's rate: one pair, found.
    board.ClearRecord();
    Scan("COM3", "9600");
    EXPECT_TRUE(f.Connected);
    EXPECT_EQ(board.ReceivedBytes().front(), 0xDF);
}

TEST_F(Scanning, PortHeldByAnotherProgramGivesOneRedLineAndIsNotRetried) {
    AddBoard(Board(9600));
    const int held = ::open(ports.ComPath(3).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);

    Scan("COM3", "auto");
    ::close(held);

    EXPECT_EQ(form().ErrorMemo->Lines(),
              QStringList{"COM3: Baud=300: ie_Open - device already open"});
    EXPECT_EQ(form().ErrorMemo->FontColor(), clRed);
    EXPECT_EQ(form().SWBStatusBar->PanelText(1), "SWB808 not found");
    EXPECT_NE(StatusIndex("scanning COM3 at 230400 Baud..."), -1);  // all rates went by
}

// Runs in a child that dropped root (root opens any device whatever its mode).
TEST_F(Scanning, PortWithoutPermissionChild) {
    const char* parentPorts = std::getenv("SWB808_TEST_PARENT_PORTS");
    if (!std::getenv("SWB808_TEST_AS_NOBODY") || !parentPorts)
        GTEST_SKIP() << "run by PortWithoutPermission";
    ::setenv("SWB808_PORT_DIR", parentPorts, 1);  // the parent's board
    Scan("COM3", "9600");
    const QStringList lines = form().ErrorMemo->Lines();
    ASSERT_EQ(lines.size(), 1);
    EXPECT_EQ(lines[0], "COM3: Baud=9600: File access denied");
    EXPECT_EQ(form().SWBStatusBar->PanelText(1), "SWB808 not found");
}

TEST_F(Scanning, PortWithoutPermission) {
    if (std::getenv("SWB808_TEST_AS_NOBODY")) GTEST_SKIP();
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to drop to nobody";
    AddBoard(Board(9600));
    // The port directory must be readable by the child; the device itself (root, 0620) is not
    // open to nobody.
    ASSERT_EQ(::chmod(ports.Path().c_str(), 0755), 0);

    const std::string self = "/proc/self/exe";
    std::string filter = "--gtest_filter=Scanning.PortWithoutPermissionChild";
    char* argv[] = {const_cast<char*>(self.c_str()), filter.data(), nullptr};
    ::setenv("SWB808_TEST_AS_NOBODY", "1", 1);
    ::setenv("SWB808_TEST_PARENT_PORTS", ports.Path().c_str(), 1);
    pid_t child = 0;
    const int spawned = ::posix_spawn(&child, self.c_str(), nullptr, nullptr, argv, environ);
    ::unsetenv("SWB808_TEST_AS_NOBODY");
    ::unsetenv("SWB808_TEST_PARENT_PORTS");
    ASSERT_EQ(spawned, 0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the child's scan did not show the access error";
}

// What the run script sets up: the simulator as its own process on COM3, the window's default
// selection ("auto", "auto"), one click on "Scan".
TEST_F(Scanning, DefaultSelectionFindsTheCommandLineSimulator) {
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    const std::string link = ports.ComPath(3);
    char* argv[] = {const_cast<char*>(SWB808_SIM), const_cast<char*>("--link"),
                    const_cast<char*>(link.c_str()), nullptr};
    pid_t sim = 0;
    ASSERT_EQ(::posix_spawn(&sim, SWB808_SIM, &actions, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    std::string said;
    char buf[256];
    for (ssize_t n;
         said.find('\n') == std::string::npos && (n = ::read(out[0], buf, sizeof buf)) > 0;)
        said.append(buf, size_t(n));
    EXPECT_EQ(said, "ready " + link + "\n");

    Click(form().ScanSpeedButton);

    EXPECT_TRUE(form().Connected);
    EXPECT_EQ(form().SWBStatusBar->PanelText(1),
              "SWB808 found at COM3 at 9600 Baud, Firmware Version 1.07a");
    Click(form().ScanSpeedButton);  // "Close"
    EXPECT_FALSE(form().Connected);

    ::kill(sim, SIGTERM);
    int status = 0;
    ASSERT_EQ(::waitpid(sim, &status, 0), sim);
    ::close(out[0]);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_FALSE(std::filesystem::exists(link));
}

}  // namespace
}  // namespace swb808::testing
