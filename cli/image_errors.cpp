#include "cli/image_errors.h"

#include <filesystem>
#include <system_error>

#include "protocol/board_facts.h"

namespace swb808::cli {

namespace {

// What the file is instead of an image.
std::string WhatItIs(const std::string& path) {
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (ec) return "cannot be examined: " + ec.message();
    if (std::filesystem::is_directory(status)) return "is a directory";
    if (!std::filesystem::is_regular_file(status)) return "is not a regular file";
    const auto size = std::filesystem::file_size(path, ec);
    if (ec) return "has no size: " + ec.message();
    return "has " + std::to_string(size) + " bytes";
}

}  // namespace

std::string ImageFileErrorText(const TImageLoadResult& result, const std::string& path) {
    const std::string image =
        "a firmware image has exactly " + std::to_string(board::kImageSize) + " bytes";
    switch (result.Status) {
        case TImageLoadStatus::CannotOpen:
            return path + ": cannot be opened: " + result.SystemError;
        case TImageLoadStatus::WrongSize:
            return path + ": " + WhatItIs(path) + "; " + image;
        case TImageLoadStatus::ShortRead:
            return path + ": could not be read to its end; " + image;
        case TImageLoadStatus::Loaded:
        case TImageLoadStatus::LoadedWithoutVersion:
            break;
    }
    return {};
}

}  // namespace swb808::cli
