#pragma once
#include "package/RegistryDiff.h"
#include "xml/XmlTreeDiff.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quendle {

struct PackageSnapshot;

// What differs between two packages, section by section: identity, files, scripts, short
// names, each XML part as a tree, and the registry.
struct PackageDiff {
    enum class Kind { Added, Removed, Changed };
    struct IdentityChange {
        std::string field, before, after;
    };
    struct FileChange {
        Kind kind = Kind::Added;
        std::string path;
        uint64_t sizeBefore = 0, sizeAfter = 0;
        // For a changed file that both block maps describe: its blocks, and how many differ.
        bool blocksKnown = false;
        size_t blocks = 0, blocksChanged = 0;
    };
    struct ShortNameChange {
        Kind kind = Kind::Added;
        std::string path, before, after; // long path below Root; the short names ("" for none)
    };
    struct PartChanges {
        std::string part, key; // the part's name and the section's JSON key
        uint32_t label = 0;    // offset of the section title after Msg::DiffLabelFirst
        std::vector<XmlChange> changes;
    };

    std::string before, after; // the two package paths
    std::vector<IdentityChange> identity;
    std::vector<FileChange> files, scripts;
    std::vector<ShortNameChange> shortNames;
    std::vector<PartChanges> parts;
    std::vector<RegistryChange> registry;

    static PackageDiff compare(const PackageSnapshot& before, const PackageSnapshot& after);
    size_t count() const;

    // The report for a person: one section per kind of difference, one line per difference.
    // Each line comes with the colour it is written in.
    std::vector<std::pair<std::string, uint16_t>> textLines() const;
    // One JSON document (docs/diff.md describes it).
    std::string json() const;

    // /Diff: prints the report; 0 when the packages do not differ, 1 when they do.
    static uint32_t diffCommand(const std::string& before, const std::string& after, bool json);
};

} // namespace quendle
