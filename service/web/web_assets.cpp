#include "service/web/web_assets.h"

#include <algorithm>
#include <span>

#include "web_assets_table.h"

namespace swb808 {

const WebAsset* FindWebAsset(std::string_view urlPath) {
    urlPath = urlPath.substr(0, urlPath.find_first_of("?#"));
    if (urlPath == "/index.html") urlPath = "/";
    const std::span assets(kWebAssets, kWebAssetCount);
    const auto it = std::ranges::find(assets, urlPath, &WebAsset::path);
    return it == assets.end() ? nullptr : &*it;
}

}  // namespace swb808
