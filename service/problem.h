#pragma once

// Errors as application/problem+json: a status, its title and a text that says what was
// wrong. Handlers throw HttpProblem; the session turns it into the answer.

#include <optional>
#include <stdexcept>
#include <string>

#include "service/http_types.h"

namespace swb808::service {

class HttpProblem : public std::runtime_error {
  public:
    HttpProblem(http::status status, const std::string& detail,
                std::optional<int> retryAfterSeconds = std::nullopt)
        : std::runtime_error(detail), status_(status), retryAfter_(retryAfterSeconds) {}

    http::status Status() const { return status_; }
    std::optional<int> RetryAfter() const { return retryAfter_; }

  private:
    http::status status_;
    std::optional<int> retryAfter_;
};

Response ProblemResponse(http::status status, const std::string& detail,
                         std::optional<int> retryAfterSeconds = std::nullopt);
inline Response ProblemResponse(const HttpProblem& p) {
    return ProblemResponse(p.Status(), p.what(), p.RetryAfter());
}

}  // namespace swb808::service
