#include "service/router.h"

#include <QByteArray>

namespace swb808::service {

namespace {

std::vector<std::string> Split(std::string_view path) {
    std::vector<std::string> parts;
    std::size_t start = 1;
    if (path.empty() || path[0] != '/') return parts;
    while (start <= path.size()) {
        const auto slash = path.find('/', start);
        const auto end = slash == std::string_view::npos ? path.size() : slash;
        parts.emplace_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

std::string Decode(std::string_view text) {
    std::string plus(text);
    for (auto& c : plus)
        if (c == '+') c = ' ';
    return QByteArray::fromPercentEncoding(QByteArray::fromStdString(plus)).toStdString();
}

}  // namespace

void Router::Add(http::verb method, std::string_view pattern, Role role, Handler handler,
                 std::size_t bodyLimit) {
    const bool changes = method != http::verb::get && method != http::verb::head;
    routes_.push_back({method, Split(pattern), role, bodyLimit, std::move(handler), changes});
}

Router::Match Router::Find(http::verb method, std::string_view path) const {
    Match m;
    const auto parts = Split(path);
    bool pathKnown = false;
    for (const auto& r : routes_) {
        if (r.segments.size() != parts.size()) continue;
        std::vector<std::string> params;
        bool same = true;
        for (std::size_t i = 0; i < parts.size() && same; ++i) {
            if (r.segments[i] == "{}")
                params.push_back(Decode(parts[i]));
            else
                same = r.segments[i] == parts[i];
        }
        if (!same) continue;
        pathKnown = true;
        m.allow += (m.allow.empty() ? "" : ", ") + std::string(http::to_string(r.method));
        if (r.method == method) {
            m.route = &r;
            m.params = std::move(params);
            return m;
        }
    }
    if (pathKnown)
        m.status = http::status::method_not_allowed;
    else if (path.substr(0, 5) == "/api/" || path == "/api")
        m.status = http::status::not_found;
    return m;
}

std::string_view PathOf(std::string_view target) {
    return target.substr(0, target.find('?'));
}

std::map<std::string, std::string> QueryOf(std::string_view target) {
    std::map<std::string, std::string> q;
    const auto mark = target.find('?');
    if (mark == std::string_view::npos) return q;
    std::string_view rest = target.substr(mark + 1);
    while (!rest.empty()) {
        const auto amp = rest.find('&');
        const std::string_view pair = rest.substr(0, amp);
        const auto eq = pair.find('=');
        q[Decode(pair.substr(0, eq))] =
            eq == std::string_view::npos ? "" : Decode(pair.substr(eq + 1));
        if (amp == std::string_view::npos) break;
        rest = rest.substr(amp + 1);
    }
    return q;
}

}  // namespace swb808::service
