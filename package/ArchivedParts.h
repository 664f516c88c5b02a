#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace quendle {

class HiveTree;
class MsXmlDomDocument;
class ZipCentralDirectory;
struct ZipDirectoryEntry;

// The root parts of a package read straight from its container, for the commands that only look
// (/Info, /Export-Registry, /Diff, /Export-Config): no workspace, nothing written, and no part
// read into memory beyond its limit. Every failure raises its message.
class ArchivedParts {
  public:
    static constexpr uint64_t MaxXmlPartBytes = 512ull << 20;
    static constexpr uint64_t MaxHiveBytes = 2ull << 30;

    // Reads the directory of the package file; a missing file or one that is no package raises.
    static void open(ZipCentralDirectory& archive, const std::string& packagePath);
    // The entry of a root part (its name compared ignoring case), or nullptr.
    static const ZipDirectoryEntry* find(const ZipCentralDirectory& archive, std::string_view part);
    static std::string bytes(const ZipCentralDirectory& archive, const ZipDirectoryEntry& entry,
                             uint64_t limit = MaxXmlPartBytes);
    // An XML part as a document, or nullptr when the package has none.
    static std::unique_ptr<MsXmlDomDocument> document(const ZipCentralDirectory& archive,
                                                      std::string_view part);
    static std::shared_ptr<HiveTree> hive(const ZipCentralDirectory& archive, const ZipDirectoryEntry& entry);
};

} // namespace quendle
