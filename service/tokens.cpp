#include "service/tokens.h"

#include <openssl/crypto.h>
#include <openssl/rand.h>
#include <openssl/sha.h>
#include <sys/stat.h>

#include <QByteArray>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace swb808::service {

namespace {

std::string Hex(const TokenDigest& d) {
    return QByteArray(reinterpret_cast<const char*>(d.data()), int(d.size())).toHex().toStdString();
}

std::optional<TokenDigest> FromHex(const std::string& text) {
    const QByteArray bytes = QByteArray::fromHex(QByteArray::fromStdString(text));
    if (text.size() != 64 || bytes.size() != 32) return std::nullopt;
    TokenDigest d{};
    std::copy(bytes.begin(), bytes.end(), d.begin());
    return d;
}

std::vector<TokenEntry> ReadEntries(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot read the tokens file " + path);
    std::vector<TokenEntry> entries;
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        std::string name, role, hex;
        fields >> name >> role >> hex;
        const auto r = RoleFromName(role);
        const auto d = FromHex(hex);
        if (name.empty() || !r || *r == Role::None || !d)
            throw std::runtime_error(path + ":" + std::to_string(number) +
                                     ": expected \"name role sha256-hex\"");
        entries.push_back({name, *r, *d});
    }
    return entries;
}

}  // namespace

const char* RoleName(Role role) {
    switch (role) {
        case Role::Viewer:
            return "viewer";
        case Role::Operator:
            return "operator";
        case Role::Admin:
            return "admin";
        case Role::None:
            break;
    }
    return "none";
}

std::optional<Role> RoleFromName(std::string_view name) {
    if (name == "viewer") return Role::Viewer;
    if (name == "operator") return Role::Operator;
    if (name == "admin") return Role::Admin;
    return std::nullopt;
}

TokenDigest DigestOf(std::string_view token) {
    TokenDigest d{};
    SHA256(reinterpret_cast<const unsigned char*>(token.data()), token.size(), d.data());
    return d;
}

TokenStore TokenStore::Load(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) throw std::runtime_error("no tokens file " + path);
    if (st.st_mode & (S_IRWXG | S_IRWXO))
        throw std::runtime_error("the tokens file " + path +
                                 " may be read by others; chmod 600 it");
    TokenStore store;
    store.entries_ = ReadEntries(path);
    return store;
}

const TokenEntry* TokenStore::Find(std::string_view token) const {
    const TokenDigest d = DigestOf(token);
    const TokenEntry* found = nullptr;
    for (const auto& e : entries_)
        if (CRYPTO_memcmp(e.digest.data(), d.data(), d.size()) == 0) found = &e;
    return found;
}

std::string AddToken(const std::string& path, const std::string& name, Role role) {
    if (name.empty() || name.find_first_of(" \t\n#") != std::string::npos)
        throw std::runtime_error("a token name is one word");
    std::vector<TokenEntry> entries;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) entries = ReadEntries(path);
    std::erase_if(entries, [&](const TokenEntry& e) { return e.name == name; });

    unsigned char raw[32];
    if (RAND_bytes(raw, sizeof raw) != 1) throw std::runtime_error("no random bytes for a token");
    const std::string token =
        "swb808_" + QByteArray(reinterpret_cast<const char*>(raw), sizeof raw)
                        .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals)
                        .toStdString();
    entries.push_back({name, role, DigestOf(token)});

    // Written beside the file and renamed over it, so a reader never sees half a file.
    const std::string temp = path + ".new";
    const mode_t old = ::umask(077);
    {
        std::ofstream out(temp, std::ios::trunc);
        if (!out) {
            ::umask(old);
            throw std::runtime_error("cannot write " + temp);
        }
        out << "# swb808d tokens: name role sha256 (the tokens themselves are not kept)\n";
        for (const auto& e : entries)
            out << e.name << ' ' << RoleName(e.role) << ' ' << Hex(e.digest) << '\n';
        if (!out.flush()) {
            ::umask(old);
            throw std::runtime_error("cannot write " + temp);
        }
    }
    ::umask(old);
    ::chmod(temp.c_str(), 0600);
    if (std::rename(temp.c_str(), path.c_str()) != 0)
        throw std::runtime_error("cannot replace " + path);
    return token;
}

}  // namespace swb808::service
