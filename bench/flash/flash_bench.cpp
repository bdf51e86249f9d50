// Times a whole in-application flash at 19200 Bd against the paced simulator and sets it next
// to the floor that the transfer's own waits prescribe: per block one 100 ms drain turn and
// one 10 ms answer turn.

#include <stdlib.h>

#include <QApplication>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <vector>

#include "protocol/paced_wait.h"
#include "sim/board_simulator.h"
#include "ui/dialogs.h"
#include "ui/main_window.h"
#include "ui/window_controls.h"

namespace {

using namespace swb808;
using Clock = std::chrono::steady_clock;
using Ms = std::chrono::duration<double, std::milli>;

constexpr int32_t kBaud = 19200;
constexpr int kBlocks = 96;
constexpr int kDrainTurnMs = 100;
constexpr int kAnswerTurnMs = 10;

constexpr int BlockFloorMs() {
    return kBlocks * (kDrainTurnMs + kAnswerTurnMs);
}
// The entry before the first block: 210000 / baud, then the 31-turn drain receive.
constexpr int EntryFloorMs() {
    return 210000 / kBaud + TSWB808Protocol::kReceiveTurns * TSWB808Protocol::kReceiveTurnMs;
}

// Errors go to standard error instead of a modal box.
class ConsoleDialogs : public Dialogs {
  public:
    void ShowError(const QString& text) override { Report("error", text); }
    void ShowWarning(const QString& text) override { Report("warning", text); }
    void ShowException(const QString& message) override { Report("exception", message); }
    std::optional<QString> OpenFileName(const QString&) override { return std::nullopt; }
    int errors = 0;

  private:
    void Report(const char* kind, const QString& text) {
        ++errors;
        std::fprintf(stderr, "%s: %s\n", kind, text.toUtf8().constData());
    }
};

TFirmwareImage BenchImage() {
    TFirmwareImage image{};
    uint32_t x = 808;
    for (auto& b : image) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    WriteImageChecksum(image);
    return image;
}

double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

struct Run {
    bool ok = false;
    double totalMs = 0;
    double entryMs = 0;            // click to the first block's status
    std::vector<double> blockMs;   // status of block k to status of block k + 1
    double lastBlockAndEndMs = 0;  // status of the last block to the handler's return
};

Run FlashOnce(TSWB808Form& form, sim::BoardSimulator& board, ConsoleDialogs& dialogs) {
    Run run;
    if (!board.WaitForMode(sim::BoardMode::Firmware, std::chrono::seconds(5))) return run;
    form.ComPortComboBox->SetItemIndex(1);
    form.BaudrateComboBox->SetItemIndex(form.BaudrateComboBox->findText(QString::number(kBaud)));
    form.ScanSpeedButtonClick();
    if (!form.Connected) return run;
    const int flashesBefore = board.FlashCount();
    const int errorsBefore = dialogs.errors;

    std::vector<Clock::time_point> blockStarts;
    QString last;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        const QString text = form.SWBStatusBar->PanelText(1);
        if (text == last) return;
        last = text;
        if (text.startsWith(QStringLiteral("flashing"))) blockStarts.push_back(Clock::now());
    });
    sampler.start(0);
    const auto start = Clock::now();
    form.UpdateSpeedButtonClick();
    const auto end = Clock::now();
    sampler.stop();

    run.totalMs = Ms(end - start).count();
    if (!blockStarts.empty()) {
        run.entryMs = Ms(blockStarts.front() - start).count();
        for (size_t i = 1; i < blockStarts.size(); ++i)
            run.blockMs.push_back(Ms(blockStarts[i] - blockStarts[i - 1]).count());
        run.lastBlockAndEndMs = Ms(end - blockStarts.back()).count();
    }
    run.ok = dialogs.errors == errorsBefore && board.FlashCount() == flashesBefore + 1 &&
             board.ImageValid() && blockStarts.size() == kBlocks;
    return run;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1;
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    char tmpl[] = "/tmp/swb808-bench-flash-XXXXXX";
    if (!::mkdtemp(tmpl)) return 1;
    ::setenv("SWB808_PORT_DIR", tmpl, 1);

    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    SetEventPump([] { QCoreApplication::processEvents(); });
    auto ownDialogs = std::make_unique<ConsoleDialogs>();
    ConsoleDialogs& dialogs = *ownDialogs;
    SetDialogs(std::move(ownDialogs));

    sim::BoardOptions o;
    o.baud = kBaud;
    o.pacing = true;
    o.link = (std::filesystem::path(tmpl) / "com1").string();
    sim::BoardSimulator board(o);
    board.Start();

    std::vector<Run> results;
    {
        TSWB808Form form;
        form.FirmwareImage = BenchImage();
        form.FirmwareLoaded = true;
        for (int i = 0; i < runs; ++i) results.push_back(FlashOnce(form, board, dialogs));
    }
    board.Stop();
    SetDialogs(nullptr);
    std::filesystem::remove_all(tmpl);

    std::vector<double> totals, entries, ends, blocks;
    bool allOk = true;
    for (const auto& r : results) {
        allOk = allOk && r.ok;
        totals.push_back(r.totalMs);
        entries.push_back(r.entryMs);
        ends.push_back(r.lastBlockAndEndMs);
        blocks.insert(blocks.end(), r.blockMs.begin(), r.blockMs.end());
    }
    const double total = Median(totals);
    const int floor = BlockFloorMs();
    std::sort(blocks.begin(), blocks.end());

    std::printf("in-application flash at %d Bd against the paced simulator, median of %d\n", kBaud,
                runs);
    std::printf("%-34s  %10s  %10s  %7s\n", "", "floor ms", "taken ms", "ratio");
    std::printf("%-34s  %10d  %10.1f  %7.3f\n", "whole flash vs 96 blocks", floor, total,
                total / floor);
    std::printf("%-34s  %10d  %10.1f  %7.3f\n", "whole flash vs entry + 96 blocks",
                floor + EntryFloorMs(), total, total / (floor + EntryFloorMs()));
    std::printf("%-34s  %10d  %10.1f  %7.3f\n", "entry (0xBB, wait, drain receive)", EntryFloorMs(),
                Median(entries), Median(entries) / EntryFloorMs());
    if (!blocks.empty()) {
        const int blockFloor = kDrainTurnMs + kAnswerTurnMs;
        std::printf("%-34s  %10d  %10.1f  %7.3f\n", "one block, median", blockFloor, Median(blocks),
                    Median(blocks) / blockFloor);
        std::printf("%-34s  %10d  %10.1f  %7.3f\n", "one block, slowest", blockFloor, blocks.back(),
                    blocks.back() / blockFloor);
    }
    std::printf("%-34s  %10d  %10.1f\n", "last block and disconnect", kDrainTurnMs + kAnswerTurnMs,
                Median(ends));
    std::printf("transfer %s\n", allOk ? "complete, image valid" : "FAILED");
    return allOk ? 0 : 2;
}
