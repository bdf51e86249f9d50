// flash: the image checked as the window checks it, then sent to one board or to several at
// once (a thread each).

#include <QJsonArray>
#include <QJsonObject>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>

#include "cli/board_finder.h"
#include "cli/board_report.h"
#include "cli/commands.h"
#include "cli/firmware_transfer.h"
#include "cli/interrupt.h"
#include "cli/progress.h"
#include "cli/rates.h"

namespace swb808::cli {

namespace {

struct BoardOutcome {
    PortTarget port;
    bool bootloader = false;
    int baud = 0;
    ExitStatus status = ExitStatus::Done;
    TransferResult transfer;
    std::string error;  // finding the board or its loader failed
    double seconds = 0;
};

const char* kNeedsBootloader = " (the board now needs flash --bootloader)";

// Finds the board (or its loader) and sends the image. Runs on the board's own thread when
// there are several.
void FlashBoard(BoardOutcome& outcome, const Request& request, const BoardChoice& choice,
                const TFirmwareImage& image, TransferProgress* progress, size_t index,
                Output& out) {
    const auto started = std::chrono::steady_clock::now();
    try {
        std::unique_ptr<BoardLink> link;
        if (request.bootloader) {
            const std::vector<PortTarget> ports = choice.ports.empty() ? AllComTargets() : choice.ports;
            std::string lastError;
            for (const PortTarget& p : ports) {
                auto candidate = std::make_unique<BoardLink>(p);
                try {
                    if (ProbeBootloader(*candidate)) {
                        link = std::move(candidate);
                        break;
                    }
                } catch (const CliFailure& f) {
                    if (!choice.ports.empty() || f.what() != p.Name() + " does not exist")
                        lastError = f.what();
                }
            }
            if (!link) {
                outcome.status = lastError.empty() ? ExitStatus::NoBoard : ExitStatus::PortError;
                outcome.error = lastError.empty()
                                    ? "no bootloader answered on " +
                                          (ports.size() == 1 ? ports.front().Name()
                                                             : std::string("COM1-COM16"))
                                    : lastError;
                return;
            }
        } else {
            FoundBoard found = FindBoard(choice, LoadRememberedBoard(), Presence::Relays,
                                         [&out](const std::string& line) { out.Warn(line); });
            link = std::move(found.link);
            EnterUpdate(*link);
        }
        outcome.port = link->Target();
        outcome.bootloader = request.bootloader;
        outcome.baud = link->Baud();
        const std::string name = outcome.port.Name();
        outcome.transfer = TransferImage(
            *link, image,
            [&](int done) {
                if (progress) progress->Update(index, done);
            },
            [&](int left) {
                out.Error(name + ": " + std::to_string(left) +
                          " blocks left; press Ctrl-C again to abort (the board then needs "
                          "flash --bootloader)");
            });
        if (!outcome.transfer.ok) {
            outcome.status = ExitStatus::TransferFailed;
            outcome.error = outcome.transfer.error + kNeedsBootloader;
        }
    } catch (const CliFailure& f) {
        outcome.status = f.Status();
        outcome.error = f.what();
    } catch (const Interrupted&) {
        outcome.status = ExitStatus::Interrupted;
        outcome.error = "interrupted";
    } catch (const std::exception& e) {
        outcome.status = ExitStatus::PortError;
        outcome.error = outcome.port.Name() + ": " + e.what();
    }
    outcome.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
}

}  // namespace

ExitStatus RunFlash(const Request& request, Output& out) {
    TFirmwareImage image{};
    const TImageLoadResult loaded = LoadFirmwareImage(request.file, image);
    if (!loaded.Ok())
        throw CliFailure(ExitStatus::FileError, ImageLoadErrorText(loaded, request.file));
    if (loaded.Status == TImageLoadStatus::LoadedWithoutVersion)
        out.Warn(request.file + ": " + std::string(kNoVersionText));

    std::vector<PortTarget> targets;
    for (const auto& p : request.ports) targets.push_back(ParsePortTarget(p));
    const bool several = targets.size() > 1;
    std::vector<BoardOutcome> outcomes(several ? targets.size() : 1);
    std::vector<std::string> names;
    for (size_t i = 0; i < outcomes.size(); ++i) {
        outcomes[i].port = targets.empty() ? PortTarget{} : targets[i];
        names.push_back(targets.empty() ? "board" : targets[i].Name());
    }
    TransferProgress progress(out, names, kImageBlocks);
    const auto choiceFor = [&](size_t i) {
        BoardChoice c;
        if (!targets.empty()) c.ports = {targets[i]};
        c.baud = request.baud;
        return c;
    };
    if (several) {
        std::vector<std::jthread> threads;
        for (size_t i = 0; i < outcomes.size(); ++i)
            threads.emplace_back([&, i] {
                const ScopedEventPump pump(InterruptPump());
                FlashBoard(outcomes[i], request, choiceFor(i), image, &progress, i, out);
            });
    } else {
        FlashBoard(outcomes[0], request, choiceFor(0), image, &progress, 0, out);
    }

    QJsonArray boards;
    int succeeded = 0;
    bool interrupted = false;
    for (const BoardOutcome& o : outcomes) {
        QJsonObject b = PortJson(o.port, o.baud);
        if (o.port.com == 0) b["port"] = QJsonValue::Null, b["device"] = QJsonValue::Null;
        b["path"] = o.bootloader ? "bootloader" : "firmware";
        b["ok"] = o.status == ExitStatus::Done;
        b["blocks_sent"] = o.transfer.blocksDone;
        b["seconds"] = std::round(o.seconds * 10) / 10;
        b["error"] = o.error.empty() ? QJsonValue(QJsonValue::Null)
                                     : QJsonValue(QString::fromStdString(o.error));
        boards.append(b);
        interrupted = interrupted || o.status == ExitStatus::Interrupted;
        if (o.status == ExitStatus::Done) {
            ++succeeded;
            char secs[32];
            std::snprintf(secs, sizeof secs, "%.1f", o.seconds);
            out.Text(o.port.Name() + ": flashed " + std::to_string(kImageBlocks) + " blocks in " +
                     secs + " s");
            // The board restarts at its stored rate: after the firmware's own update that is
            // the rate it answered at; the loader's rate says nothing about it.
            const auto remembered = LoadRememberedBoard();
            const int baud = !o.bootloader ? o.baud
                             : remembered && remembered->port == o.port ? remembered->baud
                                                                        : 0;
            if (!several) SaveRememberedBoard({o.port, baud});
        } else {
            out.Error((o.port.com != 0 && o.error.rfind(o.port.Name(), 0) != 0
                           ? o.port.Name() + ": "
                           : std::string()) +
                      o.error);
        }
    }
    QJsonObject doc;
    doc["file"] = QString::fromStdString(request.file);
    doc["version"] = BoardText(loaded.Version);
    doc["boards"] = boards;
    doc["ok"] = succeeded == int(outcomes.size());
    out.Document(doc);
    if (several)
        out.Text(std::to_string(succeeded) + " of " + std::to_string(outcomes.size()) +
                 " boards flashed");
    if (succeeded == int(outcomes.size())) return ExitStatus::Done;
    if (several) return ExitStatus::TransferFailed;
    if (interrupted) return ExitStatus::Interrupted;
    return outcomes[0].status;
}

}  // namespace swb808::cli
