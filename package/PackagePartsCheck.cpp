#include "package/PackagePartsCheck.h"

#include "archive/PercentEncoding.h"
#include "archive/ZipCentralDirectory.h"
#include "archive/ZipEntryReader.h"
#include "core/Exception.h"
#include "hive/OfflineRegHive.h"
#include "package/ArchivedParts.h"
#include "package/KnownParts.h"
#include "package/ManifestValidator.h"
#include "package/ShortNameGenerator.h"
#include "package/VersionValidator.h"
#include "util/strings/MessageFormat.h"
#include "util/strings/StringSystem.h"
#include "xml/MsXmlDomDocument.h"
#include "xml/MsXmlDomNode.h"
#include "xml/Namespaces.h"
#include "xml/XmlElementView.h"

#include <map>
#include <optional>
#include <regex>
#include <set>

namespace quendle {

namespace {

constexpr uint64_t MaxXmlPartBytes = ArchivedParts::MaxXmlPartBytes;
constexpr uint64_t MaxHiveBytes = ArchivedParts::MaxHiveBytes;

// Part names compare decoded and without letter case: tools differ in what they escape.
std::string partKey(std::string_view partName) {
    return toLowerAscii(percentDecode(partName));
}

class PartsCheck {
  public:
    PartsCheck(const ZipCentralDirectory& archive, const PackagePartsCheck::ProblemSink& problem)
        : archive_(archive), problem_(problem) {}

    void run() {
        checkContentTypes();
        checkFilesystemMetadata();
        checkManifest();
        checkStreamMap();
        checkHive();
    }

  private:
    const ZipDirectoryEntry* find(std::string_view part) const {
        for (const ZipDirectoryEntry& e : archive_.entries())
            if (equalsIgnoreCaseAscii(e.name, part))
                return &e;
        return nullptr;
    }

    std::optional<std::string> bytesOf(std::string_view part, bool required,
                                       uint64_t limit = MaxXmlPartBytes) {
        const ZipDirectoryEntry* entry = find(part);
        if (!entry) {
            if (required)
                problem_({Msg::PartMissing, {part}});
            return std::nullopt;
        }
        std::string bytes;
        Failure why;
        if (!ZipEntryReader::readAll(archive_, *entry, limit, bytes, why)) {
            problem_({Msg::PartUnreadable, {part, why.text()}});
            return std::nullopt;
        }
        return bytes;
    }

    // Loaded, or validated against `schemas`; every error is one problem.
    std::unique_ptr<MsXmlDomDocument> load(std::string_view part, const std::string& bytes,
                                           std::shared_ptr<MsXmlSchemaCollection> schemas = nullptr) {
        auto document = std::make_unique<MsXmlDomDocument>(std::string(part));
        if (schemas) {
            document->SetValidateOnParse(true);
            document->SetSchemas(std::move(schemas));
        }
        try {
            document->LoadXml(bytes);
            return document;
        } catch (const XmlParseException& e) {
            for (const XmlParseErrorRecord& r : e.errors())
                problem_({Msg::SchemaErrorAtLine,
                          {e.fileName(), std::to_string(r.line), std::string(trimWhiteSpace(r.reason))}});
        } catch (const Exception& e) {
            problem_({Msg::PartUnreadable, {part, e.message()}});
        }
        return nullptr;
    }

    void checkContentTypes() {
        auto bytes = bytesOf(ContentTypesPart, true);
        if (!bytes)
            return;
        auto document = load(ContentTypesPart, *bytes);
        if (!document)
            return;
        std::set<std::string> extensions, parts;
        XmlElementView types = XmlElementView::rootOf(*document->GetDocumentElement());
        for (const XmlElementView& d : types.children("Default"))
            extensions.insert(toLowerAscii(d.attribute("Extension")));
        for (const XmlElementView& o : types.children("Override"))
            parts.insert(partKey(o.attribute("PartName")));
        for (const ZipDirectoryEntry& e : archive_.entries()) {
            if (e.isFolder() || equalsIgnoreCaseAscii(e.name, ContentTypesPart))
                continue;
            std::string last = e.name.substr(e.name.find_last_of('\\') + 1);
            size_t dot = last.find_last_of('.');
            std::string extension = dot == std::string::npos ? "" : toLowerAscii(last.substr(dot + 1));
            bool covered = parts.count(partKey("/" + e.stored.name)) ||
                           (!extension.empty() && extensions.count(extension));
            if (!covered)
                problem_({Msg::ContentTypeMissing, {e.name}});
        }
    }

    void checkFilesystemMetadata() {
        auto bytes = bytesOf(FilesystemMetadataPart, true);
        if (!bytes)
            return;
        auto document = load(FilesystemMetadataPart, *bytes, ManifestValidator::FilesystemMetadataSchemas());
        if (!document)
            return;
        XmlElementView filesystem =
            XmlElementView::rootOf(*document->GetDocumentElement()).child("Filesystem");
        checkShortNames(filesystem, "");
        for (const ZipDirectoryEntry& e : archive_.entries()) {
            if (e.isFolder() || !startsWithIgnoreCaseAscii(e.name, "Root\\"))
                continue;
            XmlElementView current = filesystem;
            size_t start = 0;
            while (!current.empty() && start <= e.name.size()) {
                size_t end = e.name.find('\\', start);
                std::string component =
                    e.name.substr(start, end == std::string::npos ? std::string::npos : end - start);
                XmlElementView next;
                for (const XmlElementView& c : current.children("Entry"))
                    if (next.empty() && equalsIgnoreCase(c.attribute("Long"), component))
                        next = c;
                current = next;
                if (end == std::string::npos)
                    break;
                start = end + 1;
            }
            if (current.empty())
                problem_({Msg::MetadataEntryMissing, {e.name}});
        }
    }

    // Within one folder, every 8.3 name (given, or the long name where that is one) is unique.
    void checkShortNames(const XmlElementView& folder, const std::string& path) {
        std::map<std::string, std::string> taken;
        for (const XmlElementView& c : folder.children("Entry")) {
            std::string longName = c.attribute("Long"), shortName = c.attribute("Short");
            std::string where = path.empty() ? longName : path + "\\" + longName;
            if (!shortName.empty() && !ShortNameGenerator::isValidShortName(shortName))
                problem_({Msg::ShortNameInvalid, {where, shortName}});
            std::string name = !shortName.empty()                               ? shortName
                               : ShortNameGenerator::isValidShortName(longName) ? longName
                                                                                : std::string();
            if (!name.empty()) {
                auto [first, isNew] = taken.emplace(foldCase(name), where);
                if (!isNew)
                    problem_({Msg::ShortNameTaken, {name, first->second, where}});
            }
            checkShortNames(c, where);
        }
    }

    void checkManifest() {
        auto bytes = bytesOf(ManifestPart, true);
        if (!bytes)
            return;
        auto manifest = load(ManifestPart, *bytes);
        if (!manifest)
            return;
        checkIdentity(*manifest);
        try {
            MsXmlDomDocument normalized{std::string(ManifestPart)};
            ManifestValidator::NormalizeManifest(*manifest, normalized);
            load(ManifestPart, normalized.GetXml(), ManifestValidator::ManifestSchemas());
        } catch (const Exception& e) {
            problem_({Msg::PartUnreadable, {ManifestPart, e.message()}});
        }
    }

    void checkIdentity(const MsXmlDomDocument& manifest) {
        XmlElementView identity = XmlElementView::rootOf(*manifest.GetDocumentElement()).child("Identity");
        if (identity.empty()) {
            problem_({Msg::IdentityMissing});
            return;
        }
        static const std::regex guid("[{]?[0-9A-Fa-f]{8}-([0-9A-Fa-f]{4}-){3}[0-9A-Fa-f]{12}[}]?");
        auto appv = [&](const char* name) {
            for (const char* year : {"2014", "2013", "2010"}) {
                std::string value = identity.attribute(
                    name, appVNamespace(("/appv/" + std::string(year) + "/manifest").c_str()));
                if (!value.empty())
                    return value;
            }
            return std::string();
        };
        for (const char* name : {"PackageId", "VersionId"}) {
            std::string value = appv(name);
            if (!std::regex_match(value, guid))
                problem_({Msg::IdentityValueInvalid, {std::string("appv:") + name, value}});
        }
        std::string version = identity.attribute("Version");
        if (version.empty() || !VersionValidator().IsValid(version))
            problem_({Msg::IdentityValueInvalid, {"Version", version}});
        if (identity.attribute("Name").empty())
            problem_({Msg::IdentityValueInvalid, {"Name", ""}});
    }

    void checkStreamMap() {
        if (auto bytes = bytesOf(StreamMapPart, false))
            load(StreamMapPart, *bytes, ManifestValidator::StreamMapSchemas());
    }

    void checkHive() {
        auto bytes = bytesOf(RegistryPart, false, MaxHiveBytes);
        if (!bytes)
            return;
        try {
            OfflineRegHive::ReadImage(
                std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(bytes->data()), bytes->size()));
        } catch (const Exception& e) {
            problem_({Msg::HiveDamaged, {e.message()}});
        }
    }

    const ZipCentralDirectory& archive_;
    const PackagePartsCheck::ProblemSink& problem_;
};

} // namespace

void PackagePartsCheck::run(const ZipCentralDirectory& archive, const ProblemSink& problem) {
    PartsCheck(archive, problem).run();
}

} // namespace quendle
