#include "service/api_handlers.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QString>

#include <boost/asio/steady_timer.hpp>

#include <charconv>

#include "cli/board_report.h"
#include "connection/board_session.h"
#include "firmware/firmware_image.h"
#include "protocol/board_text.h"
#include "service/board_json.h"
#include "service/json_body.h"
#include "service/log.h"
#include "service/problem.h"
#include "service/responses.h"

namespace swb808::service {

namespace {

using Json = QJsonObject;
constexpr int64_t kLongestPulseMs = 10 * 60 * 1000;

void Merge(Json& into, const Json& from) {
    for (auto it = from.begin(); it != from.end(); ++it) into[it.key()] = it.value();
}

BoardOwner& BoardOf(BoardRegistry& boards, const ExchangePtr& ex) {
    BoardOwner* owner = boards.Find(ex->params.at(0));
    if (!owner) throw HttpProblem(http::status::not_found, "no board \"" + ex->params.at(0) + "\"");
    return *owner;
}

Response ErrorResponse(const BoardError& e, const BoardOwner& owner) {
    const http::status status = StatusOf(e.code);
    std::optional<int> retry;
    if (status == http::status::service_unavailable)
        retry = e.code == BoardErrc::Overloaded ? 1 : owner.RetryAfterSeconds();
    return ProblemResponse(status, e.message, retry);
}

// Runs `command` on the board's thread and answers with what it returns.
void OnBoard(const ExchangePtr& ex, BoardOwner& owner, const std::string& what,
             BoardOwner::Command command) {
    owner.Submit(what, std::move(command), [ex, &owner](Result<QJsonObject> r) {
        ex->reply(r ? JsonResponse(*r) : ErrorResponse(r.error(), owner));
    });
}

bool Fresh(const ExchangePtr& ex) {
    const std::string f = ex->Query("fresh");
    return f == "1" || f == "true";
}

// A board that is not online answers from its cache only while it has one.
const BoardRecords& CachedRecords(const BoardView& view) {
    if (!view.records)
        throw HttpProblem(http::status::service_unavailable,
                          view.port.Name() + ": the board has not been read yet", 1);
    return *view.records;
}

std::string Who(const ExchangePtr& ex) {
    return ex->caller.name;
}

std::string Where(const BoardOwner& owner) {
    const BoardView v = owner.View();
    return v.id + " (" + v.port.Name() + ")";
}

// --- Routes ---

void ListBoards(BoardRegistry& boards, const ExchangePtr& ex) {
    QJsonArray all;
    for (const auto& b : boards.Boards()) all.append(BoardSummaryJson(b->View()));
    ex->reply(JsonResponse(Json{{"boards", all}}));
}

void BoardInfo(BoardRegistry& boards, const ExchangePtr& ex) {
    BoardOwner& owner = BoardOf(boards, ex);
    if (!Fresh(ex)) {
        ex->reply(JsonResponse(BoardStateJson(owner.View())));
        return;
    }
    OnBoard(ex, owner, "read_state", [&owner](Board& b) -> Result<Json> {
        auto records = b.ReadState();
        if (!records) return Failure{records.error()};
        owner.NoteRecords(*records);
        return BoardStateJson(owner.View());
    });
}

void GetRelays(BoardRegistry& boards, const ExchangePtr& ex) {
    BoardOwner& owner = BoardOf(boards, ex);
    const BoardView view = owner.View();
    if (!Fresh(ex)) {
        Json o = BoardHeadJson(view);
        Merge(o, RelaysJson(CachedRecords(view).relays));
        o["age_ms"] = AgeMs(view.relaysAt);
        ex->reply(JsonResponse(o));
        return;
    }
    OnBoard(ex, owner, "read_relays", [&owner](Board& b) -> Result<Json> {
        auto mask = b.ReadRelays();
        if (!mask) return Failure{mask.error()};
        owner.NoteRelays(*mask);
        Json o = BoardHeadJson(owner.View());
        Merge(o, RelaysJson(*mask));
        o["age_ms"] = 0;
        return o;
    });
}

Result<Json> RelaysAnswer(BoardOwner& owner) {
    const BoardView v = owner.View();
    Json o = BoardHeadJson(v);
    if (v.records) Merge(o, RelaysJson(v.records->relays));
    return o;
}

void PutRelays(BoardRegistry& boards, const ExchangePtr& ex) {
    BoardOwner& owner = BoardOf(boards, ex);
    const Json body = ParseBody(ex->request, {"mask", "on", "off"});
    const auto mask = IntegerMember(body, "mask", 0, 255);
    const auto on = RelayListMember(body, "on");
    const auto off = RelayListMember(body, "off");
    if (mask && (on || off))
        throw HttpProblem(http::status::bad_request, "give \"mask\" or \"on\"/\"off\", not both");
    if (!mask && !on && !off)
        throw HttpProblem(http::status::bad_request,
                          "give {\"mask\": N} or {\"on\": [..], \"off\": [..]}");
    if (on && off && (*on & *off))
        throw HttpProblem(http::status::bad_request, "a relay is in both \"on\" and \"off\"");
    const std::string what = mask ? "relays mask " + cli::HexByte(uint8_t(*mask))
                                  : "relays on [" + cli::BitNumbersText(on.value_or(0)) +
                                        "] off [" + cli::BitNumbersText(off.value_or(0)) + "]";
    LogChange(Who(ex), Where(owner) + ": " + what);
    OnBoard(ex, owner, "write_relays", [&owner, mask, on, off](Board& b) -> Result<Json> {
        const Result<void> r =
            mask ? b.WriteRelays(uint8_t(*mask)) : b.SetRelays(on.value_or(0), off.value_or(0));
        if (!r) return Failure{r.error()};
        return RelaysAnswer(owner);
    });
}

void PutRelay(BoardRegistry& boards, const ExchangePtr& ex) {
    BoardOwner& owner = BoardOf(boards, ex);
    const int n = RelayNumber(ex->params.at(1));
    const Json body = ParseBody(ex->request, {"state"});
    const auto state = StringMember(body, "state");
    if (!state || (*state != "on" && *state != "off" && *state != "toggle"))
        throw HttpProblem(http::status::bad_request,
                          "give {\"state\": \"on\" | \"off\" | \"toggle\"}");
    LogChange(Who(ex), Where(owner) + ": relay " + std::to_string(n) + " " + *state);
    OnBoard(ex, owner, "write_relays", [&owner, n, s = *state](Board& b) -> Result<Json> {
        bool on = s == "on";
        if (s == "toggle") {
            const BoardView v = owner.View();
            on = !(v.records && (v.records->relays & (1u << (n - 1))));
        }
        const Result<void> r = b.SetRelay(n, on);
        if (!r) return Failure{r.error()};
        return RelaysAnswer(owner);
    });
}

void Pulse(BoardRegistry& boards, boost::asio::io_context& io, const ExchangePtr& ex) {
    BoardOwner& owner = BoardOf(boards, ex);
    const int n = RelayNumber(ex->params.at(1));
    const Json body = ParseBody(ex->request, {"ms"});
    const auto ms = IntegerMember(body, "ms", 1, kLongestPulseMs);
    if (!ms) throw HttpProblem(http::status::bad_request, "give {\"ms\": N}");
    const std::string who = Who(ex);
    LogChange(who, Where(owner) + ": relay " + std::to_string(n) + " pulse " + std::to_string(*ms) +
                       " ms");
    OnBoard(ex, owner, "write_relays", [&owner, &io, n, ms = *ms, who](Board& b) -> Result<Json> {
        const Result<void> r = b.SetRelay(n, true);
        if (!r) return Failure{r.error()};
        // The off command is queued when the time is up, behind what came meanwhile.
        const uint64_t pulse = owner.PulseBegins(n);
        auto timer = std::make_shared<boost::asio::steady_timer>(io, std::chrono::milliseconds(ms));
        timer->async_wait([timer, &owner, n, who, pulse](boost::system::error_code ec) {
            if (ec || !owner.PulseEnds(pulse)) return;
            owner.Submit(
                "write_relays",
                [n](Board& board) -> Result<Json> {
                    const Result<void> off = board.SetRelay(n, false);
                    if (!off) return Failure{off.error()};
                    return Json{};
                },
                [n, who](Result<Json> off) {
                    if (!off)
                        LogError("relay " + std::to_string(n) + " pulse of " + who +
                                 ": could not switch it off: " + off.error().message);
                });
        });
        Result<Json> answer = RelaysAnswer(owner);
        answer->insert("pulse_ms", qint64(ms));
        answer->insert("relay", n);
        return answer;
    });
}

void GetInputs(BoardRegistry& boards, const ExchangePtr& ex) {
    BoardOwner& owner = BoardOf(boards, ex);
    if (!Fresh(ex)) {
        const BoardView view = owner.View();
        Json o = BoardHeadJson(view);
        Merge(o, InputsJson(CachedRecords(view).inputs));
        o["age_ms"] = AgeMs(view.inputsAt);
        ex->reply(JsonResponse(o));
        return;
    }
    OnBoard(ex, owner, "read_inputs", [&owner](Board& b) -> Result<Json> {
        auto mask = b.ReadInputs();
        if (!mask) return Failure{mask.error()};
        owner.NoteInputs(*mask);
        Json o = BoardHeadJson(owner.View());
        Merge(o, InputsJson(*mask));
        o["age_ms"] = 0;
        return o;
    });
}

void GetSupply(BoardRegistry& boards, const ExchangePtr& ex) {
    BoardOwner& owner = BoardOf(boards, ex);
    if (!Fresh(ex)) {
        const BoardView view = owner.View();
        Json o = BoardHeadJson(view);
        o["supply"] = cli::SupplyJson(CachedRecords(view).vccRaw);
        o["age_ms"] = AgeMs(view.supplyAt);
        ex->reply(JsonResponse(o));
        return;
    }
    OnBoard(ex, owner, "read_supply", [&owner](Board& b) -> Result<Json> {
        auto supply = b.ReadSupply();
        if (!supply) return Failure{supply.error()};
        owner.NoteSupply(supply->raw);
        Json o = BoardHeadJson(owner.View());
        o["supply"] = cli::SupplyJson(supply->raw);
        o["age_ms"] = 0;
        return o;
    });
}

void GetConfig(BoardRegistry& boards, const ExchangePtr& ex) {
    BoardOwner& owner = BoardOf(boards, ex);
    if (!Fresh(ex)) {
        const BoardView view = owner.View();
        Json o = BoardHeadJson(view);
        o["config"] = cli::ConfigJson(CachedRecords(view).config);
        ex->reply(JsonResponse(o));
        return;
    }
    OnBoard(ex, owner, "read_config", [&owner](Board& b) -> Result<Json> {
        auto config = b.ReadConfig();
        if (!config) return Failure{config.error()};
        owner.NoteConfig(*config);
        Json o = BoardHeadJson(owner.View());
        o["config"] = cli::ConfigJson(*config);
        return o;
    });
}

// The rates to look for a board at after a reset: the one it will restart at first.
std::vector<int32_t> RatesFirst(int32_t first) {
    std::vector<int32_t> rates{first};
    for (int32_t r : ScanRequest::AllRates())
        if (r != first) rates.push_back(r);
    return rates;
}

void PutConfig(BoardRegistry& boards, const ExchangePtr& ex) {
    BoardOwner& owner = BoardOf(boards, ex);
    const Json body =
        ParseBody(ex->request, {"baud", "baud_index", "error_report_off", "error_report_delay",
                                "retry_off", "retry_delay", "keep_relays", "reset"});
    const auto baud = IntegerMember(body, "baud", 0, 1000000);
    const auto baudIndex = IntegerMember(body, "baud_index", 0, board::kBaudRateCount - 1);
    if (baud && !board::RateIndex(int32_t(*baud)))
        throw HttpProblem(http::status::bad_request,
                          "\"baud\" " + std::to_string(*baud) + " is not a rate of the board");
    if (baud && baudIndex)
        throw HttpProblem(http::status::bad_request, "give \"baud\" or \"baud_index\", not both");
    const auto errorOff = BoolMember(body, "error_report_off");
    const auto errorDelay = IntegerMember(body, "error_report_delay", 0, 65535);
    const auto retryOff = BoolMember(body, "retry_off");
    const auto retryDelay = IntegerMember(body, "retry_delay", 0, 65535);
    const auto keep = BoolMember(body, "keep_relays");
    const bool reset = BoolMember(body, "reset").value_or(false);
    LogChange(Who(ex), Where(owner) + ": configuration " +
                           QJsonDocument(body).toJson(QJsonDocument::Compact).toStdString());
    OnBoard(ex, owner, reset ? "write_config_reset" : "write_config",
            [=, &owner](Board& b) -> Result<Json> {
                // What is not given stays as the board has it.
                auto current = b.ReadConfig();
                if (!current) return Failure{current.error()};
                ConfigValues v = ConfigValuesOf(*current);
                if (baud) v.baudIndex = *board::RateIndex(int32_t(*baud));
                if (baudIndex) v.baudIndex = int(*baudIndex);
                if (errorOff) v.ignoreErrors = *errorOff;
                if (errorDelay) v.errorDelay = int(*errorDelay);
                if (retryOff) v.noRetry = *retryOff;
                if (retryDelay) v.retryDelay = int(*retryDelay);
                if (keep) v.keepRelays = *keep;
                if (!board::RateOfIndex(v.baudIndex))
                    return Fail(BoardErrc::BadArgument,
                                "the board's stored rate is unknown: give \"baud\"");
                const Result<void> w = b.WriteConfig(v);
                if (!w) return Failure{w.error()};
                auto written = b.ReadConfig();
                if (!written) return Failure{written.error()};
                owner.NoteConfig(*written);
                if (reset) {
                    auto again = b.Reset(RatesFirst(*board::RateOfIndex(v.baudIndex)));
                    if (!again) return Failure{again.error()};
                    owner.NoteFound(*again);
                    auto records = b.ReadState();
                    if (records) owner.NoteRecords(*records);
                }
                Json o = BoardHeadJson(owner.View());
                o["config"] = cli::ConfigJson(*written);
                o["reset"] = reset;
                return o;
            });
}

void PostReset(BoardRegistry& boards, const ExchangePtr& ex) {
    BoardOwner& owner = BoardOf(boards, ex);
    ParseBody(ex->request, {});
    LogChange(Who(ex), Where(owner) + ": reset");
    OnBoard(ex, owner, "reset", [&owner](Board& b) -> Result<Json> {
        const BoardView before = owner.View();
        const int32_t stored =
            before.records ? board::RateOfIndex(before.records->config[0]).value_or(0) : 0;
        const int32_t now = before.identity ? before.identity->baud : 0;
        auto again = b.Reset(RatesFirst(stored ? stored : now ? now : 9600));
        if (!again) return Failure{again.error()};
        owner.NoteFound(*again);
        auto records = b.ReadState();
        if (records) owner.NoteRecords(*records);
        Json o = BoardHeadJson(owner.View());
        o["baud"] = again->baud;
        o["firmware"] =
            records ? QJsonValue(QString::fromStdString(AnsiToUtf8(records->firmwareVersion)))
                    : QJsonValue();
        return o;
    });
}

void PostFirmware(BoardRegistry& boards, const ExchangePtr& ex) {
    BoardOwner& owner = BoardOf(boards, ex);
    const std::string& body = ex->request.body();
    if (body.size() != kFirmwareImageSize)
        throw HttpProblem(http::status::bad_request,
                          std::string(kWrongSizeText) + " (" + std::to_string(body.size()) +
                              " bytes; an image has " + std::to_string(kFirmwareImageSize) + ")");
    TFirmwareImage image{};
    std::copy(body.begin(), body.end(), image.begin());
    const std::string version = FindImageVersion(image);
    if (version.empty()) throw HttpProblem(http::status::bad_request, std::string(kNoVersionText));
    WriteImageChecksum(image);
    const bool bootloader = ex->Query("bootloader") == "1";
    LogChange(Who(ex), Where(owner) + ": firmware " + AnsiToUtf8(version) +
                           (bootloader ? " through the bootloader" : ""));
    auto job = owner.Flash(image, bootloader, boards.NextJobId());
    if (!job) {
        ex->reply(ErrorResponse(job.error(), owner));
        return;
    }
    boards.AddJob(*job);
    Response res = JsonResponse((*job)->Json(), http::status::accepted);
    res.set(http::field::location, "/api/v1/jobs/" + (*job)->Id());
    ex->reply(std::move(res));
}

void GetJob(BoardRegistry& boards, const ExchangePtr& ex) {
    const auto job = boards.FindJob(ex->params.at(0));
    if (!job) throw HttpProblem(http::status::not_found, "no job \"" + ex->params.at(0) + "\"");
    ex->reply(JsonResponse(job->Json()));
}

void Events(const ExchangePtr& ex) {
    CheckOrigin(ex->request, ex->tls);
    std::optional<uint64_t> last;
    const std::string header(ex->request["Last-Event-ID"]);
    if (!header.empty()) {
        uint64_t n = 0;
        const auto [end, ec] = std::from_chars(header.data(), header.data() + header.size(), n);
        if (ec != std::errc() || end != header.data() + header.size())
            throw HttpProblem(http::status::bad_request, "Last-Event-ID must be an event's number");
        last = n;
    }
    ex->startEvents(last);
}

}  // namespace

http::status StatusOf(BoardErrc code) {
    switch (code) {
        case BoardErrc::NoAnswer:
            return http::status::gateway_timeout;
        case BoardErrc::BadArgument:
            return http::status::bad_request;
        case BoardErrc::Busy:
        case BoardErrc::OtherBoard:
            return http::status::conflict;
        case BoardErrc::LineLost:
        case BoardErrc::PortInUse:
        case BoardErrc::PortMissing:
        case BoardErrc::NoPermission:
        case BoardErrc::PortFailed:
        case BoardErrc::NotConnected:
        case BoardErrc::Overloaded:
        case BoardErrc::Stopped:
        case BoardErrc::Shutdown:
            break;
    }
    return http::status::service_unavailable;
}

void AddApiRoutes(Router& router, BoardRegistry& boards, Metrics& metrics,
                  boost::asio::io_context& io) {
    using http::verb;
    auto& b = boards;
    const std::string board = "/api/v1/boards/{}";
    router.Add(verb::get, "/healthz", Role::None, [](const ExchangePtr& ex) {
        ex->reply(TextResponse("ok\n", "text/plain; charset=utf-8"));
    });
    router.Add(verb::get, "/metrics", Role::Viewer, [&b, &metrics](const ExchangePtr& ex) {
        std::map<std::string, bool> up;
        for (const auto& owner : b.Boards()) up[owner->Id()] = owner->State() == BoardState::Online;
        ex->reply(TextResponse(metrics.Render(up), "text/plain; version=0.0.4; charset=utf-8"));
    });
    // Who the service takes the caller for: lets a page show what its role may do.
    router.Add(verb::get, "/api/v1/me", Role::None, [](const ExchangePtr& ex) {
        ex->reply(JsonResponse(Json{{"name", QString::fromStdString(ex->caller.name)},
                                    {"role", RoleName(ex->caller.role)}}));
    });
    router.Add(verb::get, "/api/v1/boards", Role::Viewer,
               [&b](const ExchangePtr& ex) { ListBoards(b, ex); });
    router.Add(verb::get, board, Role::Viewer, [&b](const ExchangePtr& ex) { BoardInfo(b, ex); });
    router.Add(verb::get, board + "/relays", Role::Viewer,
               [&b](const ExchangePtr& ex) { GetRelays(b, ex); });
    router.Add(verb::put, board + "/relays", Role::Operator,
               [&b](const ExchangePtr& ex) { PutRelays(b, ex); });
    router.Add(verb::put, board + "/relays/{}", Role::Operator,
               [&b](const ExchangePtr& ex) { PutRelay(b, ex); });
    router.Add(verb::post, board + "/relays/{}/pulse", Role::Operator,
               [&b, &io](const ExchangePtr& ex) { Pulse(b, io, ex); });
    router.Add(verb::get, board + "/inputs", Role::Viewer,
               [&b](const ExchangePtr& ex) { GetInputs(b, ex); });
    router.Add(verb::get, board + "/supply", Role::Viewer,
               [&b](const ExchangePtr& ex) { GetSupply(b, ex); });
    router.Add(verb::get, board + "/config", Role::Viewer,
               [&b](const ExchangePtr& ex) { GetConfig(b, ex); });
    router.Add(verb::put, board + "/config", Role::Admin,
               [&b](const ExchangePtr& ex) { PutConfig(b, ex); });
    router.Add(verb::post, board + "/reset", Role::Admin,
               [&b](const ExchangePtr& ex) { PostReset(b, ex); });
    router.Add(
        verb::post, board + "/firmware", Role::Admin,
        [&b](const ExchangePtr& ex) { PostFirmware(b, ex); }, kFirmwareImageSize);
    router.Add(verb::get, "/api/v1/jobs/{}", Role::Viewer,
               [&b](const ExchangePtr& ex) { GetJob(b, ex); });
    router.Add(verb::get, "/api/v1/events", Role::Viewer,
               [](const ExchangePtr& ex) { Events(ex); });
}

}  // namespace swb808::service
