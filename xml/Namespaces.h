#pragma once
#include <string>
#include <unordered_map>

namespace quendle {

// Scheme and host of each family of namespace names that the formats use.
inline constexpr const char* AppVSchemaHost = "http://schemas.microsoft.com";
inline constexpr const char* OpcSchemaHost = "http://schemas.openxmlformats.org";
inline constexpr const char* W3cHost = "http://www.w3.org";
inline constexpr const char* SaxPropertyHost = "http://xml.org";

inline std::string appVNamespace(const char* path) {
    return std::string(AppVSchemaHost) + path;
}

// Namespace URI -> the prefix that XPath expressions use for it.
using NamespaceMap = std::unordered_map<std::string, std::string>;

} // namespace quendle
