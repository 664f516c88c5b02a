#pragma once
#include <memory>
#include <string>

namespace quendle {

class MsXmlDomDocument;
class MsXmlSchemaCollection;

// Writes the loaded XML parts back into the package's content folder and checks the manifest,
// the file-system metadata and the stream map against the format's schemas on the way.
// The first failure ends the write-back with its exception (an XmlParseException carries the
// validation report).
class ManifestValidator {
  public:
    // Each (part name, document) pair in the cache's order: a map or vector of pairs whose
    // second member is a shared_ptr to the document.
    template <typename Cache>
    static void WriteBackXmlParts(const Cache& cache, const std::string& contentFolder) {
        for (const auto& [name, document] : cache)
            WriteBackXmlPart(name, *document, contentFolder);
    }

    static void WriteBackXmlPart(const std::string& partName, const MsXmlDomDocument& document,
                                 const std::string& contentFolder);

    // Loads the file with validation against the collection, named by its file name.
    static void ValidateFile(const std::string& path, std::shared_ptr<const MsXmlSchemaCollection> schemas);

    // The manifest with every App-V element and attribute moved to the newest App-V namespace
    // and ignorable foreign content removed: what the manifest schemas are applied to.
    static void NormalizeManifest(const MsXmlDomDocument& manifest, MsXmlDomDocument& normalized);

    // The embedded schema collections, compiled and checked.
    static std::shared_ptr<MsXmlSchemaCollection> ManifestSchemas();
    static std::shared_ptr<MsXmlSchemaCollection> FilesystemMetadataSchemas();
    static std::shared_ptr<MsXmlSchemaCollection> StreamMapSchemas();
};

} // namespace quendle
