// flash: the image checked as the window checks it, then sent to one board or to several at
// once (a thread each).

#include <QJsonArray>
#include <QJsonObject>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <optional>
#include <thread>

#include "cli/board_finder.h"
#include "cli/board_report.h"
#include "cli/commands.h"
#include "cli/flash_outcome.h"
#include "cli/image_errors.h"
#include "cli/interrupt.h"
#include "cli/progress.h"
#include "cli/service_flash.h"
#include "firmware/firmware_transfer.h"
#include "protocol/board_facts.h"
#include "serial/serial_errors.h"

namespace swb808::cli {

namespace {

constexpr int kRetryMs = 100;

// The port a bootloader search ended on; unset while none is open.
PortTarget SearchedPort(BoardLink& link) {
    return TargetOf(link.Api().OpenedPort());
}

// The rates to look for a restarted board at, the likeliest first: the firmware restarts at
// its stored rate, which the firmware's own update was done at; after the bootloader only a
// remembered rate says anything, and the fast rates cost least to try.
std::vector<int> RestartRates(const BoardOutcome& o) {
    if (!o.bootloader) return {o.baud};
    std::vector<int> rates = AllRates();
    std::reverse(rates.begin(), rates.end());
    const auto remembered = LoadRememberedBoard();
    if (remembered && remembered->port == o.port && remembered->baud > 0) {
        std::erase(rates, remembered->baud);
        rates.insert(rates.begin(), remembered->baud);
    }
    return rates;
}

// Waits for the restarted board to answer the version read; its rate, or 0 at the bound.
int AwaitRestartedBoard(BoardOutcome& o) {
    const auto deadline = std::chrono::steady_clock::now() + kRestartBound;
    const std::vector<int> rates = RestartRates(o);
    BoardLink link(o.port);
    for (;;) {
        for (int rate : rates) {
            if (std::chrono::steady_clock::now() >= deadline) return 0;
            try {
                link.Attach(rate);
                if (auto version = link.ReadVersion()) {
                    o.newVersion = std::move(*version);
                    return rate;
                }
            } catch (const CliFailure&) {
                // Away for a moment, as a USB adapter may be while the board restarts.
                (void)link.Api().Wait(kRetryMs);
            }
        }
    }
}

// After a complete transfer: the board is back, and runs the image's version. A lost stdout
// does not cut this short (the exit status still tells); a signal does.
void VerifyRestart(BoardOutcome& o, const TImageLoadResult& loaded) {
    const BlockPhaseWatch quietWhileOutputLost([] { return !SignalArrived(); }, [] {});
    try {
        const int baud = AwaitRestartedBoard(o);
        if (baud == 0) {
            o.status = ExitStatus::NoBoard;
            o.error = "all " + std::to_string(kBlocks) + " blocks went over, but the board did " +
                      "not answer within " + std::to_string(kRestartBound.count()) + " s";
            return;
        }
        o.baud = baud;
        if (loaded.Status == TImageLoadStatus::Loaded && o.newVersion != loaded.Version) {
            o.status = ExitStatus::TransferFailed;
            o.error = "the board runs version " + BoardTextUtf8(*o.newVersion) +
                      " after the update, not the image's " + BoardTextUtf8(loaded.Version);
        }
    } catch (const Interrupted&) {
        o.note = "version not read back: interrupted";
    }
}

// The board meant, when swb808d holds it: the given port, else (not for a bootloader search
// of every port) the remembered board's.
std::optional<HeldPort> HeldBoardMeant(const Request& request, const BoardChoice& choice) {
    if (request.direct) return std::nullopt;
    if (choice.ports.size() == 1) return ServiceHolding(choice.ports.front());
    const auto remembered = LoadRememberedBoard();
    if (choice.ports.empty() && !request.bootloader && remembered)
        return ServiceHolding(remembered->port);
    return std::nullopt;
}

// Finds the board (or its loader) and sends the image, or has swb808d send it when it holds
// the board. Runs on the board's own thread when there are several.
void FlashBoard(BoardOutcome& outcome, const Request& request, const BoardChoice& choice,
                const TFirmwareImage& image, const TImageLoadResult& loaded,
                TransferProgress& progress, size_t index, Output& out) {
    const auto started = std::chrono::steady_clock::now();
    try {
        if (const std::optional<HeldPort> held = HeldBoardMeant(request, choice)) {
            FlashThroughService(outcome, *held, request, image, loaded, progress, index);
            return;
        }
        std::unique_ptr<BoardLink> link;
        std::vector<PortRef> searchPorts;
        if (request.bootloader) {
            const std::vector<PortTarget> ports =
                choice.ports.empty() ? AllComTargets() : choice.ports;
            for (const PortTarget& p : ports) searchPorts.push_back(p.Ref());
            link = std::make_unique<BoardLink>(ports.front());
        } else {
            // The firmware's own update needs a connected board, as in the window.
            try {
                link = FindBoard(choice, LoadRememberedBoard(), Presence::Query,
                                 [&out](const std::string& line) { out.Warn(line); })
                           .link;
            } catch (const CliFailure& f) {
                if (f.Status() != ExitStatus::NoBoard) throw;
                throw CliFailure(f.Status(), std::string(f.what()) +
                                                 " (a board in its bootloader is flashed with "
                                                 "flash --bootloader)");
            }
            outcome.port = link->Target();
            outcome.baud = link->Baud();
            outcome.oldVersion = link->Records().firmwareVersion;
        }
        outcome.bootloader = request.bootloader;

        FirmwareTransfer transfer(link->Api().Session());
        int done = 0;
        link->View().onBlocks = [&](int blocks, int) {
            done = blocks;
            progress.Update(index, blocks);
        };
        const BlockPhaseWatch watch([&] { return transfer.SendingBlocks(); },
                                    [&] {
                                        const PortTarget at = SearchedPort(*link);
                                        const std::string where =
                                            at.IsSet() ? at.Name() + ": " : std::string();
                                        out.Error(where + std::to_string(kBlocks - done) +
                                                  " blocks left; press Ctrl-C again to abort "
                                                  "(the board then needs flash --bootloader)");
                                    });
        progress.Update(index, 0);
        FlashResult result;
        try {
            result = transfer.Run(image, searchPorts.empty() ? AllComPorts() : searchPorts);
        } catch (const Interrupted&) {
            if (!transfer.SendingBlocks() && done == 0) throw;
            result = FlashResult{FlashOutcome::Aborted, done, link->Api().OpenedPort()};
        }
        if (request.bootloader) {
            outcome.port = TargetOf(result.port);
            outcome.baud = board::kLoaderBaud;
        }
        outcome.blocksDone = result.blocksDone;
        switch (result.outcome) {
            case FlashOutcome::Complete:
                break;
            case FlashOutcome::NoLoader: {
                const auto failure = link->Api().Session().LastOpenFailure();
                outcome.status = ExitStatus::NoBoard;
                outcome.port = {};
                outcome.error = "no bootloader answered on " +
                                (choice.ports.size() == 1 ? choice.ports.front().Name()
                                 : choice.ports.empty()   ? std::string("COM1-COM16")
                                                          : std::string("the given ports"));
                // The firmware does not answer the loader's probe.
                outcome.error +=
                    " (a board that runs its firmware is flashed without "
                    "--bootloader)";
                if (failure && choice.ports.size() == 1) {
                    outcome.status = ExitStatus::PortError;
                    outcome.error = choice.ports.front().Name() + ": " + failure->text;
                    if (failure->code == ecAlreadyOpen)
                        outcome.error =
                            choice.ports.front().Name() + " is in use by another program";
                }
                break;
            }
            case FlashOutcome::SearchStopped:
                throw Interrupted();
            case FlashOutcome::NoAnswer:
                if (link->LineWasLost()) {
                    outcome.status = ExitStatus::PortError;
                    outcome.error = "line lost after " + std::to_string(result.blocksDone) +
                                    " of " + std::to_string(kBlocks) +
                                    " blocks: " + link->Api().LineLostText() + kNeedsBootloader;
                    break;
                }
                outcome.status = ExitStatus::TransferFailed;
                outcome.error = "no answer to " + BlockText(result.blocksDone) + kNeedsBootloader;
                break;
            case FlashOutcome::WrongSum:
                outcome.status = ExitStatus::TransferFailed;
                outcome.error =
                    "wrong checksum echoed for " + BlockText(result.blocksDone) + kNeedsBootloader;
                break;
            case FlashOutcome::Aborted:
                outcome.status = ExitStatus::TransferFailed;
                outcome.error = "aborted by Ctrl-C after " + std::to_string(result.blocksDone) +
                                " of " + std::to_string(kBlocks) + " blocks" + kNeedsBootloader;
                break;
        }
    } catch (const CliFailure& f) {
        outcome.status = f.Status();
        outcome.error = f.what();
    } catch (const OutputLost&) {
        outcome.status = ExitStatus::OutputFailed;
        outcome.error = "stdout lost before the blocks; stopped";
    } catch (const Interrupted&) {
        outcome.status = ExitStatus::Interrupted;
        outcome.error = "interrupted; the port is closed";
    } catch (const std::exception& e) {
        outcome.status = ExitStatus::PortError;
        outcome.error = e.what();
    }
    outcome.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (outcome.status != ExitStatus::Done || !request.verify) return;
    try {
        VerifyRestart(outcome, loaded);
    } catch (const std::exception& e) {
        outcome.status = ExitStatus::PortError;
        outcome.error = e.what();
    }
}

}  // namespace

ExitStatus RunFlash(const Request& request, Output& out) {
    TFirmwareImage image{};
    const TImageLoadResult loaded = LoadFirmwareImage(request.file, image);
    if (!loaded.Ok())
        throw CliFailure(ExitStatus::FileError, ImageFileErrorText(loaded, request.file));
    if (loaded.Status == TImageLoadStatus::LoadedWithoutVersion) {
        // Nothing would tell afterwards what the board runs.
        if (!request.force)
            throw CliFailure(ExitStatus::FileError,
                             request.file +
                                 ": the image has no version marker (WXYZVERSION); --force "
                                 "flashes it all the same");
        out.Warn(request.file + ": " + std::string(kNoVersionText));
    }

    std::vector<PortTarget> targets;
    for (const auto& p : request.ports) targets.push_back(ParsePortTarget(p));
    const bool several = targets.size() > 1;
    std::vector<BoardOutcome> outcomes(several ? targets.size() : 1);
    std::vector<std::string> names;
    for (size_t i = 0; i < outcomes.size(); ++i) {
        outcomes[i].port = targets.empty() ? PortTarget{} : targets[i];
        names.push_back(targets.empty() ? "board" : targets[i].Name());
    }
    TransferProgress progress(out, names, kBlocks);
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
                FlashBoard(outcomes[i], request, choiceFor(i), image, loaded, progress, i, out);
            });
    } else {
        FlashBoard(outcomes[0], request, choiceFor(0), image, loaded, progress, 0, out);
    }

    QJsonArray boards;
    int succeeded = 0;
    bool interrupted = false;
    for (const BoardOutcome& o : outcomes) {
        QJsonObject b = PortJson(o.port, o.baud);
        b["method"] = o.bootloader ? "bootloader" : "firmware";
        b["ok"] = o.status == ExitStatus::Done;
        b["blocks_done"] = o.blocksDone;
        b["seconds"] = std::round(o.seconds * 10) / 10;
        b["error"] = o.error.empty() ? QJsonValue(QJsonValue::Null)
                                     : QJsonValue(ErrorJson(o.status, o.error));
        const auto versionJson = [](const std::optional<std::string>& v) {
            return v ? QJsonValue(BoardText(*v)) : QJsonValue(QJsonValue::Null);
        };
        b["old_version"] = versionJson(o.oldVersion);
        b["new_version"] = versionJson(o.newVersion);
        boards.append(b);
        interrupted = interrupted || o.status == ExitStatus::Interrupted;
        if (o.status == ExitStatus::Done) {
            ++succeeded;
            char secs[32];
            std::snprintf(secs, sizeof secs, "%.1f", o.seconds);
            std::string line = o.port.Name() + ": flashed " + std::to_string(kBlocks) +
                               " blocks in " + secs + " s";
            if (o.newVersion)
                line += "; version " + (o.oldVersion ? BoardTextUtf8(*o.oldVersion) : "unknown") +
                        " -> " + BoardTextUtf8(*o.newVersion);
            if (!o.note.empty()) line += "; " + o.note;
            out.Text(line);
            // The rate the restarted board answered at; unread, the firmware's own update
            // restarts at the rate it ran at, and the loader's rate says nothing.
            const auto remembered = LoadRememberedBoard();
            const int baud = !o.bootloader || o.newVersion              ? o.baud
                             : remembered && remembered->port == o.port ? remembered->baud
                                                                        : 0;
            if (!several) SaveRememberedBoard({o.port, baud});
        } else {
            out.Error((o.port.IsSet() && o.error.find(o.port.Name()) == std::string::npos
                           ? o.port.Name() + ": "
                           : std::string()) +
                      o.error);
        }
    }
    QJsonObject doc;
    doc["file"] = QString::fromStdString(request.file);
    doc["version"] = loaded.Version.empty() ? QJsonValue(QJsonValue::Null)
                                            : QJsonValue(BoardText(loaded.Version));
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
