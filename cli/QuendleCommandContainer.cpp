#include "cli/QuendleCommandContainer.h"

#include "cli/CommandBinding.h"
#include "cli/PackageCommands.h"
#include "core/Exception.h"
#include "os/FileSystem.h"
#include "package/AppV5Package.h"
#include "package/DynamicConfiguration.h"
#include "package/PackageDiff.h"
#include "package/PackageEditCommands.h"
#include "package/PackageExpander.h"
#include "package/PackageFiles.h"
#include "package/PackageFolders.h"
#include "package/PackageHistory.h"
#include "package/PackageIdentity.h"
#include "package/PackageInfo.h"
#include "package/PackageVerifier.h"
#include "package/RegistryExport.h"
#include "package/RegistryImport.h"

namespace quendle {
namespace {

// Parameter kinds of the table.
constexpr uint32_t P = ParamPositional | ParamRequired;
constexpr uint32_t PR = ParamPositional | ParamRequired | ParamRest;
constexpr uint32_t PO = ParamPositional;
constexpr uint32_t POR = ParamPositional | ParamRest;
constexpr uint32_t N = 0;
constexpr uint32_t NR = ParamRequired;
constexpr uint32_t S = ParamSwitch;

CommandParameter param(uint32_t flags, uint32_t textId, std::vector<std::string> allowed = {}) {
    return CommandParameter{std::string(), std::move(allowed), flags, 0, textId};
}

CommandParameter named(std::string name, uint32_t flags, uint32_t textId,
                       std::vector<std::string> allowed = {}) {
    return CommandParameter{std::move(name), std::move(allowed), flags, 0, textId};
}

// The package model's commands need the one package of the run.
AppV5Package& requirePackage(AppV5Package* package) {
    if (!package)
        throw Exception(Msg::NullPointer);
    return *package;
}

// A handler that calls `function` with the package of the run and the typed values.
template <typename R, typename... A>
CommandHandler onPackage(AppV5Package* package, R (*function)(AppV5Package&, A...)) {
    return typedHandler(
        [package, function](A... values) { return function(requirePackage(package), values...); });
}

// The read-only commands take host paths as typed; an empty optional path stays empty.
std::string hostPath(const std::string& typed) {
    return typed.empty() ? typed : hostpath::normalizePath(typed);
}

} // namespace

const std::vector<std::string>& QuendleCommandContainer::editableXmlPartNames() {
    static const std::vector<std::string> names = {"AppxManifest.xml", "FilesystemMetadata.xml",
                                                   "PackageHistory.xml", "StreamMap.xml",
                                                   "[Content_Types].xml"};
    return names;
}

QuendleCommandContainer::QuendleCommandContainer(AppV5Package* package)
    : package_(package), commandFile_(CommandFileMarker, this) {
    auto add = [this](const char* name, uint32_t flags, std::vector<CommandParameter> params,
                      CommandHandler handler) -> Command& {
        return commands_.emplace_back(name, this, std::move(handler), flags, std::move(params));
    };
    // Their values: the package, then each parameter in declaration order.
    auto switchOn = [](size_t index) {
        return [index](const CommandValues& values) { return values.at(index) == "true"; };
    };
    const auto& xmlParts = editableXmlPartNames();
    using Rest = std::vector<std::string>;

    add("Update", CommandTopLevel, {param(P, Msg::PhPackage), param(PR, Msg::PhCommand)},
        typedHandler([this](const std::string& packagePath, const Rest& commandLine) {
            return PackageCommands::update(requirePackage(package_), *this, packagePath, commandLine);
        }));
    add("BatchFileUpdate", CommandTopLevel,
        {param(P, Msg::PhPackage), param(P, Msg::PhCommandsFile), named("-nofail", S, 0)},
        typedHandler([this](const std::string& packagePath, const std::string& commandFilePath, bool noFail) {
            return PackageCommands::batchFileUpdate(requirePackage(package_), commandFile_, packagePath,
                                                    commandFilePath, noFail);
        }));
    add("Help", CommandTopLevel, {param(PO, 0)},
        typedHandler([this](const std::string& name) { printHelp(name); }));

    add("Update-PackageIdentity", 0,
        {named("-packageid", N, Msg::PhIdentityPackageId), named("-versionid", N, Msg::PhIdentityVersionId),
         named("-version", N, Msg::PhIdentityVersion)},
        onPackage(package, &updatePackageIdentity));
    add("Update-PackageHistory", 0,
        {named("-packagingengine", N, Msg::PhPackagingEngine),
         named("-sequencerversion", N, Msg::PhSequencerVersion)},
        onPackage(package, &updatePackageHistory));
    add("Add-File", 0, {param(P, Msg::PhFilePackagePath), param(P, Msg::PhFileSourcePath)},
        onPackage(package, &addFileCommand));
    add("Update-File", 0, {param(P, Msg::PhFilePackagePath), param(P, Msg::PhFileSourcePath)},
        onPackage(package, &updateFileCommand));
    add("Del-File", 0, {param(P, Msg::PhFilePackagePath)}, onPackage(package, &deleteFileCommand));
    add("Add-ScriptFile", 0, {param(P, Msg::PhFileSourcePath)}, onPackage(package, &addScriptFileCommand));
    add("Update-ScriptFile", 0, {param(P, Msg::PhScriptFileName), param(P, Msg::PhFileSourcePath)},
        onPackage(package, &updateScriptFileCommand));
    add("Del-ScriptFile", 0, {param(P, Msg::PhScriptFileName)}, onPackage(package, &deleteScriptFileCommand));
    add("Set-NodeText", 0,
        {param(P, Msg::PhManifestFile, xmlParts), named("-xpath", NR, Msg::PhXPath),
         named("-nodetext", N, Msg::PhNodeText)},
        onPackage(package, &setNodeTextCommand));
    add("New-Element", 0,
        {param(P, Msg::PhManifestFile, xmlParts), named("-xpath", N, Msg::PhXPath),
         named("-elementname", NR, Msg::PhElementName), named("-namespaceURI", NR, Msg::PhNamespaceUri),
         named("-elementtext", N, Msg::PhNodeText), named("-createifnotexist", S, 0)},
        onPackage(package, &newElementCommand));
    add("Set-ElementAttribute", 0,
        {param(P, Msg::PhManifestFile, xmlParts), named("-xpath", N, Msg::PhXPath),
         named("-attributename", NR, Msg::PhAttributeName),
         named("-attributevalue", N, Msg::PhAttributeValue)},
        onPackage(package, &setElementAttributeCommand));
    add("Del-SingleNode", 0, {param(P, Msg::PhManifestFile, xmlParts), named("-xpath", NR, Msg::PhXPath)},
        onPackage(package, &deleteSingleNodeCommand));
    add("Del-Nodes", 0, {param(P, Msg::PhManifestFile, xmlParts), named("-xpath", NR, Msg::PhXPath)},
        onPackage(package, &deleteNodesCommand));
    add("TransformManifest", 0,
        {param(P, Msg::PhManifestFile, xmlParts), param(P, Msg::PhTransformFile),
         param(POR, Msg::PhTransformParameters)},
        typedHandler([this](const std::string& part, const std::string& xslFile, const Rest& parameters) {
            PackageCommands::transformManifest(requirePackage(package_), *this, part, xslFile, parameters);
        }));
    add("Set-RegistryKey", 0,
        {param(P, Msg::PhRegistryKeyPath),
         named("-virtualizationlevel", N, Msg::PhVirtualizationLevel, {"merge", "overwrite", "deleted"})},
        onPackage(package, &setRegistryKeyCommand));
    add("Set-RegistryValue", 0,
        {param(P, Msg::PhRegistryKeyPath), named("-valuename", N, Msg::PhRegistryValueName),
         named("-type", N, Msg::PhRegistryValueType, {"sz", "expandsz", "dword", "multisz", "binary"}),
         named("-value", N, Msg::PhRegistryValue), named("-pathvariable", S, Msg::PhPathVariable)},
        onPackage(package, &setRegistryValueCommand));
    add("Set-VirtualizeRegValueDeleted", 0,
        {param(P, Msg::PhRegistryKeyPath), param(P, Msg::PhRegistryValueName)},
        onPackage(package, &setVirtualizeRegValueDeletedCommand));
    add("Del-RegistryValue", 0, {param(P, Msg::PhRegistryKeyPath), param(P, Msg::PhRegistryValueName)},
        onPackage(package, &deleteRegistryValueCommand));
    add("Del-RegistryKey", 0, {param(P, Msg::PhRegistryKeyPath)},
        onPackage(package, &deleteRegistryKeyCommand));
    add("Del-RegistryKeyAndSubkeys", 0, {param(P, Msg::PhRegistryKeyPath)},
        onPackage(package, &deleteRegistryKeyTreeCommand));

    add("Verify", CommandTopLevel, {param(P, Msg::PhPackage), named("-json", S, 0)},
        typedHandler([](const std::string& packagePath, bool json) {
            PackageVerifier::verifyCommand(hostPath(packagePath), json);
        }))
        .printsDataOnlyWhen(switchOn(1));
    add("Info", CommandTopLevel, {param(P, Msg::PhPackage), named("-json", S, 0), named("-files", S, 0)},
        typedHandler([](const std::string& packagePath, bool json, bool files) {
            PackageInfo::infoCommand(hostPath(packagePath), json, files);
        }))
        .printsDataOnlyWhen(switchOn(1));
    add("Expand", CommandTopLevel, {param(P, Msg::PhPackage), param(P, Msg::PhFolder), named("-force", S, 0)},
        typedHandler([](const std::string& packagePath, const std::string& folder, bool force) {
            PackageExpander::expandCommand(hostPath(packagePath), hostPath(folder), force);
        }));
    add("Export-Registry", CommandTopLevel, {param(P, Msg::PhPackage), param(PO, Msg::PhRegFile)},
        typedHandler([](const std::string& packagePath, const std::string& regFile) {
            exportRegistryCommand(hostPath(packagePath), hostPath(regFile));
        }))
        // Without a file the registry text goes to standard output.
        .printsDataOnlyWhen([](const CommandValues& values) { return values.at(1).empty(); });
    // Bulk edits, after the specified commands so that their usage lines stay as they are.
    add("Add-Folder", 0, {param(P, Msg::PhFolderPackagePath), param(P, Msg::PhFolderSourcePath)},
        onPackage(package, &addFolderCommand));
    add("Del-Folder", 0, {param(P, Msg::PhFolderPackagePath)}, onPackage(package, &deleteFolderCommand));
    add("Import-Registry", 0, {param(P, Msg::PhRegFilePath)}, onPackage(package, &importRegistryCommand));
    add("Export-Config", CommandTopLevel,
        {param(P, Msg::PhPackage), param(PO, Msg::PhFolder), named("-force", S, 0)},
        typedHandler([](const std::string& packagePath, const std::string& folder, bool force) {
            DynamicConfiguration::exportConfigCommand(hostPath(packagePath), hostPath(folder), force);
        }));
    add("Diff", CommandTopLevel,
        {param(P, Msg::PhOldPackage), param(P, Msg::PhNewPackage), named("-json", S, 0)},
        typedHandler([](const std::string& before, const std::string& after, bool json) {
            return PackageDiff::diffCommand(hostPath(before), hostPath(after), json);
        }))
        // A diff is data like a diff(1) of two files, in both of its forms.
        .printsDataOnlyWhen([](const CommandValues&) { return true; });
}

const std::vector<Command>& QuendleCommandContainer::getCommands() const {
    return commands_;
}

} // namespace quendle
