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
#include <memory>
#include <optional>
#include <vector>

#include "protocol/paced_wait.h"
#include "sim/board_simulator.h"
#include "ui/dialogs.h"
#include "ui/main_window.h"

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

// Notes when the watched LED is painted in the state it waits for.
class PaintWatch : public QObject {
  public:
    explicit PaintWatch(LedIndicator& led) : led_(led) { led.installEventFilter(this); }
    void Expect(TState state) {
        want_ = state;
        painted_.reset();
    }
    std::optional<Clock::time_point> Painted() const { return painted_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == &led_ && event->type() == QEvent::Paint && !painted_ &&
            led_.LedState() == want_)
            painted_ = Clock::now();
        return false;
    }

  private:
    LedIndicator& led_;
    TState want_ = stOff;
    std::optional<Clock::time_point> painted_;
};

struct Result {
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

Result Measure(const std::filesystem::path& dir, unsigned baud) {
    Result result;
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

    std::vector<Result> results;
    for (unsigned baud : {115200u, 2400u}) results.push_back(Measure(tmpl, baud));
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
    for (const Result& r : results) {
        const double wire = kFrameBits * 1000.0 / r.baud;
        const double ref = wire + kTurnMs;
        const double med = Percentile(r.paintMs, 0.5);
        const double p99 = Percentile(r.paintMs, 0.99);
        std::printf("| %u | %d/%d | %.2f | %.2f | %.2f | %.2f | %.2f | %.2f | %.2f |\n", r.baud,
                    r.measured, kChanges, wire, ref, Percentile(r.stateMs, 0.5), med, p99,
                    med / ref, p99 / ref);
        ok = ok && r.measured == kChanges;
    }
    return ok ? 0 : 2;
}
