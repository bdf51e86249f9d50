#pragma once

// The window against simulated lines: a port directory of its own, recording dialogs, a
// record of what the progress bar and the status bar showed during a run, and a watchdog so
// that a flash gone wrong fails the test instead of hanging it.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QProgressBar>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "protocol/paced_wait.h"
#include "sim/board_simulator.h"
#include "sim/pseudo_terminal.h"
#include "tests/support/port_dir.h"
#include "tests/support/watchdog.h"
#include "tests/ui/recording_dialogs.h"
#include "ui/main_window.h"
#include "ui/window_controls.h"

namespace swb808::testing {

// A port with no board behind it, or with a fake loader that answers every probe byte with
// `answer`; counts the probe bytes that reach it.
class ProbeLine {
  public:
    ProbeLine(const test::TempPortDir& dir, int com, std::vector<uint8_t> answer = {})
        : answer_(std::move(answer)) {
        dir.Link(pty_, com);
        thread_ = std::thread([this] { Run(); });
    }
    ~ProbeLine() {
        stop_ = true;
        thread_.join();
    }
    ProbeLine(const ProbeLine&) = delete;
    ProbeLine& operator=(const ProbeLine&) = delete;

    int Probes() const { return probes_; }
    int OtherBytes() const { return others_; }
    // From the first probe seen to the last.
    std::chrono::steady_clock::duration ProbeSpan() const {
        std::lock_guard lock(mu_);
        return last_ - first_;
    }

  private:
    void Run() {
        while (!stop_) {
            pty_.PeerOpen();  // what the program left unread on close is flushed
            for (uint8_t b : pty_.Read(std::chrono::milliseconds(10))) {
                if (b != 0x78) {
                    ++others_;
                    continue;
                }
                {
                    std::lock_guard lock(mu_);
                    last_ = std::chrono::steady_clock::now();
                    if (probes_ == 0) first_ = last_;
                }
                ++probes_;
                if (!answer_.empty()) pty_.Write(answer_, std::chrono::milliseconds(100));
            }
        }
    }

    sim::PseudoTerminal pty_;
    std::vector<uint8_t> answer_;
    std::atomic<bool> stop_{false};
    std::atomic<int> probes_{0};
    std::atomic<int> others_{0};
    mutable std::mutex mu_;
    std::chrono::steady_clock::time_point first_{}, last_{};
    std::thread thread_;
};

// What the progress bar and status-bar panel 1 showed, change by change. The status bar is
// sampled at every event turn (every wait of the logic processes events).
class ShownRecord {
  public:
    explicit ShownRecord(TSWB808Form& form) : form_(form) {
        QObject::connect(form.StatusProgressBar, &QProgressBar::valueChanged, &timer_,
                         [this](int v) { progress.push_back(v); });
        QObject::connect(&timer_, &QTimer::timeout, [this] { Sample(); });
        timer_.start(0);
    }
    void Sample() {
        const QString text = form_.SWBStatusBar->PanelText(1);
        if (status.empty() || status.back() != text) status.push_back(text);
    }
    bool SawStatus(const QString& text) const {
        for (const auto& s : status)
            if (s == text) return true;
        return false;
    }

    std::vector<int> progress;
    std::vector<QString> status;

  private:
    TSWB808Form& form_;
    QTimer timer_;
};

class FlashFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        previousPump_ = SetEventPump([] { QCoreApplication::processEvents(); });
    }
    void TearDown() override { SetEventPump(previousPump_); }

    // An image with distinct block sums, a version and a block that begins with a probe byte.
    static TFirmwareImage TestImage() {
        TFirmwareImage image{};
        uint32_t x = 12345;
        for (auto& b : image) {
            x = x * 1103515245u + 12345u;
            b = static_cast<uint8_t>(x >> 16);
        }
        image[128] = 0x78;
        const std::string version = "1.08bWXYZVERSION";
        std::copy(version.begin(), version.end(), image.begin() + 200);
        WriteImageChecksum(image);
        return image;
    }

    // An unpaced simulated board waiting in its bootloader on COM `com`.
    sim::BoardOptions BootloaderBoard(int com) const {
        sim::BoardOptions o;
        o.link = dir.ComPath(com);
        o.bootloader = true;
        o.pacing = false;
        return o;
    }

    // Loads `image` through "Aus Datei" from a file of the port directory.
    void LoadImage(const TFirmwareImage& image) {
        const std::string path = dir.Path() + "/image.bin";
        std::FILE* file = std::fopen(path.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        ASSERT_EQ(std::fwrite(image.data(), 1, image.size(), file), image.size());
        std::fclose(file);
        dialogs->fileAnswers.push_back(QString::fromStdString(path));
        form.LoadSpeedButtonClick();
        ASSERT_TRUE(form.FirmwareLoaded);
        ASSERT_EQ(form.FirmwareImage, image);
        dialogs->shown.clear();
    }

    test::TempPortDir dir;
    ScopedRecordingDialogs dialogs;
    TSWB808Form form;

  private:
    EventPump previousPump_;
};

}  // namespace swb808::testing
