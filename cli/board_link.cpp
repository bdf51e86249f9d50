#include "cli/board_link.h"

#include <cstdio>

#include "cli/interrupt.h"
#include "protocol/board_facts.h"

namespace swb808::cli {

namespace {

constexpr int kWaitTurnMs = 10;

}  // namespace

std::vector<int> AllRates() {
    return {board::kBaudRates.begin(), board::kBaudRates.end()};
}

std::vector<int> RatesStartingWith(int first) {
    std::vector<int> rates{first};
    for (int r : board::kBaudRates)
        if (r != first) rates.push_back(r);
    return rates;
}

// The queue is made on this thread, which makes it its owner; the pump runs it in every wait.
BoardLink::BoardLink(PortTarget target)
    : target_(std::move(target)),
      queue_(std::make_shared<TLogicQueue>()),
      pump_([q = queue_] {
          q->ProcessPending();
          ThrowIfInterrupted();
      }),
      session_(view_) {
    session_.AttachTo(queue_);
    // Ctrl-C inside a handler's wait ends the handler; the wait around it ends the command.
    previousReporter_ = SetHandlerErrorReporter([](const std::string& message) {
        if (message != Interrupted().what() && message != OutputLost().what())
            std::fprintf(stderr, "swb808ctl: %s\n", message.c_str());
    });
}

BoardLink::~BoardLink() {
    session_.AttachTo(nullptr);
    SetHandlerErrorReporter(std::move(previousReporter_));
}

// The API's texts name the port by its short name; the tool's name it with its device.
CliFailure BoardLink::FailureOf(const BoardError& error) const {
    const ExitStatus status = ExitStatusOf(error.code);
    if (error.code == BoardErrc::LineLost || error.code == BoardErrc::NotConnected)
        return CliFailure(status, LineLostText());
    std::string text = error.message;
    const std::string shortName = Ref().Name();
    if (text.rfind(shortName, 0) == 0) text = target_.Name() + text.substr(shortName.size());
    if (error.code == BoardErrc::NoPermission) text += ": add yourself to the dialout group";
    return CliFailure(status, text);
}

void BoardLink::Check(const Result<void>& result) const {
    if (!result) throw FailureOf(result.error());
}

template <class T>
std::optional<T> BoardLink::Answer(Result<T> result) {
    if (result) return std::move(*result);
    if (result.error().code != BoardErrc::NoAnswer) throw FailureOf(result.error());
    return std::nullopt;
}

void BoardLink::Attach(int baud) {
    Check(board_.Attach(Ref(), baud));
    baud_ = baud;
}

bool BoardLink::Connect(const std::vector<int>& rates) {
    const auto found = board_.Open(OpenRequest{{Ref()}, {rates.begin(), rates.end()}, {}});
    if (found) {
        baud_ = found->baud;
        return true;
    }
    // Not there, or the port could not be used: only the second is a port failure. A line
    // that went away during the query is one too, not a board that stayed silent.
    if (LineWasLost()) throw CliFailure(ExitStatus::PortError, LineLostText());
    if (found.error().code != BoardErrc::NoAnswer) throw FailureOf(found.error());
    return false;
}

bool BoardLink::ReadRelays() {
    return Answer(board_.ReadRelays()).has_value();
}

bool BoardLink::ReadInputs() {
    return Answer(board_.ReadInputs()).has_value();
}

bool BoardLink::ReadConfig() {
    return Answer(board_.ReadConfig()).has_value();
}

bool BoardLink::ReadSupply() {
    return Answer(board_.ReadSupply()).has_value();
}

std::optional<std::string> BoardLink::ReadVersion() {
    return Answer(board_.ReadVersion());
}

void BoardLink::WriteRelays(uint8_t mask) {
    Check(board_.WriteRelays(mask));
}

void BoardLink::WriteConfig(const ConfigValues& values) {
    Check(board_.WriteConfig(values));
}

bool BoardLink::Reset(const std::vector<int>& rates) {
    const auto found = board_.Reset({rates.begin(), rates.end()});
    if (found) {
        baud_ = found->baud;
        return true;
    }
    if (found.error().code != BoardErrc::NoAnswer) throw FailureOf(found.error());
    return false;
}

void BoardLink::ListenForInputChanges() {
    Check(board_.ListenForInputChanges());
}

bool BoardLink::WaitUntil(const std::function<bool()>& done,
                          std::chrono::steady_clock::time_point deadline) {
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        Wait(kWaitTurnMs);
    }
    return true;
}

void BoardLink::Wait(int ms) {
    Check(board_.Wait(ms));
}

void BoardLink::ThrowIfLineLost() {
    Check(board_.CheckLine());
}

std::string BoardLink::LineLostText() const {
    return target_.Name() + ": line lost: " + board_.LineLostText();
}

}  // namespace swb808::cli
