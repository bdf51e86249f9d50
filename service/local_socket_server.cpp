#include "service/local_socket_server.h"

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <vector>

#include "service/http_session.h"
#include "service/log.h"
#include "service/peer_credentials.h"

namespace swb808::service {

namespace {

namespace net = boost::asio;
using local = net::local::stream_protocol;

// A socket file is stale only when the kernel says nobody listens on it; a full backlog is
// someone listening, and a file we may not connect to is not ours to judge.
void RemoveStaleFile(net::io_context& io, const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return;  // nothing there
    if (!S_ISSOCK(st.st_mode))
        throw std::runtime_error("cannot listen on " + path + ": it exists and is not a socket");
    local::socket probe(io);
    boost::system::error_code ec;
    probe.open(local(), ec);
    if (!ec) probe.non_blocking(true, ec);
    if (!ec) probe.connect(local::endpoint(path), ec);
    if (ec != net::error::connection_refused) {
        if (!ec || ec == net::error::would_block || ec == net::error::try_again)
            throw std::runtime_error("another swb808d answers on " + path +
                                     " (give this one --socket PATH or --no-socket)");
        throw std::runtime_error("cannot listen on " + path + ": " + ec.message());
    }
    LogInfo("replacing the stale socket " + path + " (nothing answers on it)");
    ::unlink(path.c_str());
}

std::optional<gid_t> GroupId(const char* name) {
    group entry{};
    group* found = nullptr;
    std::vector<char> buffer(16 * 1024);
    if (::getgrnam_r(name, &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
        return std::nullopt;
    return found->gr_gid;
}

// Mode first, so that the file is never more open than meant; then the group, when it exists
// and this process may give the file to it.
void RestrictAccess(const std::string& path) {
    if (::chmod(path.c_str(), 0660) != 0)
        throw std::runtime_error("cannot set the mode of " + path + ": " + std::strerror(errno));
    const auto gid = GroupId(kSocketGroup);
    if (!gid) {
        LogWarning(std::string("there is no group ") + kSocketGroup + ": the socket " + path +
                   " stays in the service's own group");
        return;
    }
    if (::chown(path.c_str(), uid_t(-1), *gid) != 0)
        LogWarning("the socket " + path + " stays in the service's own group: cannot give it to " +
                   kSocketGroup + ": " + std::strerror(errno));
}

std::string PeerName(const std::optional<PeerCredentials>& peer) {
    if (!peer) return "socket (peer unknown)";
    return "socket uid " + std::to_string(peer->uid) + " pid " + std::to_string(peer->pid);
}

}  // namespace

LocalSocketServer::LocalSocketServer(net::io_context& io, ServerContext& context)
    : io_(io), context_(context), acceptor_(io) {}

LocalSocketServer::~LocalSocketServer() {
    Stop();
}

void LocalSocketServer::Listen(const std::string& path) {
    RemoveStaleFile(io_, path);
    boost::system::error_code ec;
    acceptor_.open(local(), ec);
    if (!ec) acceptor_.bind(local::endpoint(path), ec);
    if (ec) throw std::runtime_error("cannot listen on " + path + ": " + ec.message());
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
        path_ = path;
        device_ = st.st_dev;
        inode_ = st.st_ino;
    }
    RestrictAccess(path);
    acceptor_.listen(net::socket_base::max_listen_connections, ec);
    if (ec) throw std::runtime_error("cannot listen on " + path + ": " + ec.message());
    Accept();
}

void LocalSocketServer::Stop() {
    boost::system::error_code ec;
    acceptor_.close(ec);
    RemoveFile();
}

void LocalSocketServer::RemoveFile() {
    if (path_.empty()) return;
    // Only the file made here: a service started since may have put its own there.
    struct stat st {};
    if (::lstat(path_.c_str(), &st) == 0 && st.st_dev == device_ && st.st_ino == inode_)
        ::unlink(path_.c_str());
    path_.clear();
}

void LocalSocketServer::Accept() {
    acceptor_.async_accept([this](boost::system::error_code ec, local::socket socket) {
        if (ec == net::error::operation_aborted) return;
        if (!ec) {
            const Caller caller{PeerName(PeerOf(socket.native_handle())), Role::Admin};
            std::make_shared<HttpSession<UnixStream>>(UnixStream(std::move(socket)), context_,
                                                      caller)
                ->Start();
        } else {
            LogWarning("accept on the socket: " + ec.message());
        }
        if (acceptor_.is_open()) Accept();
    });
}

}  // namespace swb808::service
