#include "service/http_server.h"

#include <stdexcept>

#include "service/http_session.h"
#include "service/log.h"

namespace swb808::service {

namespace net = boost::asio;
using tcp = net::ip::tcp;

HttpServer::HttpServer(net::io_context& io, ServerContext& context)
    : io_(io), context_(context), acceptor_(io) {}

void HttpServer::EnableTls(const std::string& certFile, const std::string& keyFile) {
    tls_.emplace(net::ssl::context::tls_server);
    tls_->set_options(net::ssl::context::default_workarounds | net::ssl::context::no_sslv2 |
                      net::ssl::context::no_sslv3 | net::ssl::context::no_tlsv1 |
                      net::ssl::context::no_tlsv1_1 | net::ssl::context::single_dh_use);
    boost::system::error_code ec;
    tls_->use_certificate_chain_file(certFile, ec);
    if (ec) throw std::runtime_error("TLS certificate " + certFile + ": " + ec.message());
    tls_->use_private_key_file(keyFile, net::ssl::context::pem, ec);
    if (ec) throw std::runtime_error("TLS key " + keyFile + ": " + ec.message());
    context_.tls = true;
}

void HttpServer::Listen(const std::string& host, uint16_t port) {
    const tcp::endpoint endpoint(net::ip::make_address(host), port);
    boost::system::error_code ec;
    acceptor_.open(endpoint.protocol(), ec);
    if (!ec) acceptor_.set_option(net::socket_base::reuse_address(true), ec);
    if (!ec) acceptor_.bind(endpoint, ec);
    if (!ec) acceptor_.listen(net::socket_base::max_listen_connections, ec);
    if (ec)
        throw std::runtime_error("cannot listen on " + host + ":" + std::to_string(port) + ": " +
                                 ec.message());
    Accept();
}

uint16_t HttpServer::Port() const {
    boost::system::error_code ec;
    return acceptor_.local_endpoint(ec).port();
}

void HttpServer::Stop() {
    boost::system::error_code ec;
    acceptor_.close(ec);
}

void HttpServer::Accept() {
    acceptor_.async_accept([this](boost::system::error_code ec, tcp::socket socket) {
        if (ec == net::error::operation_aborted) return;
        if (!ec) {
            boost::system::error_code ignored;
            socket.set_option(tcp::no_delay(true), ignored);
            if (tls_)
                std::make_shared<HttpSession<TlsStream>>(TlsStream(std::move(socket), *tls_),
                                                         context_)
                    ->Start();
            else
                std::make_shared<HttpSession<PlainStream>>(PlainStream(std::move(socket)), context_)
                    ->Start();
        } else {
            LogWarning("accept: " + ec.message());
        }
        Accept();
    });
}

}  // namespace swb808::service
