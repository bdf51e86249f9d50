#pragma once

#include <string_view>

namespace swb808 {

// One file of the web page, compiled into the service. Bodies live in static storage.
struct WebAsset {
    std::string_view path;         // the URL path it answers, e.g. "/assets/3f2a.../app.js"
    std::string_view contentType;  // with charset for text
    std::string_view body;
    std::string_view etag;  // strong, quoted: "\"...\""
    bool immutable;  // path carries the content hash: cache for a year; else revalidate (no-cache)
};

// The asset for a request target ("/" is the page itself); a query string is ignored. Null for
// anything else: only these compiled-in files exist, no path reaches the file system.
const WebAsset* FindWebAsset(std::string_view urlPath);

// The page needs nothing beyond this: no inline script or style, no eval, nothing from elsewhere.
inline constexpr std::string_view kWebContentSecurityPolicy =
    "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; "
    "connect-src 'self'; form-action 'none'; base-uri 'none'; frame-ancestors 'none'";

}  // namespace swb808
