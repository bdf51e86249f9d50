#pragma once

// The HTTP vocabulary the service's files share (Beast's string-bodied messages).

#include <boost/beast/http.hpp>

#include <string>

namespace swb808::service {

namespace http = boost::beast::http;
using Request = http::request<http::string_body>;
using Response = http::response<http::string_body>;

// Bodies above this are refused with 413 before they are read to the end; the firmware upload
// has the image's size instead.
inline constexpr std::size_t kBodyLimit = 64 * 1024;

}  // namespace swb808::service
