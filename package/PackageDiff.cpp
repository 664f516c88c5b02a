#include "package/PackageDiff.h"

#include "core/ConsoleWriter.h"
#include "package/KnownParts.h"
#include "package/PackageSnapshot.h"
#include "util/strings/StringSystem.h"
#include "xml/MsXmlDomDocument.h"
#include "xml/MsXmlDomNode.h"
#include "xml/Namespaces.h"
#include "xml/XmlElementView.h"

#include <map>

namespace quendle {

namespace {

using Kind = PackageDiff::Kind;

// The identity attributes that the identity section reports, so that the manifest's section
// does not report them a second time.
constexpr const char* IdentityAttributes[] = {"Name", "Publisher", "Version", "PackageId", "VersionId"};
constexpr const char* IdentityFields[] = {"name", "publisher", "version", "packageId", "versionId"};

std::vector<std::string> identityOf(const MsXmlDomDocument* manifest) {
    std::vector<std::string> values(std::size(IdentityAttributes));
    if (!manifest)
        return values;
    XmlElementView identity = XmlElementView::rootOf(*manifest->GetDocumentElement()).child("Identity");
    for (size_t i = 0; i < 3; ++i)
        values[i] = identity.attribute(IdentityAttributes[i]);
    for (const char* year : {"2014", "2013", "2010"}) {
        std::string ns = appVNamespace(("/appv/" + std::string(year) + "/manifest").c_str());
        for (size_t i = 3; i < values.size(); ++i)
            if (values[i].empty())
                values[i] = identity.attribute(IdentityAttributes[i], ns);
    }
    return values;
}

bool isIdentityAttribute(const XmlChange& c) {
    if (c.depth != 1 || c.element != "Identity" || c.attribute.empty())
        return false;
    for (const char* name : IdentityAttributes)
        if (c.attribute == name)
            return true;
    return false;
}

void compareFiles(const PackageSnapshot& a, const PackageSnapshot& b, PackageDiff& diff) {
    std::map<std::string, std::pair<const PackageSnapshot::File*, const PackageSnapshot::File*>> all;
    for (const auto& [key, file] : a.files)
        all[key].first = &file;
    for (const auto& [key, file] : b.files)
        all[key].second = &file;
    for (const auto& [key, pair] : all) {
        auto [old, now] = pair;
        PackageDiff::FileChange c{Kind::Changed, (now ? now : old)->path};
        c.sizeBefore = old ? old->size : 0;
        c.sizeAfter = now ? now->size : 0;
        if (old && now) {
            c.blocksKnown = old->mapped && now->mapped;
            c.blocks = now->blocks.size();
            for (size_t i = 0; c.blocksKnown && i < std::max(old->blocks.size(), now->blocks.size()); ++i)
                c.blocksChanged +=
                    i >= old->blocks.size() || i >= now->blocks.size() || old->blocks[i] != now->blocks[i];
            if (old->size == now->size && old->crc == now->crc && c.blocksChanged == 0)
                continue;
        } else {
            c.kind = old ? Kind::Removed : Kind::Added;
        }
        (startsWithIgnoreCaseAscii(c.path, "Scripts\\") ? diff.scripts : diff.files).push_back(std::move(c));
    }
}

// Every Entry of the file-system metadata by its long path, with its short name.
void collectEntries(const XmlElementView& parent, const std::string& path,
                    std::map<std::string, std::pair<std::string, std::string>>& out) {
    for (const XmlElementView& entry : parent.children("Entry")) {
        std::string long_ = path.empty() ? entry.attribute("Long") : path + "\\" + entry.attribute("Long");
        out[foldCase(long_)] = {long_, entry.attribute("Short")};
        collectEntries(entry, long_, out);
    }
}

std::map<std::string, std::pair<std::string, std::string>> entriesOf(const MsXmlDomDocument* metadata) {
    std::map<std::string, std::pair<std::string, std::string>> entries;
    if (metadata)
        for (const XmlElementView& fs :
             XmlElementView::rootOf(*metadata->GetDocumentElement()).children("Filesystem"))
            collectEntries(fs, "", entries);
    return entries;
}

void compareShortNames(const PackageSnapshot& a, const PackageSnapshot& b, PackageDiff& diff) {
    auto before = entriesOf(a.part(FilesystemMetadataPart)),
         after = entriesOf(b.part(FilesystemMetadataPart));
    for (const auto& [key, entry] : before) {
        auto found = after.find(key);
        if (found == after.end())
            diff.shortNames.push_back({Kind::Removed, entry.first, entry.second, {}});
        else if (found->second.second != entry.second)
            diff.shortNames.push_back(
                {Kind::Changed, found->second.first, entry.second, found->second.second});
    }
    for (const auto& [key, entry] : after)
        if (!before.contains(key))
            diff.shortNames.push_back({Kind::Added, entry.first, {}, entry.second});
}

bool isMetadataEntry(std::string_view name, std::string_view parent) {
    return name == "Entry" && (parent == "Filesystem" || parent == "Entry");
}

} // namespace

PackageDiff PackageDiff::compare(const PackageSnapshot& a, const PackageSnapshot& b) {
    PackageDiff diff;
    diff.before = a.packagePath;
    diff.after = b.packagePath;
    std::vector<std::string> idA = identityOf(a.part(ManifestPart)), idB = identityOf(b.part(ManifestPart));
    for (size_t i = 0; i < idA.size(); ++i)
        if (idA[i] != idB[i])
            diff.identity.push_back({IdentityFields[i], idA[i], idB[i]});
    compareFiles(a, b, diff);
    compareShortNames(a, b, diff);

    struct Section {
        std::string_view part;
        const char* key;
        uint32_t label;
    };
    // The metadata's entries are the short-name section; its section has the rest of the part.
    for (Section s : {Section{FilesystemMetadataPart, "filesystemMetadata", 4},
                      Section{ContentTypesPart, "contentTypes", 5}, Section{ManifestPart, "manifest", 6},
                      Section{StreamMapPart, "streamMap", 7}, Section{PackageHistoryPart, "history", 8}}) {
        XmlTreeDiff::Skip skip;
        if (s.part == FilesystemMetadataPart)
            skip = isMetadataEntry;
        PartChanges part{std::string(s.part), s.key, s.label,
                         XmlTreeDiff::compare(a.part(s.part), b.part(s.part), xpathPrefixFor(s.part), skip)};
        if (s.part == ManifestPart)
            std::erase_if(part.changes, isIdentityAttribute);
        diff.parts.push_back(std::move(part));
    }
    diff.registry = diffRegistry(a.registry.get(), b.registry.get());
    return diff;
}

size_t PackageDiff::count() const {
    size_t n = identity.size() + files.size() + scripts.size() + shortNames.size() + registry.size();
    for (const PartChanges& p : parts)
        n += p.changes.size();
    return n;
}

uint32_t PackageDiff::diffCommand(const std::string& before, const std::string& after, bool asJson) {
    PackageSnapshot a = PackageSnapshot::read(before);
    PackageSnapshot b = PackageSnapshot::read(after);
    PackageDiff diff = compare(a, b);
    if (ConsoleWriter* console = ConsoleWriter::installed()) {
        if (asJson) {
            console->write(diff.json());
        } else {
            for (const auto& [line, colour] : diff.textLines()) {
                ConsoleColorScope scope(colour);
                console->writeLine(line);
            }
        }
    }
    return diff.count() == 0 ? 0 : 1;
}

} // namespace quendle
