#pragma once

// The window test, with what the fault tests share: the loss message, a look at the window
// after it went back to its not-connected state, and the process's CPU use over a wait.

#include <time.h>

#include <QTimer>
#include <algorithm>
#include <chrono>
#include <functional>

#include "tests/window/window_fixture.h"

namespace swb808::testing {

class FaultTest : public WindowTest {
  protected:
    static QString LostText(int com) {
        return QStringLiteral("COM%1: Verbindung zum Gerät verloren").arg(com);
    }

    // Cores used by the whole process while the logic waits `wall` (pumping events).
    static double CoresOver(std::chrono::milliseconds wall) {
        const double cpu0 = CpuSeconds();
        const auto t0 = std::chrono::steady_clock::now();
        PacedWait(int(wall.count()));
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        return (CpuSeconds() - cpu0) / elapsed;
    }

    // Runs `action` once, from the event loop of whatever wait the logic is in, as soon as
    // `when` holds.
    void OnceWhen(std::function<bool()> when, std::function<void()> action) {
        auto* timer = new QTimer(&form());
        QObject::connect(timer, &QTimer::timeout, timer,
                         [timer, when = std::move(when), action = std::move(action)] {
                             if (!when()) return;
                             timer->stop();
                             action();
                             timer->deleteLater();
                         });
        timer->start(0);
    }

    bool MemoHas(const QString& line) const {
        return const_cast<FaultTest*>(this)->form().ErrorMemo->Lines().contains(line);
    }

    // The window after a loss: the port closed, the not-connected look, the loss told in red.
    void ExpectLossToldAndClosed(int com) {
        TSWB808Form& f = form();
        EXPECT_FALSE(f.Connected);
        EXPECT_FALSE(f.SWBComPort.Open());
        EXPECT_EQ(f.OpenedPort, 0);
        EXPECT_EQ(f.ErrorMemo->Lines().filter(LostText(com)).size(), 1) << "told once";
        EXPECT_EQ(f.ErrorMemo->FontColor(), clRed);
        EXPECT_EQ(f.ScanSpeedButton->text(), "Scan");
        EXPECT_TRUE(f.ScanSpeedButton->isEnabled());
        EXPECT_TRUE(f.ComPortComboBox->isEnabled());
        EXPECT_TRUE(f.BaudrateComboBox->isEnabled());
        EXPECT_FALSE(f.ConfigTabSheet->isEnabled());
        EXPECT_FALSE(f.ControlTabSheet->isEnabled());
        EXPECT_EQ(f.VccPanel->Caption(), "0.00 V");
        EXPECT_EQ(f.StatusProgressBar->value(), 0);
    }

    // The board comes back on the same link: a fresh scan of that pair finds it.
    void ExpectFoundAgain(unsigned baud, int com = kBoardCom) {
        AddBoard(Board(baud), com);
        Scan(QStringLiteral("COM%1").arg(com), QString::number(baud));
        EXPECT_TRUE(form().Connected);
        EXPECT_EQ(form().SWBStatusBar->PanelText(1),
                  QStringLiteral("SWB808 found at COM%1 at %2 Baud, Firmware Version 1.07a")
                      .arg(com)
                      .arg(baud));
    }

    bool OptoLedsShow(uint8_t mask) {
        for (int n = 0; n < 8; ++n)
            if (form().OptoLeds[n]->LedState() != ((mask >> n & 1) ? stOn : stOff)) return false;
        return true;
    }

    // Random bytes from the connected board, in bursts, while a posted timer keeps being
    // timed; then the window must still be responsive and show every input change after it.
    void ExpectFloodSurvived(sim::BoardSimulator& board, size_t bytes) {
        using Clock = std::chrono::steady_clock;
        constexpr size_t kBurst = 16 * 1024;
        for (size_t sent = 0; sent < bytes; sent += kBurst) board.SendGarbage(kBurst);
        Clock::duration worst{};
        int samples = 0;
        const auto start = Clock::now();
        while (!board.WaitSendIdle(std::chrono::milliseconds(0)) &&
               Clock::now() - start < std::chrono::seconds(60)) {
            worst = std::max(worst, TimerLatency());
            ++samples;
            PacedWait(20);
        }
        ASSERT_TRUE(board.WaitSendIdle(std::chrono::seconds(10))) << "the flood did not end";
        EXPECT_GT(samples, 0);
        EXPECT_LT(worst, std::chrono::seconds(1)) << "over " << samples << " samples";

        for (uint8_t inputs : {0x05, 0x81, 0x00, 0xFF, 0x40}) {
            board.SetInputs(inputs);
            EXPECT_TRUE(WaitFor([&] { return OptoLedsShow(inputs); }, std::chrono::seconds(5)))
                << int(inputs);
            EXPECT_EQ(form().Protocol.OptoState, inputs);
        }
        EXPECT_TRUE(form().Connected);
    }

  private:
    // How long a posted timer waits until the window's thread runs it.
    std::chrono::steady_clock::duration TimerLatency() {
        using Clock = std::chrono::steady_clock;
        bool fired = false;
        const auto posted = Clock::now();
        Clock::time_point ran{};
        QTimer::singleShot(0, &form(), [&] {
            fired = true;
            ran = Clock::now();
        });
        WaitFor([&] { return fired; }, std::chrono::seconds(10));
        return fired ? ran - posted : Clock::duration::max();
    }

    static double CpuSeconds() {
        timespec ts{};
        ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
        return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
    }
};

}  // namespace swb808::testing
