#include "package/PackageInfo.h"

#include "archive/ZipCentralDirectory.h"
#include "archive/ZipEntryReader.h"
#include "core/ConsoleWriter.h"
#include "core/Exception.h"
#include "os/FileSystem.h"
#include "package/KnownParts.h"
#include "util/strings/MessageFormat.h"
#include "util/strings/StringSystem.h"
#include "xml/MsXmlDomDocument.h"
#include "xml/MsXmlDomNode.h"
#include "xml/Namespaces.h"
#include "xml/XmlElementView.h"

#include <cstdio>

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

constexpr uint64_t MaxPartBytes = 512ull << 20;

std::string label(Label l) {
    return formatStringId(static_cast<uint32_t>(Msg::InfoLabelFirst) + l, {});
}

// The newest year among the App-V manifest namespaces declared anywhere in the document.
void newestManifestYear(const XmlElementView& element, std::string& year) {
    const std::string prefix = appVNamespace("/appv/");
    for (const std::string& href : element.declaredNamespaces()) {
        if (href.size() == prefix.size() + 13 && href.starts_with(prefix) && href.ends_with("/manifest")) {
            std::string y = href.substr(prefix.size(), 4);
            if (y > year)
                year = y;
        }
    }
    for (const XmlElementView& child : element.children())
        newestManifestYear(child, year);
}

std::unique_ptr<MsXmlDomDocument> loadPart(const ZipCentralDirectory& archive, std::string_view part) {
    for (const ZipDirectoryEntry& e : archive.entries()) {
        if (!equalsIgnoreCaseAscii(e.name, part))
            continue;
        std::string bytes, why;
        if (!ZipEntryReader::readAll(archive, e, MaxPartBytes, bytes, why))
            throw Exception(formatStringId(Msg::PartUnreadable, {part, why}));
        auto document = std::make_unique<MsXmlDomDocument>(std::string(part));
        document->LoadXml(bytes);
        return document;
    }
    return nullptr;
}

std::string jsonString(std::string_view text) {
    std::string out = "\"";
    // Entry names of other tools may be in a legacy code page; the document must be UTF-8.
    for (unsigned char c : utf8OrWindows1252(text)) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20) {
                char buffer[8];
                std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
                out += buffer;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

std::string padded(const std::string& label, size_t width = 25) {
    std::string out = label + ":";
    while (codePointCount(out) < width)
        out += ' ';
    return out;
}

} // namespace

PackageInfo PackageInfo::read(const std::string& packagePath) {
    PackageInfo info;
    info.packagePath = packagePath;
    ZipCentralDirectory archive;
    if (!archive.read(packagePath, [](const std::string&) {}) || archive.entries().empty())
        throw Exception(Msg::PackageOpenFailed, packagePath);
    info.packageSize = archive.fileSize();
    for (const ZipDirectoryEntry& e : archive.entries()) {
        info.entries.push_back({e.name, e.stored.name, e.stored.size, e.stored.compressedSize});
        info.size += e.stored.size;
        info.compressedSize += e.stored.compressedSize;
        if (e.isFolder())
            continue;
        if (startsWithIgnoreCaseAscii(e.name, "Root\\"))
            ++info.fileCount;
        else if (startsWithIgnoreCaseAscii(e.name, "Scripts\\"))
            info.scripts.push_back(e.name.substr(8));
    }
    if (auto manifest = loadPart(archive, ManifestPart)) {
        XmlElementView root = XmlElementView::rootOf(*manifest->GetDocumentElement());
        XmlElementView identity = root.child("Identity");
        info.name = identity.attribute("Name");
        info.publisher = identity.attribute("Publisher");
        info.version = identity.attribute("Version");
        for (const char* year : {"2014", "2013", "2010"}) {
            std::string ns = appVNamespace(("/appv/" + std::string(year) + "/manifest").c_str());
            if (info.packageId.empty())
                info.packageId = identity.attribute("PackageId", ns);
            if (info.versionId.empty())
                info.versionId = identity.attribute("VersionId", ns);
        }
        info.displayName = root.child("Properties").child("DisplayName").text();
        newestManifestYear(root, info.manifestSchemaVersion);
    }
    if (auto history = loadPart(archive, PackageHistoryPart)) {
        for (const XmlElementView& item :
             XmlElementView::rootOf(*history->GetDocumentElement()).children("PackageHistoryItem"))
            info.history.push_back({item.attribute("Time"), item.attribute("PackageVersion"),
                                    item.attribute("SequencerVersion"), item.attribute("PackagingEngine"),
                                    item.attribute("SequencerUser"), item.attribute("SequencingStation")});
    }
    return info;
}

std::string PackageInfo::text(bool withFiles) const {
    std::string out;
    auto line = [&](Label l, const std::string& value) { out += padded(label(l)) + value + "\n"; };
    line(LabelPackage, packagePath);
    line(LabelName, name);
    line(LabelDisplayName, displayName);
    line(LabelPublisher, publisher);
    line(LabelPackageId, packageId);
    line(LabelVersionId, versionId);
    line(LabelVersion, version);
    line(LabelSchema, manifestSchemaVersion);
    line(LabelPackageSize, std::to_string(packageSize));
    line(LabelContentSize, std::to_string(size) + " / " + std::to_string(compressedSize));
    line(LabelFiles, std::to_string(fileCount));
    std::string scriptList;
    for (const std::string& s : scripts)
        scriptList += (scriptList.empty() ? "" : ", ") + s;
    line(LabelScripts, scripts.empty() ? label(LabelNone) : scriptList);
    line(LabelHistory, std::to_string(history.size()));
    for (const HistoryItem& h : history)
        out += "  " + h.time + "  " + h.packagingEngine + " " + h.sequencerVersion + "  " + h.user + "@" +
               h.station + "  " + h.packageVersion + "\n";
    if (withFiles) {
        line(LabelEntries, std::to_string(entries.size()));
        for (const Entry& e : entries) {
            char sizes[64];
            std::snprintf(sizes, sizeof sizes, "%14llu %14llu  ", static_cast<unsigned long long>(e.size),
                          static_cast<unsigned long long>(e.compressedSize));
            out += sizes + e.path + "\n";
        }
    }
    return out;
}

std::string PackageInfo::json(bool withFiles) const {
    auto field = [](const char* key, const std::string& value) { return jsonString(key) + ": " + value; };
    std::string out = "{\n";
    out += "  " + field("package", jsonString(packagePath)) + ",\n";
    out += "  " + field("packageSize", std::to_string(packageSize)) + ",\n";
    out += "  \"identity\": {\n";
    out += "    " + field("name", jsonString(name)) + ",\n";
    out += "    " + field("displayName", jsonString(displayName)) + ",\n";
    out += "    " + field("publisher", jsonString(publisher)) + ",\n";
    out += "    " + field("packageId", jsonString(packageId)) + ",\n";
    out += "    " + field("versionId", jsonString(versionId)) + ",\n";
    out += "    " + field("version", jsonString(version)) + ",\n";
    out += "    " + field("manifestSchemaVersion", jsonString(manifestSchemaVersion)) + "\n  },\n";
    out += "  " + field("entryCount", std::to_string(entries.size())) + ",\n";
    out += "  " + field("fileCount", std::to_string(fileCount)) + ",\n";
    out += "  " + field("size", std::to_string(size)) + ",\n";
    out += "  " + field("compressedSize", std::to_string(compressedSize)) + ",\n";
    out += "  \"scripts\": [";
    for (size_t i = 0; i < scripts.size(); ++i)
        out += (i ? ", " : "") + jsonString(scripts[i]);
    out += "],\n  \"history\": [";
    for (size_t i = 0; i < history.size(); ++i) {
        const HistoryItem& h = history[i];
        out += std::string(i ? "," : "") + "\n    {" + field("time", jsonString(h.time)) + ", " +
               field("packageVersion", jsonString(h.packageVersion)) + ", " +
               field("sequencerVersion", jsonString(h.sequencerVersion)) + ", " +
               field("packagingEngine", jsonString(h.packagingEngine)) + ", " +
               field("user", jsonString(h.user)) + ", " + field("station", jsonString(h.station)) + "}";
    }
    out += history.empty() ? "]" : "\n  ]";
    if (withFiles) {
        out += ",\n  \"files\": [";
        for (size_t i = 0; i < entries.size(); ++i) {
            const Entry& e = entries[i];
            out += std::string(i ? "," : "") + "\n    {" + field("path", jsonString(e.path)) + ", " +
                   field("entry", jsonString(e.entryName)) + ", " + field("size", std::to_string(e.size)) +
                   ", " + field("compressedSize", std::to_string(e.compressedSize)) + "}";
        }
        out += entries.empty() ? "]" : "\n  ]";
    }
    return out + "\n}\n";
}

void PackageInfo::infoCommand(const std::string& packagePath, bool asJson, bool withFiles) {
    if (!hostpath::fileExists(packagePath))
        throw Exception(Msg::FileNotFound, packagePath);
    PackageInfo info = read(packagePath);
    if (ConsoleWriter* console = ConsoleWriter::installed())
        console->write(asJson ? info.json(withFiles) : info.text(withFiles));
}

} // namespace quendle
