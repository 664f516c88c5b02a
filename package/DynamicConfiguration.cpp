#include "package/DynamicConfiguration.h"

#include "core/ConsoleWriter.h"
#include "core/Exception.h"
#include "os/FileSystem.h"
#include "os/Guid.h"
#include "package/KnownParts.h"
#include "package/PackageInfo.h"
#include "util/strings/MessageFormat.h"
#include "util/strings/StringSystem.h"
#include "xml/Namespaces.h"
#include "xml/XmlOutput.h"

namespace quendle {

namespace {

const std::string DeploymentNamespace = appVNamespace("/appv/2010/deploymentconfiguration");
const std::string UserNamespace = appVNamespace("/appv/2010/userconfiguration");

// The extension subsystems of the user's part, in the order of the published examples, with
// the manifest category whose extensions each one lists.
struct ExtensionSubsystem {
    const char* element;
    const char* category;
};
constexpr ExtensionSubsystem UserExtensionSubsystems[] = {
    {"Shortcuts", "AppV.Shortcut"},       {"FileTypeAssociations", "AppV.FileTypeAssociation"},
    {"URLProtocols", "AppV.URLProtocol"}, {"SoftwareClients", "AppV.SoftwareClient"},
    {"AppPaths", "AppV.AppPath"},
};
// Subsystems that are switched on or off as a whole.
constexpr const char* UserSwitchedSubsystems[] = {"Objects", "Registry", "FileSystem", "Fonts"};

bool isManifestNamespace(const std::string& uri) {
    return uri.starts_with(appVNamespace("/appv/")) && uri.ends_with("/manifest");
}

// Writes a manifest element and everything below it into the configuration's namespace: the
// App-V manifest namespaces of every year become the configuration's own, any other namespace
// is declared where it begins.
class ElementCopier {
  public:
    ElementCopier(XmlOutput& out, std::string configNamespace)
        : out_(out), configNamespace_(std::move(configNamespace)) {}

    void copy(const XmlElementView& e, const std::string& inherited) {
        const std::string ns = isManifestNamespace(e.namespaceUri()) ? configNamespace_ : e.namespaceUri();
        std::vector<std::string> names, values;
        if (ns != inherited) {
            names.push_back("xmlns");
            values.push_back(ns);
        }
        int prefixes = 0;
        for (const XmlElementView::Attribute& a : e.attributes()) {
            if (a.namespaceUri.empty() || isManifestNamespace(a.namespaceUri)) {
                names.push_back(a.name);
            } else {
                std::string prefix = "q" + std::to_string(++prefixes);
                names.push_back("xmlns:" + prefix);
                values.push_back(a.namespaceUri);
                names.push_back(prefix + ":" + a.name);
            }
            values.push_back(a.value);
        }
        const std::string name = e.localName();
        if (e.isLeaf()) {
            out_.StartElement(name, names, values, true, e.text());
            return;
        }
        out_.StartElement(name, names, values, false);
        for (const XmlElementView& child : e.children())
            copy(child, ns);
        out_.EndElement(name);
    }

  private:
    XmlOutput& out_;
    std::string configNamespace_;
};

class ConfigWriter {
  public:
    ConfigWriter(const ManifestSummary& manifest, const std::string& path, std::string configNamespace)
        : manifest_(manifest), out_(ExceptionFileErrorReporter::instance(), path),
          ns_(std::move(configNamespace)), copier_(out_, ns_) {
        out_.setEncodingName("utf-8");
        out_.WriteDeclaration();
    }

    void startRoot(const char* name) {
        out_.StartElement(name, {"PackageId", "DisplayName", "xmlns"},
                          {manifest_.packageId, manifest_.displayName, ns_}, false);
    }

    // What the user's part holds, in a UserConfig file or in a deployment file's UserConfiguration.
    void userPart() {
        out_.StartElement("Applications", {}, {}, false);
        for (const ManifestSummary::Application& a : manifest_.applications)
            out_.StartElement("Application", {"Id", "Enabled"}, {a.id, "true"}, true);
        out_.EndElement("Applications");
        out_.StartElement("Subsystems", {}, {}, false);
        for (const ExtensionSubsystem& s : UserExtensionSubsystems)
            extensionSubsystem(s.element, s.category);
        out_.StartElement("COM", {"Mode"}, {"Isolated"}, true);
        for (const char* name : UserSwitchedSubsystems)
            out_.StartElement(name, {"Enabled"}, {"true"}, true);
        environmentVariables();
        out_.StartElement("Services", {"Enabled"}, {"true"}, true);
        out_.EndElement("Subsystems");
        copyIfPresent(manifest_.userScripts);
    }

    void machinePart() {
        out_.StartElement("MachineConfiguration", {}, {}, false);
        out_.StartElement("Subsystems", {}, {}, false);
        extensionSubsystem("ApplicationCapabilities", "AppV.ApplicationCapabilities");
        out_.EndElement("Subsystems");
        copyIfPresent(manifest_.machineScripts);
        copyIfPresent(manifest_.terminateChildProcesses);
        out_.EndElement("MachineConfiguration");
    }

    void finish() {
        out_.EndAll();
        out_.Close();
    }

    XmlOutput& out() { return out_; }

  private:
    // Enabled, and with the manifest's extensions of the category listed when it has any: a
    // list present replaces the manifest's own for that subsystem, so it must be complete.
    void extensionSubsystem(const char* element, const char* category) {
        std::vector<const ManifestSummary::Extension*> extensions = manifest_.ofCategory(category);
        if (extensions.empty()) {
            out_.StartElement(element, {"Enabled"}, {"true"}, true);
            return;
        }
        out_.StartElement(element, {"Enabled"}, {"true"}, false);
        out_.StartElement("Extensions", {}, {}, false);
        for (const ManifestSummary::Extension* e : extensions)
            copier_.copy(e->element, ns_);
        out_.EndElement("Extensions");
        out_.EndElement(element);
    }

    // The variables of every environment extension, as the subsystem's Include and Delete lists.
    void environmentVariables() {
        std::vector<XmlElementView> lists;
        for (const ManifestSummary::Extension* e : manifest_.ofCategory("AppV.EnvironmentVariables"))
            for (const XmlElementView& list : e->element.child("EnvironmentVariables").children())
                lists.push_back(list);
        out_.StartElement("EnvironmentVariables", {"Enabled"}, {"true"}, lists.empty());
        if (lists.empty())
            return;
        for (const XmlElementView& list : lists)
            copier_.copy(list, ns_);
        out_.EndElement("EnvironmentVariables");
    }

    void copyIfPresent(const XmlElementView& element) {
        if (!element.empty())
            copier_.copy(element, ns_);
    }

    const ManifestSummary& manifest_;
    XmlOutput out_;
    std::string ns_;
    ElementCopier copier_;
};

// Writes through a temporary file beside the target, so that a failed write leaves no half file.
template <typename Write> void writeReplacing(const std::string& path, const Write& write) {
    const std::string temporary = path + "." + newGuidString() + ".tmp";
    try {
        write(temporary);
    } catch (...) {
        hostpath::deleteFile(temporary);
        throw;
    }
    if (!hostpath::renameFile(temporary, path)) {
        hostpath::deleteFile(temporary);
        throw Exception(Msg::FileWriteError, path);
    }
}

// "MyApp.appv" gives "MyApp".
std::string baseName(const std::string& packagePath) {
    std::string name = hostpath::fileNameOf(packagePath);
    size_t dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

} // namespace

void DynamicConfiguration::writeDeploymentConfig(const std::string& path) const {
    ConfigWriter writer(manifest_, path, DeploymentNamespace);
    writer.startRoot("DeploymentConfiguration");
    writer.out().StartElement("UserConfiguration", {}, {}, false);
    writer.userPart();
    writer.out().EndElement("UserConfiguration");
    writer.machinePart();
    writer.finish();
}

void DynamicConfiguration::writeUserConfig(const std::string& path) const {
    ConfigWriter writer(manifest_, path, UserNamespace);
    writer.startRoot("UserConfiguration");
    writer.userPart();
    writer.finish();
}

void DynamicConfiguration::exportConfigCommand(const std::string& packagePath, const std::string& folder,
                                               bool force) {
    PackageInfo info = PackageInfo::read(packagePath, false);
    if (!info.manifest.present)
        throw Exception(formatStringId(Msg::PartMissing, {ManifestPart}));
    // Beside the package unless told otherwise; a folder that is missing is made (one level).
    const std::string target = folder.empty() ? hostpath::folderOf(packagePath) : folder;
    if (!target.empty() && !hostpath::folderExists(target) && !hostpath::createFolder(target))
        throw Exception(Msg::SourceFolderNotFound, target);
    auto inTarget = [&](const std::string& file) {
        return target.empty() ? file : hostpath::joinPath(target, file);
    };
    const std::string name = baseName(packagePath);
    const std::string deployment = inTarget(name + "_DeploymentConfig.xml");
    const std::string user = inTarget(name + "_UserConfig.xml");
    for (const std::string& path : {deployment, user})
        if (!force && hostpath::pathExists(path))
            throw Exception(Msg::ConfigFileExists, path);
    DynamicConfiguration config(info.manifest);
    writeReplacing(deployment, [&](const std::string& path) { config.writeDeploymentConfig(path); });
    writeReplacing(user, [&](const std::string& path) { config.writeUserConfig(path); });
    if (ConsoleWriter* console = ConsoleWriter::installed()) {
        ConsoleColorScope green(AttributeGreen);
        console->writeLine(formatStringId(Msg::ConfigWritten, {packagePath, deployment, user}));
    }
}

} // namespace quendle
