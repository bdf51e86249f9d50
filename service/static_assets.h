#pragma once

// The files of the web page compiled into the service, by URL path. Nothing outside the
// compiled-in set is served: no path reaches the file system.

#include <optional>
#include <string_view>

#include "service/router.h"

namespace swb808::service {

struct StaticAsset {
    std::string_view contentType;
    std::string_view body;
    std::string_view etag;
    bool immutable = false;  // its name changes with its content: cached for good
};

// A build without the page has none.
std::optional<StaticAsset> FindStaticAsset(std::string_view urlPath);

// GET (and HEAD) of anything outside the API: the asset with its ETag and caching, 304 for
// a matching If-None-Match, else 404.
void ServeStaticAsset(const ExchangePtr& exchange);

}  // namespace swb808::service
