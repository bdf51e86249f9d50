#include "tests/mqtt/mqtt_fixture.h"

#include <mosquitto.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <filesystem>
#include <fstream>

namespace swb808::mqtt::test {

namespace {

using Clock = std::chrono::steady_clock;
constexpr const char* kPassword = "secret";

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::trunc) << text;
}

bool CanConnect(uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

}  // namespace

uint16_t FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

// --- Broker ---

Broker::Broker(const std::string& dir) : dir_(dir), port_(FreePort()) {}

bool Broker::Installed() {
    return ::access(MOSQUITTO_EXE, X_OK) == 0 && ::access(MOSQUITTO_PASSWD_EXE, X_OK) == 0;
}

void Broker::Configure() {
    const std::string passwords = dir_ + "/passwords";
    for (const char* user : {"service", "operator", "viewer"}) {
        std::vector<std::string> argv{MOSQUITTO_PASSWD_EXE, "-b"};
        if (!std::filesystem::exists(passwords)) argv.push_back("-c");
        argv.insert(argv.end(), {passwords, user, kPassword});
        Process(argv).Wait();
    }
    WriteText(dir_ + "/acl",
              "user service\ntopic readwrite swb808/#\ntopic readwrite homeassistant/#\n\n"
              "user operator\ntopic readwrite #\n\n"
              "user viewer\ntopic read #\n");
    WriteText(dir_ + "/mosquitto.conf",
              "listener " + std::to_string(port_) + " 127.0.0.1\n" +
                  "allow_anonymous false\npassword_file " + passwords + "\nacl_file " + dir_ +
                  "/acl\npersistence false\nuser root\nlog_dest stderr\nset_tcp_nodelay true\n");
    std::filesystem::permissions(passwords, std::filesystem::perms(0644));
}

void Broker::Start() {
    if (!std::filesystem::exists(dir_ + "/mosquitto.conf")) Configure();
    process_ = std::make_unique<Process>(
        std::vector<std::string>{MOSQUITTO_EXE, "-c", dir_ + "/mosquitto.conf"});
    const auto deadline = Clock::now() + 10s;
    while (!CanConnect(port_) && Clock::now() < deadline) std::this_thread::sleep_for(20ms);
}

void Broker::Stop() {
    if (!process_) return;
    process_->Signal(SIGTERM);
    process_->Wait(10s);
    process_.reset();
}

// --- Client ---

Client::Client(uint16_t port, const std::string& user, const std::string& id) {
    mosquitto_lib_init();
    mosq_ = mosquitto_new(id.c_str(), true, this);
    mosquitto_username_pw_set(mosq_, user.c_str(), kPassword);
    mosquitto_int_option(mosq_, MOSQ_OPT_TCP_NODELAY, 1);
    mosquitto_connect_callback_set(mosq_, [](mosquitto*, void* self, int rc) {
        auto* c = static_cast<Client*>(self);
        const std::lock_guard lock(c->mutex_);
        c->connected_ = rc == 0;
        c->changed_.notify_all();
    });
    mosquitto_subscribe_callback_set(mosq_, [](mosquitto*, void* self, int, int, const int*) {
        auto* c = static_cast<Client*>(self);
        const std::lock_guard lock(c->mutex_);
        ++c->acked_;
        c->changed_.notify_all();
    });
    mosquitto_publish_callback_set(mosq_, [](mosquitto*, void* self, int) {
        auto* c = static_cast<Client*>(self);
        const std::lock_guard lock(c->mutex_);
        ++c->acked_;
        c->changed_.notify_all();
    });
    mosquitto_message_callback_set(mosq_, &Client::OnMessage);
    mosquitto_connect(mosq_, "127.0.0.1", port, 30);
    mosquitto_loop_start(mosq_);
}

Client::~Client() {
    mosquitto_disconnect(mosq_);
    mosquitto_loop_stop(mosq_, false);
    mosquitto_destroy(mosq_);
}

void Client::OnMessage(mosquitto*, void* self, const mosquitto_message* m) {
    auto* c = static_cast<Client*>(self);
    const std::lock_guard lock(c->mutex_);
    c->received_.push_back(
        {m->topic, std::string(static_cast<const char*>(m->payload), size_t(m->payloadlen)),
         m->retain});
    c->changed_.notify_all();
}

bool Client::Connected(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [this] { return connected_; });
}

bool Client::Subscribe(const std::string& filter) {
    if (!Connected()) return false;
    std::unique_lock lock(mutex_);
    const int before = acked_;
    if (mosquitto_subscribe(mosq_, nullptr, filter.c_str(), 1) != MOSQ_ERR_SUCCESS) return false;
    return changed_.wait_for(lock, 10s, [&] { return acked_ > before; });
}

bool Client::Publish(const std::string& topic, const std::string& payload, bool retain, bool wait) {
    if (!Connected()) return false;
    std::unique_lock lock(mutex_);
    const int before = acked_;
    if (mosquitto_publish(mosq_, nullptr, topic.c_str(), int(payload.size()), payload.data(), 1,
                          retain) != MOSQ_ERR_SUCCESS)
        return false;
    if (!wait) return true;
    return changed_.wait_for(lock, 10s, [&] { return acked_ > before; });
}

std::optional<Message> Client::WaitFor(const std::string& topic, std::optional<std::string> payload,
                                       std::size_t from, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    std::optional<Message> found;
    changed_.wait_for(lock, timeout, [&] {
        for (std::size_t i = from; i < received_.size(); ++i)
            if (received_[i].topic == topic && (!payload || received_[i].payload == *payload)) {
                found = received_[i];
                return true;
            }
        return false;
    });
    return found;
}

std::vector<Message> Client::Received() const {
    const std::lock_guard lock(mutex_);
    return received_;
}

std::size_t Client::Count() const {
    const std::lock_guard lock(mutex_);
    return received_.size();
}

// --- MqttTest ---

namespace {

std::string MakeTempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "swb808-mqtt-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    std::filesystem::permissions(pattern, std::filesystem::perms(0755));
    return pattern;
}

}  // namespace

MqttTest::MqttTest() : dir_(MakeTempDir()), broker_(dir_) {}

void MqttTest::SetUp() {
    if (!Broker::Installed())
        GTEST_SKIP() << "mosquitto is not installed (Debian packages mosquitto, mosquitto-clients)";
    broker_.Start();
}

MqttTest::~MqttTest() {
    services_.clear();
    boards_.clear();
    broker_.Stop();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

sim::BoardSimulator& MqttTest::Board(int com, sim::BoardOptions options) {
    boards_.erase(com);
    options.link = ports_.ComPath(com);
    if (options.baud == 9600) options.baud = 115200;
    options.identity = "SWB808 Relaiskarte S/N " + std::to_string(1000 + com);
    auto board = std::make_unique<sim::BoardSimulator>(std::move(options));
    board->Start();
    auto& ref = *board;
    boards_[com] = std::move(board);
    return ref;
}

Process& MqttTest::StartService(const std::string& node, const std::vector<int>& coms,
                                const std::string& extraMqtt) {
    httpPort_ = FreePort();
    std::string conf =
        "[service]\nallow_local_writes = true\nlisten = 127.0.0.1:" + std::to_string(httpPort_) +
        "\n[mqtt]\nhost = 127.0.0.1:" + std::to_string(broker_.Port()) +
        "\nuser = service\npassword_file = " + dir_ + "/password\nnode = " + node +
        "\nkeepalive = 5\n" + extraMqtt + "\n";
    for (int com : coms)
        conf += "[board b" + std::to_string(com) + "]\nport = COM" + std::to_string(com) +
                "\nbaud = 115200\n";
    WriteText(dir_ + "/password", std::string(kPassword) + "\n");
    const std::string path = dir_ + "/" + node + ".conf";
    WriteText(path, conf);
    // Each node its own runtime directory: two services cannot share one local socket.
    const std::string runtime = dir_ + "/run-" + node;
    std::filesystem::create_directories(runtime);
    services_.push_back(std::make_unique<Process>(
        std::vector<std::string>{SWB808D_EXE, "--config", path},
        std::map<std::string, std::string>{{"XDG_STATE_HOME", dir_ + "/state-" + node},
                                           {"XDG_RUNTIME_DIR", runtime}}));
    return *services_.back();
}

int HttpPut(uint16_t port, const std::string& target, const std::string& body) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return 0;
    }
    const std::string request = "PUT " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" +
                                "Content-Type: application/json\r\nConnection: close\r\n" +
                                "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
                                body;
    (void)!::write(fd, request.data(), request.size());
    std::string answer;
    char buf[1024];
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) answer.append(buf, size_t(n));
    ::close(fd);
    return answer.size() > 12 ? std::atoi(answer.substr(9, 3).c_str()) : 0;
}

int MqttTest::CountFrames(const sim::BoardSimulator& board, uint8_t command) {
    int n = 0;
    for (const auto& f : board.FramesReceived()) n += f.command == command;
    return n;
}

std::vector<uint8_t> MqttTest::RelayWrites(const sim::BoardSimulator& board) {
    std::vector<uint8_t> masks;
    for (const auto& f : board.FramesReceived())
        if (f.command == 0xB2 && !f.payload.empty()) masks.push_back(f.payload[0]);
    return masks;
}

}  // namespace swb808::mqtt::test
