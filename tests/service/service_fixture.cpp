#include "tests/service/service_fixture.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>

namespace swb808::service::test {

namespace {

using Clock = std::chrono::steady_clock;
namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;

std::string MakeTempDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "swb808-service-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    return pattern;
}

std::string Lower(std::string s) {
    for (auto& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

// --- ServiceProcess ---

namespace {

std::vector<std::string> DaemonArgv(const std::vector<std::string>& args) {
    std::vector<std::string> argv{SWB808D_EXE};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

}  // namespace

ServiceProcess::ServiceProcess(const std::vector<std::string>& args,
                               const std::map<std::string, std::string>& env)
    : process_(DaemonArgv(args), env) {}

uint16_t ServiceProcess::Port() {
    if (port_ == 0 && WaitForLog("listening on ", 20s)) {
        std::smatch m;
        const std::string log = Log();
        if (std::regex_search(log, m, std::regex(R"(listening on https?://[^ ]*:(\d+)/)")))
            port_ = uint16_t(std::stoi(m[1]));
    }
    return port_;
}

int ServiceProcess::Wait(std::chrono::milliseconds timeout) {
    const int status = process_.Wait(timeout);
    if (process_.KilledAtTimeout()) ADD_FAILURE() << "swb808d did not end in time; killed";
    return status;
}

// --- HTTP ---

HttpAnswer Http(uint16_t port, const std::string& method, const std::string& target,
                const std::string& body, const std::map<std::string, std::string>& headers) {
    HttpAnswer answer;
    try {
        net::io_context io;
        beast::tcp_stream stream(io);
        stream.expires_after(60s);
        stream.connect(net::ip::tcp::endpoint(net::ip::make_address("127.0.0.1"), port));
        http::request<http::string_body> req{http::string_to_verb(method), target, 11};
        req.set(http::field::host, "127.0.0.1:" + std::to_string(port));
        for (const auto& [k, v] : headers) req.set(k, v);
        req.body() = body;
        if (!body.empty() || method == "PUT" || method == "POST") req.prepare_payload();
        http::write(stream, req);
        beast::flat_buffer buffer;
        http::response_parser<http::string_body> parser;
        parser.body_limit(16 * 1024 * 1024);
        beast::error_code ec;
        http::read(stream, buffer, parser, ec);
        if (ec && !parser.is_header_done()) return answer;
        const auto& res = parser.get();
        answer.status = int(res.result_int());
        for (const auto& f : res)
            answer.headers[Lower(std::string(f.name_string()))] = std::string(f.value());
        answer.body = res.body();
    } catch (const std::exception&) {
    }
    return answer;
}

// --- EventClient ---

EventClient::EventClient(uint16_t port, const std::map<std::string, std::string>& headers,
                         int receiveBuffer) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (receiveBuffer > 0)
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd_);
        fd_ = -1;
        return;
    }
    std::string req = "GET /api/v1/events HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                      "\r\nAccept: text/event-stream\r\n";
    for (const auto& [k, v] : headers) req += k + ": " + v + "\r\n";
    req += "\r\n";
    (void)!::write(fd_, req.data(), req.size());
}

EventClient::~EventClient() {
    if (fd_ >= 0) ::close(fd_);
}

bool EventClient::Fill(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0 || fd_ < 0) return false;
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, int(left.count())) <= 0) return false;
    char buf[16384];
    const ssize_t n = ::read(fd_, buf, sizeof buf);
    if (n <= 0) {
        ::close(fd_);
        fd_ = -1;
        return false;
    }
    buffer_.append(buf, size_t(n));
    return true;
}

int EventClient::Status() {
    const auto deadline = Clock::now() + 10s;
    while (!headerDone_) {
        const auto end = buffer_.find("\r\n\r\n");
        if (end != std::string::npos) {
            std::smatch m;
            const std::string head = buffer_.substr(0, end);
            if (std::regex_search(head, m, std::regex(R"(^HTTP/1\.1 (\d+))")))
                status_ = std::stoi(m[1]);
            buffer_.erase(0, end + 4);
            headerDone_ = true;
            break;
        }
        if (!Fill(deadline)) break;
    }
    return status_;
}

std::optional<EventClient::Event> EventClient::Next(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    if (Status() != 200) return std::nullopt;
    for (;;) {
        const auto end = buffer_.find("\n\n");
        if (end != std::string::npos) {
            const std::string block = buffer_.substr(0, end);
            buffer_.erase(0, end + 2);
            Event e;
            bool hasData = false;
            std::size_t start = 0;
            while (start <= block.size()) {
                auto nl = block.find('\n', start);
                if (nl == std::string::npos) nl = block.size();
                const std::string line = block.substr(start, nl - start);
                if (line.rfind("id: ", 0) == 0) e.id = std::stoull(line.substr(4));
                if (line.rfind("data: ", 0) == 0) {
                    e.data =
                        QJsonDocument::fromJson(QByteArray::fromStdString(line.substr(6))).object();
                    hasData = true;
                }
                start = nl + 1;
            }
            if (hasData) return e;
            continue;
        }
        if (!Fill(deadline)) return std::nullopt;
    }
}

bool EventClient::NextPing(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    if (Status() != 200) return false;
    for (;;) {
        const auto at = ("\n\n" + buffer_).find("\n\n: ping\n\n");
        if (at != std::string::npos) {
            buffer_.erase(0, at + 8);
            return true;
        }
        if (!Fill(deadline)) return false;
    }
}

std::optional<EventClient::Event> EventClient::NextOfType(const std::string& type,
                                                          std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
        auto e =
            Next(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()));
        if (!e) return std::nullopt;
        if (e->data["type"].toString().toStdString() == type) return e;
    }
    return std::nullopt;
}

std::vector<EventClient::Event> EventClient::ReadToEnd(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    std::vector<Event> all;
    while (auto e =
               Next(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())))
        all.push_back(*e);
    return all;
}

// --- ServiceTest ---

ServiceTest::ServiceTest() : dir_(MakeTempDir()) {}

ServiceTest::~ServiceTest() {
    service_.reset();
    boards_.clear();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

sim::BoardSimulator& ServiceTest::Board(int com, sim::BoardOptions options) {
    boards_.erase(com);  // the board before it goes first: its link must not outlive it
    options.link = ports_.ComPath(com);
    auto board = std::make_unique<sim::BoardSimulator>(std::move(options));
    board->Start();
    auto& ref = *board;
    boards_[com] = std::move(board);
    return ref;
}

std::vector<std::string> ServiceTest::BoardArgs() const {
    std::vector<std::string> args;
    for (const auto& [com, board] : boards_) {
        args.push_back("--port");
        args.push_back("COM" + std::to_string(com));
    }
    return args;
}

ServiceProcess& ServiceTest::StartService(const std::vector<std::string>& args) {
    std::vector<std::string> all{"--listen", "127.0.0.1:0"};
    all.insert(all.end(), args.begin(), args.end());
    service_ = std::make_unique<ServiceProcess>(
        all, std::map<std::string, std::string>{{"XDG_STATE_HOME", dir_ + "/state"},
                                                {"XDG_RUNTIME_DIR", dir_}});
    service_->Port();
    return *service_;
}

void ServiceTest::StopService(int sig) {
    if (!service_) return;
    service_->Signal(sig);
    EXPECT_EQ(service_->Wait(), 0) << service_->Log();
}

std::string ServiceTest::BoardId(int com) {
    const auto boards = Get("/api/v1/boards").Json()["boards"].toArray();
    for (const auto& b : boards)
        if (b.toObject()["port"].toString() == QString("COM%1").arg(com))
            return b.toObject()["id"].toString().toStdString();
    return {};
}

bool ServiceTest::WaitForState(int com, const std::string& state,
                               std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
        const auto boards = Get("/api/v1/boards").Json()["boards"].toArray();
        for (const auto& b : boards)
            if (b.toObject()["port"].toString() == QString("COM%1").arg(com) &&
                b.toObject()["state"].toString().toStdString() == state)
                return true;
        std::this_thread::sleep_for(50ms);
    }
    return false;
}

std::vector<uint8_t> ServiceTest::Commands(const sim::BoardSimulator& board) {
    std::vector<uint8_t> codes;
    for (const auto& f : board.FramesReceived()) codes.push_back(f.command);
    return codes;
}

int ServiceTest::CountFrames(const sim::BoardSimulator& board, uint8_t command) {
    int n = 0;
    for (const auto& f : board.FramesReceived()) n += f.command == command;
    return n;
}

uint8_t ServiceTest::RelaysOnceThey(const sim::BoardSimulator& board, uint8_t mask) {
    for (int i = 0; i < 500 && board.Relays() != mask; ++i) std::this_thread::sleep_for(10ms);
    return board.Relays();
}

int ServiceTest::FramesOnceThey(const sim::BoardSimulator& board, uint8_t command, int count) {
    for (int i = 0; i < 500 && CountFrames(board, command) < count; ++i)
        std::this_thread::sleep_for(10ms);
    return CountFrames(board, command);
}

std::string ServiceTest::WriteFile(const std::string& name, const std::string& content,
                                   int mode) const {
    const std::string path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
    ::chmod(path.c_str(), mode_t(mode));
    return path;
}

sim::BoardOptions Options(unsigned baud, uint8_t relays, uint8_t inputs,
                          const std::string& identity) {
    sim::BoardOptions o;
    o.baud = baud;
    o.relays = relays;
    o.inputs = inputs;
    if (!identity.empty()) o.identity = identity;
    return o;
}

std::string MakeImage(const std::string& version, uint8_t fill) {
    // Every block differs from the others, so a block written twice or out of place shows.
    std::string image(6144, '\0');
    for (size_t i = 0; i < image.size(); ++i) image[i] = char(uint8_t(fill + i / 64 * 7 + i % 64));
    std::memcpy(image.data() + 95, version.data(), std::min<size_t>(version.size(), 5));
    std::memcpy(image.data() + 100, "WXYZVERSION", 11);
    uint16_t sum = 0;
    for (size_t i = 0; i + 2 < image.size(); ++i) sum = uint16_t(sum + uint8_t(image[i]));
    image[6142] = char(sum & 0xFF);
    image[6143] = char(sum >> 8);
    return image;
}

}  // namespace swb808::service::test
