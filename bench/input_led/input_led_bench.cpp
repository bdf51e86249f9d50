// Times an input change from the simulated board writing its frame to the window painting
// the opto LED that shows it, against the paced simulator, and sets it next to the frame's
// wire time plus the one 10 ms turn in which the handler waits for the frame's rest.

#include <stdlib.h>

#include <QApplication>
#include <QEvent>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
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

constexpr int kChanges = 200;
constexpr double kFrameBits = 7 * 10;
constexpr double kTurnMs = 10;

class ConsoleDialogs : public Dialogs {
  public:
    void ShowError(const QString& text) override { Report("error", text); }
    void ShowWarning(const QString& text) override { Report("warning", text); }
    void ShowException(const QString& message) override { Report("exception", message); }
    std::optional<QString> OpenFileName(const QString&) override { return std::nullopt; }

  private:
    static void Report(const char* kind, const QString& text) {
        std::fprintf(stderr, "%s: %s\n", kind, text.toUtf8().constData());
    }
};

// Notes when the watched LED is painted in the state it waits for (and, if given, while
// `also` holds).
class PaintWatch : public QObject {
  public:
    explicit PaintWatch(LedIndicator& led) : led_(led) { led.installEventFilter(this); }
    void Expect(TState state, std::function<bool()> also = nullptr) {
        want_ = state;
        also_ = std::move(also);
        painted_.reset();
    }
    std::optional<Clock::time_point> Painted() const { return painted_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == &led_ && event->type() == QEvent::Paint && !painted_ &&
            led_.LedState() == want_ && (!also_ || also_()))
            painted_ = Clock::now();
        return false;
    }

  private:
    LedIndicator& led_;
    TState want_ = stOff;
    std::function<bool()> also_;
    std::optional<Clock::time_point> painted_;
};

struct LedResult {
    unsigned baud = 0;
    int measured = 0;
    std::vector<double> paintMs;
    std::vector<double> stateMs;  // to OnAfterChange
};

double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t i = size_t(std::ceil(p * double(v.size()))) - 1;
    return v[std::min(i, v.size() - 1)];
}

LedResult Measure(const std::filesystem::path& dir, unsigned baud) {
    LedResult result;
    result.baud = baud;
    sim::BoardOptions o;
    o.baud = baud;
    o.pacing = true;
    o.link = (dir / "com1").string();
    sim::BoardSimulator board(o);
    board.Start();

    TSWB808Form form;
    form.show();
    form.ComPortComboBox->SetItemIndex(1);
    form.BaudrateComboBox->SetItemIndex(form.BaudrateComboBox->findText(QString::number(baud)));
    form.ScanSpeedButtonClick();
    if (!form.Connected) {
        std::fprintf(stderr, "no board found at %u Bd\n", baud);
        return result;
    }
    form.PageControl->setCurrentWidget(form.ControlTabSheet);  // the LEDs must be on screen
    PacedWait(100);

    LedIndicator& led = *form.OptoLed1;
    PaintWatch watch(led);
    std::optional<Clock::time_point> changed;
    led.OnAfterChange = [&](LedIndicator&) { changed = Clock::now(); };

    uint8_t inputs = board.Inputs();
    for (int i = 0; i < kChanges; ++i) {
        inputs ^= 0x01;
        const TState want = inputs & 1 ? stOn : stOff;
        watch.Expect(want);
        changed.reset();
        const auto start = Clock::now();
        board.SetInputs(inputs);
        // The window's thread idles in the event loop, as it does between the operator's
        // actions, until the LED has been painted.
        while (!watch.Painted() && Clock::now() - start < std::chrono::seconds(2))
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        if (!watch.Painted()) {
            std::fprintf(stderr, "change %d at %u Bd not shown\n", i, baud);
            continue;
        }
        ++result.measured;
        result.paintMs.push_back(Ms(*watch.Painted() - start).count());
        if (changed) result.stateMs.push_back(Ms(*changed - start).count());
        board.WaitSendIdle(std::chrono::seconds(1));
        PacedWait(20);  // a quiet gap, so that changes do not queue behind each other
    }
    led.OnAfterChange = nullptr;
    form.disconnect();
    board.Stop();
    return result;
}

struct BurstResult {
    int changes = 0;
    int runs = 0;
    int shown = 0;                        // runs whose last state was painted
    std::vector<double> afterLastByteMs;  // last frame's last byte on the line -> LED painted
    double wireMs = 0;
};

// Runs of `changes` input changes back to back (0x55/0xAA alternating, the last one with only
// bit 0 of the one before flipped, so that LED 1 alone changes with it), each timed from the moment
// the simulator put the last frame's last byte on the line to the window painting LED 1 in the
// run's last state.
BurstResult MeasureBursts(TSWB808Form& form, sim::BoardSimulator& board, unsigned baud, int changes,
                          int runs) {
    BurstResult result;
    result.changes = changes;
    result.runs = runs;
    result.wireMs = changes * kFrameBits * 1000.0 / baud;
    const uint8_t beforeLast = changes >= 2 && (changes - 2) % 2 ? 0xAA : 0x55;
    const uint8_t last = beforeLast ^ 0x01;
    const TState lastState = last & 0x01 ? stOn : stOff;
    LedIndicator& led = *form.OptoLed1;
    PaintWatch watch(led);
    for (int run = 0; run < runs; ++run) {
        board.SetInputs(0x00);  // a start apart from the run's values
        board.WaitSendIdle(std::chrono::seconds(2));
        PacedWait(50);
        board.ClearRecord();
        watch.Expect(lastState, [&] { return form.Protocol.OptoState == last; });
        for (int i = 0; i < changes - 1; ++i) board.SetInputs(i % 2 ? 0xAA : 0x55);
        board.SetInputs(last);
        const auto deadline = Clock::now() + std::chrono::milliseconds(int(result.wireMs) + 3000);
        while (!watch.Painted() && Clock::now() < deadline)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        board.WaitSendIdle(std::chrono::seconds(1));
        if (!watch.Painted()) {
            std::fprintf(stderr, "run %d of %d changes at %u Bd: last state not shown\n", run,
                         changes, baud);
            continue;
        }
        std::optional<Clock::time_point> lastByte;
        for (const auto& e : board.WireLog())
            if (e.sent && !e.bytes.empty()) lastByte = e.time;
        if (!lastByte) continue;
        ++result.shown;
        result.afterLastByteMs.push_back(Ms(*watch.Painted() - *lastByte).count());
    }
    return result;
}

std::vector<BurstResult> MeasureBurstsAt(const std::filesystem::path& dir, unsigned baud) {
    std::vector<BurstResult> results;
    sim::BoardOptions o;
    o.baud = baud;
    o.pacing = true;
    o.link = (dir / "com1").string();
    sim::BoardSimulator board(o);
    board.Start();
    TSWB808Form form;
    form.show();
    form.ComPortComboBox->SetItemIndex(1);
    form.BaudrateComboBox->SetItemIndex(form.BaudrateComboBox->findText(QString::number(baud)));
    form.ScanSpeedButtonClick();
    if (!form.Connected) {
        std::fprintf(stderr, "no board found at %u Bd\n", baud);
        return results;
    }
    form.PageControl->setCurrentWidget(form.ControlTabSheet);
    PacedWait(100);
    for (const auto& [changes, runs] : {std::pair{20, 40}, {121, 40}, {1000, 10}})
        results.push_back(MeasureBursts(form, board, baud, changes, runs));
    form.disconnect();
    board.Stop();
    return results;
}

}  // namespace

int main(int, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    char tmpl[] = "/tmp/swb808-bench-led-XXXXXX";
    if (!::mkdtemp(tmpl)) return 1;
    ::setenv("SWB808_PORT_DIR", tmpl, 1);

    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    SetEventPump([] { QCoreApplication::processEvents(); });
    SetDialogs(std::make_unique<ConsoleDialogs>());

    std::vector<LedResult> results;
    for (unsigned baud : {115200u, 2400u}) results.push_back(Measure(tmpl, baud));
    const std::vector<BurstResult> bursts = MeasureBurstsAt(tmpl, 115200);
    SetDialogs(nullptr);
    std::filesystem::remove_all(tmpl);

    std::printf(
        "Input change to painted opto LED, paced simulator, %d changes per rate. "
        "Reference: the frame's wire time (7 bytes x 10 bits / rate) plus one 10 ms "
        "turn of the handler's receive.\n\n",
        kChanges);
    std::printf(
        "| rate (Bd) | shown | wire ms | reference ms | state set, median ms | "
        "painted, median ms | painted, p99 ms | median / reference | "
        "p99 / reference |\n");
    std::printf("|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    bool ok = true;
    for (const LedResult& r : results) {
        const double wire = kFrameBits * 1000.0 / r.baud;
        const double ref = wire + kTurnMs;
        const double med = Percentile(r.paintMs, 0.5);
        const double p99 = Percentile(r.paintMs, 0.99);
        std::printf("| %u | %d/%d | %.2f | %.2f | %.2f | %.2f | %.2f | %.2f | %.2f |\n", r.baud,
                    r.measured, kChanges, wire, ref, Percentile(r.stateMs, 0.5), med, p99,
                    med / ref, p99 / ref);
        ok = ok && r.measured == kChanges;
    }
    std::printf(
        "\nBursts at 115200 Bd: runs of changes back to back, the last state painted, timed "
        "from the last frame's last byte on the line.\n\n");
    std::printf(
        "| changes per run | last state shown | wire ms per run | after last byte, median ms | "
        "p99 ms | worst ms |\n");
    std::printf("|---:|---:|---:|---:|---:|---:|\n");
    for (const BurstResult& b : bursts) {
        const auto& v = b.afterLastByteMs;
        std::printf("| %d | %d/%d | %.1f | %.2f | %.2f | %.2f |\n", b.changes, b.shown, b.runs,
                    b.wireMs, Percentile(v, 0.5), Percentile(v, 0.99),
                    v.empty() ? 0.0 : *std::max_element(v.begin(), v.end()));
        ok = ok && b.shown == b.runs;
    }
    return ok ? 0 : 2;
}
