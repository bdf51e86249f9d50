// The build without the web page.
#include "service/static_assets.h"

namespace swb808::service {

std::optional<StaticAsset> FindStaticAsset(std::string_view) {
    return std::nullopt;
}

}  // namespace swb808::service
