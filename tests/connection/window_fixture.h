#pragma once

// The real window, offscreen, against simulated boards on pseudo-terminals in a port
// directory of its own. Clicks go through the widgets; the event pump records every text the
// status bar showed, so a scan's sequence can be checked afterwards. A watchdog ends the
// process if a test hangs (the scan runs on the test's own thread).

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTest>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "protocol/device_records.h"
#include "protocol/paced_wait.h"
#include "sim/board_simulator.h"
#include "sim/pseudo_terminal.h"
#include "tests/support/port_dir.h"
#include "tests/support/watchdog.h"
#include "tests/ui/recording_dialogs.h"
#include "ui/main_window.h"
#include "ui/window_controls.h"

// Readable values in failure messages.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

namespace swb808::testing {

inline sim::BoardOptions Board(unsigned baud, bool pacing = false) {
    sim::BoardOptions o;
    o.baud = baud;
    o.pacing = pacing;
    return o;
}

class WindowTest : public ::testing::Test {
  protected:
    static constexpr int kBoardCom = 3;

    WindowTest() {
        previousPump_ = SetEventPump([this] {
            QCoreApplication::processEvents();
            if (!form_) return;  // also runs while the window is made or torn down
            const QString status = form_->SWBStatusBar->PanelText(1);
            if (statusSeen.empty() || statusSeen.back() != status) statusSeen.push_back(status);
        });
    }
    ~WindowTest() override {
        form_.reset();
        SetEventPump(previousPump_);
    }

    void SetUp() override {
        form_ = std::make_unique<TSWB808Form>();
        form_->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form_.get()));
    }

    TSWB808Form& form() { return *form_; }

    // A board on COM3 (the default) or another port.
    sim::BoardSimulator& AddBoard(sim::BoardOptions options, int com = kBoardCom) {
        options.link = ports.ComPath(com);
        boards_.push_back(std::make_unique<sim::BoardSimulator>(std::move(options)));
        boards_.back()->Start();
        return *boards_.back();
    }
    // A port that is present but silent.
    sim::PseudoTerminal& AddBareLine(int com) {
        lines_.push_back(std::make_unique<sim::PseudoTerminal>());
        ports.Link(*lines_.back(), com);
        return *lines_.back();
    }

    void Select(const QString& port, const QString& baud) {
        form().ComPortComboBox->SetItemIndex(form().ComPortComboBox->findText(port));
        form().BaudrateComboBox->SetItemIndex(form().BaudrateComboBox->findText(baud));
    }
    void Click(QWidget* w) { QTest::mouseClick(w, Qt::LeftButton, {}, w->rect().center()); }
    // Clicks "Scan" and returns once the scan has ended (it runs inside the click).
    void Scan(const QString& port, const QString& baud) {
        Select(port, baud);
        statusSeen.clear();
        Click(form().ScanSpeedButton);
    }
    // A board on COM3 at `baud` (unpaced), found by a scan of that one pair.
    sim::BoardSimulator& Connect(unsigned baud = 115200, sim::BoardOptions options = {},
                                 bool pacing = false) {
        options.baud = baud;
        options.pacing = pacing;
        sim::BoardSimulator& board = AddBoard(std::move(options));
        Scan("COM3", QString::number(baud));
        EXPECT_TRUE(form().Connected) << "no board found at " << baud;
        return board;
    }
    // Waits (pumping events) until the board has taken `bytes` from the program since its
    // record was last cleared, and returns what it took.
    static std::vector<uint8_t> Received(const sim::BoardSimulator& board, size_t bytes) {
        WaitFor([&] { return board.ReceivedBytes().size() >= bytes; });
        return board.ReceivedBytes();
    }
    // Processes events until `done` holds or `timeout` passes.
    static bool WaitFor(const std::function<bool()>& done,
                        std::chrono::milliseconds timeout = std::chrono::seconds(3)) {
        return QTest::qWaitFor(done, int(timeout.count()));
    }
    int StatusIndex(const QString& text) const {
        for (size_t i = 0; i < statusSeen.size(); ++i)
            if (statusSeen[i] == text) return int(i);
        return -1;
    }

    Watchdog watchdog_{std::chrono::seconds(90)};
    test::TempPortDir ports;
    ScopedRecordingDialogs dialogs;
    std::vector<QString> statusSeen;

  private:
    std::vector<std::unique_ptr<sim::PseudoTerminal>> lines_;
    std::vector<std::unique_ptr<sim::BoardSimulator>> boards_;
    std::unique_ptr<TSWB808Form> form_;
    EventPump previousPump_;
};

}  // namespace swb808::testing
