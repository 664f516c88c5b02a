#pragma once
#include <array>
#include <string>
#include <string_view>

namespace quendle {

// The root parts that the package model treats itself, in their fixed order.
inline constexpr std::array<std::string_view, 7> KnownParts = {
    "[Content_Types].xml", "AppxBlockMap.xml", "AppxManifest.xml", "FilesystemMetadata.xml",
    "PackageHistory.xml",  "Registry.dat",     "StreamMap.xml",
};

// The XML parts that the XML commands may edit.
inline constexpr std::array<std::string_view, 5> EditableXmlParts = {
    "[Content_Types].xml", "AppxManifest.xml", "FilesystemMetadata.xml",
    "PackageHistory.xml",  "StreamMap.xml",
};

inline constexpr std::string_view ContentTypesPart = "[Content_Types].xml";
inline constexpr std::string_view BlockMapPart = "AppxBlockMap.xml";
inline constexpr std::string_view ManifestPart = "AppxManifest.xml";
inline constexpr std::string_view FilesystemMetadataPart = "FilesystemMetadata.xml";
inline constexpr std::string_view PackageHistoryPart = "PackageHistory.xml";
inline constexpr std::string_view RegistryPart = "Registry.dat";
inline constexpr std::string_view StreamMapPart = "StreamMap.xml";

bool isKnownPart(std::string_view name);
bool isEditableXmlPart(std::string_view name);

// The known part's own spelling of `name` ("appxmanifest.XML" gives "AppxManifest.xml"), or
// empty when `name` is no known part.
std::string_view canonicalKnownPart(std::string_view name);

// "appx" for the manifest, "appv" for every other part: the XPath prefix that stands for the
// part's default namespace.
std::string xpathPrefixFor(std::string_view partName);

} // namespace quendle
