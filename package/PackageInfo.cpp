#include "package/PackageInfo.h"
#include "util/strings/JsonText.h"

#include "archive/ZipCentralDirectory.h"
#include "core/ConsoleWriter.h"
#include "core/Exception.h"
#include "hive/HiveTree.h"
#include "package/ArchivedParts.h"
#include "package/KnownParts.h"
#include "util/strings/MessageFormat.h"
#include "util/strings/StringSystem.h"
#include "xml/MsXmlDomDocument.h"
#include "xml/MsXmlDomNode.h"

#include <cstdio>
#include <functional>

namespace quendle {

namespace {

enum Label : uint32_t {
    LabelPackage,
    LabelName,
    LabelDisplayName,
    LabelPublisher,
    LabelPackageId,
    LabelVersionId,
    LabelVersion,
    LabelSchema,
    LabelPackageSize,
    LabelContentSize,
    LabelFiles,
    LabelScripts,
    LabelHistory,
    LabelEntries,
    LabelNone,
};

// The labels added later live in a range of their own.
enum MoreLabel : uint32_t {
    LabelTargetOSes,
    LabelOSVersions,
    LabelArchitecture,
    LabelApplications,
    LabelExtensionPoints,
    LabelRegistry,
    LabelAny,
    LabelKind,
    LabelSize,
    LabelPacked,
    LabelPath,
    LabelPart,
    LabelFile,
    LabelScript,
    LabelFolder,
    LabelTotal,
};

// The text output names this many extensions of a category; -json lists them all.
constexpr size_t NamesShown = 10;

std::string label(Label l) {
    return formatStringId(static_cast<uint32_t>(Msg::InfoLabelFirst) + l, {});
}

std::string label(MoreLabel l) {
    return formatStringId(static_cast<uint32_t>(Msg::InfoLabelMoreFirst) + l, {});
}

std::string kindLabel(PackageInfo::Kind kind) {
    switch (kind) {
    case PackageInfo::Kind::File:
        return label(LabelFile);
    case PackageInfo::Kind::Script:
        return label(LabelScript);
    case PackageInfo::Kind::Folder:
        return label(LabelFolder);
    default:
        return label(LabelPart);
    }
}

// The kind's name in the JSON document, which does not follow the user's language.
const char* kindKey(PackageInfo::Kind kind) {
    switch (kind) {
    case PackageInfo::Kind::File:
        return "file";
    case PackageInfo::Kind::Script:
        return "script";
    case PackageInfo::Kind::Folder:
        return "folder";
    default:
        return "part";
    }
}

// An array of one-line items, one item per line below `key`.
template <typename T>
std::string jsonArray(const std::vector<T>& items, const std::function<std::string(const T&)>& item) {
    std::string out = "[";
    for (size_t i = 0; i < items.size(); ++i)
        out += std::string(i ? "," : "") + "\n    " + item(items[i]);
    return out + (items.empty() ? "]" : "\n  ]");
}

std::string number(uint64_t n) {
    return std::to_string(n);
}

std::string padded(const std::string& label, size_t width = 25) {
    std::string out = label + ":";
    while (codePointCount(out) < width)
        out += ' ';
    return out;
}

std::string column(const std::string& text, size_t width) {
    std::string out = text;
    while (codePointCount(out) < width)
        out += ' ';
    return out;
}

std::string rightAligned(const std::string& text, size_t width) {
    size_t length = codePointCount(text);
    return (length < width ? std::string(width - length, ' ') : std::string()) + text;
}

// Keys below each root and values in it and below.
void countBelow(const HiveKey& key, uint64_t& keys, uint64_t& values) {
    values += key.values.size();
    for (const auto& sub : key.subkeys) {
        if (!sub || sub->deleted)
            continue;
        ++keys;
        countBelow(*sub, keys, values);
    }
}

std::vector<PackageInfo::RegistryRoot> registryRoots(const HiveTree& tree) {
    std::vector<PackageInfo::RegistryRoot> roots;
    if (!tree.root())
        return roots;
    auto add = [&](const HiveKey& key, const std::string& path) {
        PackageInfo::RegistryRoot root{path};
        countBelow(key, root.keys, root.values);
        roots.push_back(root);
    };
    for (const auto& top : tree.root()->subkeys) {
        if (!top || top->deleted)
            continue;
        std::string name = utf16ToUtf8(top->name);
        if (!equalsIgnoreCaseAscii(name, "REGISTRY")) {
            add(*top, name);
            continue;
        }
        for (const auto& sub : top->subkeys)
            if (sub && !sub->deleted)
                add(*sub, name + "\\" + utf16ToUtf8(sub->name));
    }
    return roots;
}

} // namespace

PackageInfo PackageInfo::read(const std::string& packagePath, bool withRegistry) {
    PackageInfo info;
    info.packagePath = packagePath;
    ZipCentralDirectory archive;
    ArchivedParts::open(archive, packagePath);
    info.packageSize = archive.fileSize();
    const ZipDirectoryEntry* hive = nullptr;
    for (const ZipDirectoryEntry& e : archive.entries()) {
        Kind kind = Kind::Part;
        info.size += e.stored.size;
        info.compressedSize += e.stored.compressedSize;
        if (e.isFolder()) {
            kind = Kind::Folder;
        } else if (startsWithIgnoreCaseAscii(e.name, "Root\\")) {
            kind = Kind::File;
            ++info.fileCount;
        } else if (startsWithIgnoreCaseAscii(e.name, "Scripts\\")) {
            kind = Kind::Script;
            info.scripts.push_back(e.name.substr(8));
        } else if (equalsIgnoreCaseAscii(e.name, RegistryPart)) {
            hive = &e;
        }
        info.entries.push_back({e.name, e.stored.name, e.stored.size, e.stored.compressedSize, kind});
    }
    if (auto manifest = ArchivedParts::document(archive, ManifestPart))
        info.manifest = ManifestSummary::of(XmlElementView::rootOf(*manifest->GetDocumentElement()));
    if (auto history = ArchivedParts::document(archive, PackageHistoryPart)) {
        for (const XmlElementView& item :
             XmlElementView::rootOf(*history->GetDocumentElement()).children("PackageHistoryItem"))
            info.history.push_back({item.attribute("Time"), item.attribute("PackageVersion"),
                                    item.attribute("SequencerVersion"), item.attribute("PackagingEngine"),
                                    item.attribute("SequencerUser"), item.attribute("SequencingStation")});
    }
    if (hive && withRegistry)
        info.registry = registryRoots(*ArchivedParts::hive(archive, *hive));
    return info;
}

std::string PackageInfo::text(bool withFiles) const {
    std::string out;
    auto line = [&](const std::string& l, const std::string& value) { out += padded(l) + value + "\n"; };
    const ManifestSummary& m = manifest;
    line(label(LabelPackage), packagePath);
    line(label(LabelName), m.name);
    line(label(LabelDisplayName), m.displayName);
    line(label(LabelPublisher), m.publisher);
    line(label(LabelPackageId), m.packageId);
    line(label(LabelVersionId), m.versionId);
    line(label(LabelVersion), m.version);
    line(label(LabelSchema), m.manifestSchemaVersion);
    line(label(LabelPackageSize), std::to_string(packageSize));
    line(label(LabelContentSize), std::to_string(size) + " / " + std::to_string(compressedSize));
    line(label(LabelFiles), std::to_string(fileCount));
    std::string scriptList;
    for (const std::string& s : scripts)
        scriptList += (scriptList.empty() ? "" : ", ") + s;
    line(label(LabelScripts), scripts.empty() ? label(LabelNone) : scriptList);
    line(label(LabelHistory), std::to_string(history.size()));
    for (const HistoryItem& h : history)
        out += "  " + h.time + "  " + h.packagingEngine + " " + h.sequencerVersion + "  " + h.user + "@" +
               h.station + "  " + h.packageVersion + "\n";

    std::string systems;
    for (const std::string& os : m.targetOSes)
        systems += (systems.empty() ? "" : ", ") + os;
    line(label(LabelTargetOSes), systems.empty() ? label(LabelAny) : systems);
    line(label(LabelOSVersions), m.osMinVersion + " / " + m.osMaxVersionTested);
    line(label(LabelArchitecture), m.processorArchitecture);
    line(label(LabelApplications), std::to_string(m.applications.size()));
    for (const ManifestSummary::Application& a : m.applications)
        out += "  " + a.id + "  " + a.name + (a.version.empty() ? "" : " " + a.version) +
               (a.target.empty() || a.target == a.id ? "" : "  -> " + a.target) + "\n";
    line(label(LabelExtensionPoints), std::to_string(m.extensions.size()));
    for (const ManifestSummary::CategoryCount& c : m.categories()) {
        out += "  " + c.category + ": " + std::to_string(c.count) + "\n";
        size_t shown = 0;
        for (const ManifestSummary::Extension* e : m.ofCategory(c.category))
            if (shown++ < NamesShown)
                out += "    " + e->name + "\n";
        if (c.count > NamesShown)
            out += "    " + formatStringId(Msg::InfoMoreNames, {c.count - NamesShown}) + "\n";
    }
    line(label(LabelRegistry), registry.empty() ? label(LabelNone) : std::to_string(registry.size()));
    for (const RegistryRoot& r : registry)
        out += "  " + column(r.path, 23) + formatStringId(Msg::InfoRegistryCounts, {r.keys, r.values}) + "\n";

    if (withFiles) {
        line(label(LabelEntries), std::to_string(entries.size()));
        auto row = [&](const std::string& kind, const std::string& s, const std::string& packed,
                       const std::string& path) {
            out += "  " + column(kind, 8) + rightAligned(s, 14) + " " + rightAligned(packed, 14) + "  " +
                   path + "\n";
        };
        row(label(LabelKind), label(LabelSize), label(LabelPacked), label(LabelPath));
        uint64_t parts = 0;
        for (const Entry& e : entries) {
            parts += e.kind == Kind::Part;
            row(kindLabel(e.kind), std::to_string(e.size), std::to_string(e.compressedSize), e.path);
        }
        row(label(LabelTotal), std::to_string(size), std::to_string(compressedSize),
            formatStringId(Msg::InfoEntryTotals, {entries.size(), fileCount, scripts.size(), parts}));
    }
    return out;
}

std::string PackageInfo::json(bool withFiles) const {
    const ManifestSummary& m = manifest;
    auto field = [](const char* key, const std::string& value) {
        return "  " + jsonString(key) + ": " + value;
    };
    std::vector<std::string> top;
    top.push_back(field("formatVersion", std::to_string(FormatVersion)));
    top.push_back(field("package", jsonString(packagePath)));
    top.push_back(field("packageSize", number(packageSize)));
    std::string identity = "{\n";
    JsonFields ids{{"name", jsonString(m.name)},
                   {"displayName", jsonString(m.displayName)},
                   {"publisher", jsonString(m.publisher)},
                   {"packageId", jsonString(m.packageId)},
                   {"versionId", jsonString(m.versionId)},
                   {"version", jsonString(m.version)},
                   {"manifestSchemaVersion", jsonString(m.manifestSchemaVersion)}};
    for (size_t i = 0; i < ids.size(); ++i)
        identity +=
            "    " + jsonString(ids[i].first) + ": " + ids[i].second + (i + 1 < ids.size() ? ",\n" : "\n  }");
    top.push_back(field("identity", identity));
    top.push_back(field("entryCount", number(entries.size())));
    top.push_back(field("fileCount", number(fileCount)));
    top.push_back(field("size", number(size)));
    top.push_back(field("compressedSize", number(compressedSize)));
    std::string scriptList = "[";
    for (size_t i = 0; i < scripts.size(); ++i)
        scriptList += (i ? ", " : "") + jsonString(scripts[i]);
    top.push_back(field("scripts", scriptList + "]"));
    top.push_back(field("history", jsonArray<HistoryItem>(history, [](const HistoryItem& h) {
                            return jsonObject({{"time", jsonString(h.time)},
                                               {"packageVersion", jsonString(h.packageVersion)},
                                               {"sequencerVersion", jsonString(h.sequencerVersion)},
                                               {"packagingEngine", jsonString(h.packagingEngine)},
                                               {"user", jsonString(h.user)},
                                               {"station", jsonString(h.station)}});
                        })));
    std::string systems = "[";
    for (size_t i = 0; i < m.targetOSes.size(); ++i)
        systems += (i ? ", " : "") + jsonString(m.targetOSes[i]);
    top.push_back(
        field("prerequisites", jsonObject({{"osMinVersion", jsonString(m.osMinVersion)},
                                           {"osMaxVersionTested", jsonString(m.osMaxVersionTested)},
                                           {"processorArchitecture", jsonString(m.processorArchitecture)},
                                           {"targetOSes", systems + "]"}})));
    using App = ManifestSummary::Application;
    top.push_back(field("applications", jsonArray<App>(m.applications, [](const App& a) {
                            return jsonObject({{"id", jsonString(a.id)},
                                               {"name", jsonString(a.name)},
                                               {"version", jsonString(a.version)},
                                               {"target", jsonString(a.target)}});
                        })));
    using Count = ManifestSummary::CategoryCount;
    top.push_back(
        field("extensionPoints", jsonArray<Count>(m.categories(), [](const Count& c) {
                  return jsonObject({{"category", jsonString(c.category)}, {"count", number(c.count)}});
              })));
    using Ext = ManifestSummary::Extension;
    top.push_back(field("extensions", jsonArray<Ext>(m.extensions, [](const Ext& e) {
                            return jsonObject({{"category", jsonString(e.category)},
                                               {"name", jsonString(e.name)},
                                               {"applicationId", jsonString(e.applicationId)}});
                        })));
    top.push_back(field("registry", jsonArray<RegistryRoot>(registry, [](const RegistryRoot& r) {
                            return jsonObject({{"root", jsonString(r.path)},
                                               {"keys", number(r.keys)},
                                               {"values", number(r.values)}});
                        })));
    if (withFiles)
        top.push_back(field("files", jsonArray<Entry>(entries, [](const Entry& e) {
                                return jsonObject({{"path", jsonString(e.path)},
                                                   {"entry", jsonString(e.entryName)},
                                                   {"kind", jsonString(kindKey(e.kind))},
                                                   {"size", number(e.size)},
                                                   {"compressedSize", number(e.compressedSize)}});
                            })));
    std::string out = "{\n";
    for (size_t i = 0; i < top.size(); ++i)
        out += top[i] + (i + 1 < top.size() ? ",\n" : "\n");
    return out + "}\n";
}

void PackageInfo::infoCommand(const std::string& packagePath, bool asJson, bool withFiles) {
    PackageInfo info = read(packagePath);
    if (ConsoleWriter* console = ConsoleWriter::installed())
        console->write(asJson ? info.json(withFiles) : info.text(withFiles));
}

} // namespace quendle
