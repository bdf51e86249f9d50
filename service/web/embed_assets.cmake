# Run as a script: writes OUTPUT, a C++ source holding FILES as the table web_assets.cpp reads.
# index.html is served at "/" and refers to the rest through @ASSET_ROOT@, replaced here with a
# directory named after the hash of every other file, so a changed file gets a new URL.
cmake_minimum_required(VERSION 3.25)

function(content_type file out)
  get_filename_component(ext ${file} LAST_EXT)
  string(TOLOWER "${ext}" ext)
  if(ext STREQUAL ".html")
    set(type "text/html; charset=utf-8")
  elseif(ext STREQUAL ".js")
    set(type "text/javascript; charset=utf-8")
  elseif(ext STREQUAL ".css")
    set(type "text/css; charset=utf-8")
  elseif(ext STREQUAL ".svg")
    set(type "image/svg+xml")
  elseif(ext STREQUAL ".png")
    set(type "image/png")
  else()
    message(FATAL_ERROR "web asset ${file}: no content type for '${ext}'")
  endif()
  set(${out} "${type}" PARENT_SCOPE)
endfunction()

# Bytes as char literals: any content, no escaping rules, no length limit of string literals.
function(char_array hex out)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," chars "${hex}")
  string(REPEAT "'\\\\x..'," 16 line)
  string(REGEX REPLACE "(${line})" "\\1\n" chars "${chars}")
  set(${out} "${chars}" PARENT_SCOPE)
endfunction()

set(hashes "")
set(index "")
foreach(file IN LISTS FILES)
  get_filename_component(name ${file} NAME)
  if(name STREQUAL "index.html")
    set(index ${file})
  else()
    file(SHA256 ${file} h)
    string(APPEND hashes ${h})
  endif()
endforeach()
if(NOT index)
  message(FATAL_ERROR "web assets: index.html missing")
endif()
string(SHA256 root "${hashes}")
string(SUBSTRING ${root} 0 16 root)
set(root "/assets/${root}")

set(bodies "")
set(entries "")
set(n 0)
foreach(file IN LISTS FILES)
  get_filename_component(name ${file} NAME)
  content_type(${file} type)
  if(file STREQUAL index)
    file(READ ${file} text)
    string(REPLACE "@ASSET_ROOT@" "${root}" text "${text}")
    string(SHA256 h "${text}")
    string(HEX "${text}" hex)
    set(path "/")
    set(immutable false)
  else()
    file(READ ${file} hex HEX)
    file(SHA256 ${file} h)
    set(path "${root}/${name}")
    set(immutable true)
  endif()
  string(SUBSTRING ${h} 0 32 h)
  char_array("${hex}" chars)
  string(APPEND bodies "constexpr char kBody${n}[] = {\n${chars}};\n")
  string(APPEND entries
    "    {\"${path}\", \"${type}\", {kBody${n}, sizeof kBody${n}}, \"\\\"${h}\\\"\", ${immutable}},\n")
  math(EXPR n "${n} + 1")
endforeach()

file(CONFIGURE OUTPUT ${OUTPUT} @ONLY CONTENT [=[
// Generated from service/web/assets by embed_assets.cmake; do not edit.
#include "web_assets_table.h"

namespace swb808 {
namespace {
@bodies@
}  // namespace

extern const WebAsset kWebAssets[] = {
@entries@};
extern const std::size_t kWebAssetCount = @n@;

}  // namespace swb808
]=])
