#include "cli/service_flash.h"

#include <chrono>
#include <thread>

#include "cli/interrupt.h"
#include "cli/output.h"
#include "firmware/firmware_transfer.h"
#include "protocol/board_text.h"

namespace swb808::cli {

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto kPoll = 100ms;
constexpr std::chrono::milliseconds kRequestTimeout = 60s;
const char* const kThrough = " (through swb808d)";

// A pause between two looks at the job, in turns that see a Ctrl-C.
void Pause() {
    const auto end = Clock::now() + kPoll;
    while (Clock::now() < end) {
        std::this_thread::sleep_for(10ms);
        ThrowIfInterrupted();
    }
}

QJsonObject Job(ServiceClient& service, const std::string& id) {
    const ServiceAnswer answer =
        service.Request("GET", "/api/v1/jobs/" + id, nullptr, kRequestTimeout);
    if (!answer.Ok())
        throw CliFailure(ExitStatus::PortError,
                         "swb808d lost its flash job " + id + ": " + answer.Detail());
    return answer.json;
}

std::optional<std::string> VersionOf(const QJsonValue& v) {
    if (!v.isString()) return std::nullopt;
    return Utf8ToAnsi(v.toString().toStdString());
}

// A failed job in the words a transfer of the tool's own would have.
void TakeFailure(BoardOutcome& o, const std::string& message) {
    if (message == kNoLoaderText) {
        o.status = ExitStatus::NoBoard;
        o.error = "no bootloader answered on " + o.port.Name() +
                  " (a board that runs its firmware is flashed without --bootloader)";
    } else {
        o.status = ExitStatus::TransferFailed;
        o.error = message == kNoAnswerText ? "no answer to " + BlockText(o.blocksDone)
                  : message == kWrongSumText
                      ? "wrong checksum echoed for " + BlockText(o.blocksDone)
                      : message + " after " + std::to_string(o.blocksDone) + " of " +
                            std::to_string(kBlocks) + " blocks";
        o.error += kNeedsBootloader;
    }
    o.error += kThrough;
}

// The board found again by the service: the version it runs and its rate.
void AwaitRestart(BoardOutcome& o, ServiceClient& service, const HeldPort& held, QJsonObject job,
                  const TImageLoadResult& loaded) {
    const auto deadline = Clock::now() + kRestartBound;
    while (!job["running_version"].isString()) {
        if (Clock::now() >= deadline) {
            o.status = ExitStatus::NoBoard;
            o.error = "all " + std::to_string(kBlocks) + " blocks went over, but the board did " +
                      "not answer within " + std::to_string(kRestartBound.count()) + " s" +
                      kThrough;
            return;
        }
        Pause();
        job = Job(service, job["id"].toString().toStdString());
    }
    o.newVersion = VersionOf(job["running_version"]);
    const ServiceAnswer board =
        service.Request("GET", BoardPath(held.board.id), nullptr, kRequestTimeout);
    if (board.Ok() && board.json["baud"].isDouble()) o.baud = board.json["baud"].toInt();
    if (loaded.Status == TImageLoadStatus::Loaded && o.newVersion != loaded.Version) {
        o.status = ExitStatus::TransferFailed;
        o.error = "the board runs version " + BoardTextUtf8(*o.newVersion) +
                  " after the update, not the image's " + BoardTextUtf8(loaded.Version) + kThrough;
    }
}

}  // namespace

void FlashThroughService(BoardOutcome& outcome, const HeldPort& held, const Request& request,
                         const TFirmwareImage& image, const TImageLoadResult& loaded,
                         TransferProgress& progress, size_t index) {
    const auto started = Clock::now();
    outcome.port = held.board.port;
    outcome.bootloader = request.bootloader;
    outcome.baud = request.bootloader ? board::kLoaderBaud : held.board.baud;
    ServiceClient& service = *held.client;
    try {
        // The service tells afterwards what the board runs by the image's version.
        if (loaded.Status == TImageLoadStatus::LoadedWithoutVersion)
            throw CliFailure(ExitStatus::PortError,
                             outcome.port.Name() +
                                 ": swb808d flashes only images with a version marker; stop it "
                                 "to flash this one with --direct --force");
        const std::string target =
            BoardPath(held.board.id) + "/firmware" + (request.bootloader ? "?bootloader=1" : "");
        const ServiceAnswer accepted =
            service.Upload(target, std::string(image.begin(), image.end()),
                           "application/octet-stream", kRequestTimeout);
        if (!accepted.Ok()) throw ServiceFailure(accepted, outcome.port);
        QJsonObject job = accepted.json;
        const std::string id = job["id"].toString().toStdString();
        if (!request.bootloader) outcome.oldVersion = VersionOf(job["old_version"]);
        int shown = -1;
        for (;;) {
            outcome.blocksDone = job["blocks_done"].toInt();
            if (outcome.blocksDone != shown) progress.Update(index, shown = outcome.blocksDone);
            if (job["result"].toString() != "running") break;
            Pause();
            job = Job(service, id);
        }
        outcome.seconds = std::chrono::duration<double>(Clock::now() - started).count();
        if (job["result"].toString() != "complete") {
            TakeFailure(outcome, job["message"].toString().toStdString());
            return;
        }
        if (request.verify) AwaitRestart(outcome, service, held, job, loaded);
    } catch (const CliFailure& f) {
        outcome.status = f.Status();
        outcome.error = f.what();
    } catch (const OutputLost&) {
        outcome.status = ExitStatus::OutputFailed;
        outcome.error = "stdout lost; swb808d goes on with the transfer";
    } catch (const Interrupted&) {
        outcome.status = ExitStatus::Interrupted;
        outcome.error = "interrupted; swb808d goes on with the transfer";
    }
    if (outcome.seconds == 0)
        outcome.seconds = std::chrono::duration<double>(Clock::now() - started).count();
}

}  // namespace swb808::cli
