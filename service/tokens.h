#pragma once

// Access tokens: each has a name and a role. The tokens file keeps only their SHA-256, one
// "name role hex-digest" line each, readable by its owner alone; a token itself is shown once,
// when it is made.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace swb808::service {

// Each role may do what the ones below it may.
enum class Role { None, Viewer, Operator, Admin };
const char* RoleName(Role role);
std::optional<Role> RoleFromName(std::string_view name);

using TokenDigest = std::array<uint8_t, 32>;
TokenDigest DigestOf(std::string_view token);

struct TokenEntry {
    std::string name;
    Role role = Role::None;
    TokenDigest digest{};
};

class TokenStore {
  public:
    // Throws std::runtime_error with the reason: unreadable, a malformed line, or a file that
    // others than its owner may read.
    static TokenStore Load(const std::string& path);

    bool Empty() const { return entries_.empty(); }
    // The entry of `token`. Every entry is compared, in constant time, so the answer's timing
    // tells nothing about how much of a digest matched or which entry it was.
    const TokenEntry* Find(std::string_view token) const;

  private:
    std::vector<TokenEntry> entries_;
};

// Makes a token for `name`, appends its digest to the file (created with mode 0600; a name
// already there is replaced) and returns the token. Throws std::runtime_error.
std::string AddToken(const std::string& path, const std::string& name, Role role);

}  // namespace swb808::service
