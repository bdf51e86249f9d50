#pragma once

// The HTTP API on a Unix stream socket, for programs on this machine: swb808ctl goes through
// it while the service holds the board it wants. The file's mode 0660 and group dialout are
// the access control (whoever may open a serial port may use it), so its callers count as
// admin; the change log names them by their uid and pid. The file is made by Listen and
// removed by Stop, if it is still the one made.

#include <boost/asio/io_context.hpp>
#include <boost/asio/local/stream_protocol.hpp>

#include <sys/types.h>
#include <string>

#include "service/server_context.h"

namespace swb808::service {

inline constexpr const char* kSocketGroup = "dialout";

class LocalSocketServer {
  public:
    LocalSocketServer(boost::asio::io_context& io, ServerContext& context);
    ~LocalSocketServer();  // Stop()
    LocalSocketServer(const LocalSocketServer&) = delete;
    LocalSocketServer& operator=(const LocalSocketServer&) = delete;

    // A socket file nobody answers on (left by a service that was killed) is replaced; one
    // that answers belongs to another service. Throws std::runtime_error with the reason.
    void Listen(const std::string& path);
    void Stop();

  private:
    void Accept();
    void RemoveFile();

    boost::asio::io_context& io_;
    ServerContext& context_;
    boost::asio::local::stream_protocol::acceptor acceptor_;
    std::string path_;  // empty: no file of ours
    dev_t device_ = 0;
    ino_t inode_ = 0;
};

}  // namespace swb808::service
