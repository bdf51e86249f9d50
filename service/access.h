#pragma once

// Who is calling and what they may do. With a tokens file every API request carries
// "Authorization: Bearer <token>"; without one the service only listens on loopback, reads
// are open there and writes only with --allow-local-writes.

#include <memory>
#include <string>

#include "service/http_types.h"
#include "service/tokens.h"

namespace swb808::service {

struct Caller {
    std::string name;  // the token's name, "local" without tokens, "anonymous" without a header
    Role role = Role::None;
};

class AccessPolicy {
  public:
    // `tokens` null: no tokens file.
    AccessPolicy(std::shared_ptr<const TokenStore> tokens, bool allowLocalWrites);

    bool UsesTokens() const { return tokens_ != nullptr; }
    // Throws HttpProblem 401 for a token that is malformed or unknown.
    Caller Identify(const Request& request) const;
    // Throws HttpProblem: 401 when the caller gave no token, 403 when the role is too low.
    void Require(const Caller& caller, Role needed) const;

  private:
    std::shared_ptr<const TokenStore> tokens_;
    bool allowLocalWrites_;
};

// Writes and the event stream from a browser must come from the service's own page: an
// Origin header, when there is one, must be this service's scheme and host. Throws 403.
void CheckOrigin(const Request& request, bool tls);

}  // namespace swb808::service
