#pragma once

// Why a firmware file cannot be flashed, in the tool's words: the file and the cause.

#include <string>

#include "firmware/firmware_image.h"

namespace swb808::cli {

// "fw.bin: 6143 bytes; a firmware image has exactly 6144"; empty for a loaded image.
std::string ImageFileErrorText(const TImageLoadResult& result, const std::string& path);

}  // namespace swb808::cli
