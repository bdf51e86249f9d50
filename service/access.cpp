#include "service/access.h"

#include "service/problem.h"

namespace swb808::service {

AccessPolicy::AccessPolicy(std::shared_ptr<const TokenStore> tokens, bool allowLocalWrites)
    : tokens_(std::move(tokens)), allowLocalWrites_(allowLocalWrites) {}

Caller AccessPolicy::Identify(const Request& request) const {
    if (!tokens_) return {"local", allowLocalWrites_ ? Role::Admin : Role::Viewer};
    const auto header = request.find(http::field::authorization);
    if (header == request.end()) return {"anonymous", Role::None};
    const std::string_view value = header->value();
    constexpr std::string_view kScheme = "Bearer ";
    if (value.size() <= kScheme.size() ||
        !boost::beast::iequals(value.substr(0, kScheme.size()), kScheme))
        throw HttpProblem(http::status::unauthorized, "expected \"Authorization: Bearer <token>\"");
    const TokenEntry* entry = tokens_->Find(value.substr(kScheme.size()));
    if (!entry) throw HttpProblem(http::status::unauthorized, "unknown token");
    return {entry->name, entry->role};
}

void AccessPolicy::Require(const Caller& caller, Role needed) const {
    if (caller.role >= needed) return;
    if (caller.role == Role::None)
        throw HttpProblem(http::status::unauthorized, "a token is needed (Authorization: Bearer)");
    if (!tokens_)
        throw HttpProblem(
            http::status::forbidden,
            "writes are off: start swb808d with --allow-local-writes or a tokens file");
    throw HttpProblem(http::status::forbidden, std::string("the role ") + RoleName(caller.role) +
                                                   " may not do this; it needs " +
                                                   RoleName(needed));
}

void CheckOrigin(const Request& request, bool tls) {
    const auto origin = request.find(http::field::origin);
    if (origin == request.end()) return;
    const auto host = request.find(http::field::host);
    const std::string own = std::string(tls ? "https://" : "http://") +
                            (host == request.end() ? std::string() : std::string(host->value()));
    if (host == request.end() || !boost::beast::iequals(origin->value(), own))
        throw HttpProblem(http::status::forbidden,
                          "requests from another site's page are refused (Origin " +
                              std::string(origin->value()) + ")");
}

}  // namespace swb808::service
