#pragma once

#include <cstddef>

#include "service/web/web_assets.h"

namespace swb808 {
// Written at build time from the files under assets/.
extern const WebAsset kWebAssets[];
extern const std::size_t kWebAssetCount;
}  // namespace swb808
