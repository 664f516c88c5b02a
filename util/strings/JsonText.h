#pragma once
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quendle {

// The pieces of the JSON documents that the read-only commands print for pipelines.

// A JSON string: quoted and escaped; text that is not UTF-8 is read as Windows-1252.
std::string jsonString(std::string_view text);

using JsonFields = std::vector<std::pair<const char*, std::string>>;

// One object on one line; the values are JSON texts already.
std::string jsonObject(const JsonFields& fields);

} // namespace quendle
