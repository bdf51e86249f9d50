// The build with the web page: its assets library answers.
#include "service/static_assets.h"
#include "service/web/web_assets.h"

namespace swb808::service {

std::optional<StaticAsset> FindStaticAsset(std::string_view urlPath) {
    const auto* asset = FindWebAsset(urlPath);
    if (!asset) return std::nullopt;
    return StaticAsset{asset->contentType, asset->body, asset->etag, asset->immutable};
}

}  // namespace swb808::service
