#include "package/ManifestValidator.h"

#include "os/FileSystem.h"
#include "util/strings/StringSystem.h"
#include "xml/MsXmlDomDocument.h"
#include "xml/MsXmlSchemaCollection.h"
#include "xml/Namespaces.h"
#include "xml/XslTransform.h"

#include <string_view>

namespace quendle {

namespace {

enum Resource : int {
    AppV2014ManifestSchema = 101,
    AppX2010ManifestSchema = 102,
    UpdateToNewestNamespaceStylesheet = 103,
    FileSystemMetadataSchema = 104,
    StreamMapSchema = 105,
};

void addResource(MsXmlSchemaCollection& collection, const char* ns, int id, const char* name) {
    MsXmlDomDocument schema(name);
    schema.LoadFromResource(id);
    collection.Add(ns, schema);
}

} // namespace

std::shared_ptr<MsXmlSchemaCollection> ManifestValidator::ManifestSchemas() {
    auto collection = std::make_shared<MsXmlSchemaCollection>();
    addResource(*collection, appVNamespace("/appv/2014/manifest").c_str(), AppV2014ManifestSchema,
                "AppV2014Manifest.xsd");
    addResource(*collection, appVNamespace("/appx/2010/manifest").c_str(), AppX2010ManifestSchema,
                "AppX2010Manifest.xsd");
    collection->Validate();
    return collection;
}

std::shared_ptr<MsXmlSchemaCollection> ManifestValidator::FilesystemMetadataSchemas() {
    auto collection = std::make_shared<MsXmlSchemaCollection>();
    addResource(*collection, appVNamespace("/appv/2010/FilesystemMetadata").c_str(), FileSystemMetadataSchema,
                "FileSystemMetadata.xsd");
    collection->Validate();
    return collection;
}

std::shared_ptr<MsXmlSchemaCollection> ManifestValidator::StreamMapSchemas() {
    auto collection = std::make_shared<MsXmlSchemaCollection>();
    addResource(*collection, appVNamespace("/appv/2010/streammap").c_str(), StreamMapSchema, "StreamMap.xsd");
    collection->Validate();
    return collection;
}

void ManifestValidator::NormalizeManifest(const MsXmlDomDocument& manifest, MsXmlDomDocument& normalized) {
    MsXmlDomDocument stylesheet("UpdateToNewestNamespace.xsl");
    stylesheet.LoadFromResource(UpdateToNewestNamespaceStylesheet);
    XslTransform transform;
    transform.SetStylesheet(stylesheet);
    transform.AddParameter("understoodNamespaces", "[" + appVNamespace("/appv/2010/manifest") + "][" +
                                                       appVNamespace("/appv/2013/manifest") + "][" +
                                                       appVNamespace("/appv/2014/manifest") + "]");
    transform.AddParameter("outputNamespace", appVNamespace("/appv/2014/manifest"));
    transform.AddParameter("nsForIgnorableNamespace", appVNamespace("/appv/2010/manifest"));
    transform.Transform(manifest, normalized);
}

void ManifestValidator::ValidateFile(const std::string& path,
                                     std::shared_ptr<const MsXmlSchemaCollection> schemas) {
    MsXmlDomDocument document(hostpath::fileNameOf(path));
    document.SetValidateOnParse(true);
    document.SetSchemas(std::move(schemas));
    document.Load(path);
}

void ManifestValidator::WriteBackXmlPart(const std::string& partName, const MsXmlDomDocument& document,
                                         const std::string& contentFolder) {
    const std::string path = hostpath::joinPath(contentFolder, partName);
    if (equalsIgnoreCaseAscii(partName, "AppxManifest.xml")) {
        auto schemas = ManifestSchemas();
        MsXmlDomDocument normalized("AppxManifest.xml");
        NormalizeManifest(document, normalized);
        normalized.Save(path);
        ValidateFile(path, schemas);
    }
    // For the manifest this replaces the checked copy by the manifest as edited.
    document.Save(path);
    if (equalsIgnoreCaseAscii(partName, "FilesystemMetadata.xml"))
        ValidateFile(path, FilesystemMetadataSchemas());
    else if (equalsIgnoreCaseAscii(partName, "StreamMap.xml"))
        ValidateFile(path, StreamMapSchemas());
}

} // namespace quendle
