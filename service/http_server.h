#pragma once

// The listening socket: plain HTTP, or HTTPS when a certificate and key are given.

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>

#include <memory>
#include <optional>
#include <string>

#include "service/server_context.h"

namespace swb808::service {

class HttpServer {
  public:
    HttpServer(boost::asio::io_context& io, ServerContext& context);

    // Throws std::runtime_error (address in use, unreadable certificate, ...).
    void EnableTls(const std::string& certFile, const std::string& keyFile);
    void Listen(const std::string& host, uint16_t port);
    uint16_t Port() const;  // the one bound, also when 0 was asked
    void Stop();

  private:
    void Accept();

    boost::asio::io_context& io_;
    ServerContext& context_;
    boost::asio::ip::tcp::acceptor acceptor_;
    std::optional<boost::asio::ssl::context> tls_;
};

}  // namespace swb808::service
