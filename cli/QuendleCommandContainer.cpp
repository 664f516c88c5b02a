#include "cli/QuendleCommandContainer.h"

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

} // namespace

const std::vector<std::string>& QuendleCommandContainer::editableXmlPartNames() {
    static const std::vector<std::string> names = {"AppxManifest.xml", "FilesystemMetadata.xml",
                                                   "PackageHistory.xml", "StreamMap.xml",
                                                   "[Content_Types].xml"};
    return names;
}

QuendleCommandContainer::QuendleCommandContainer(AppV5Package* package)
    : package_(package), commandFile_(CommandFileMarker, this) {
    using Handler = uint32_t (QuendleCommandContainer::*)(const CommandValues&);
    auto add = [this](const char* name, Handler handler, uint32_t flags,
                      std::vector<CommandParameter> params) {
        commands_.emplace_back(
            name, this, [this, handler](const CommandValues& v) { return (this->*handler)(v); }, flags,
            std::move(params));
    };
    const auto& xmlParts = editableXmlPartNames();
    using C = QuendleCommandContainer;

    add("Update", &C::update, CommandTopLevel, {param(P, 131), param(PR, 135)});
    add("BatchFileUpdate", &C::batchFileUpdate, CommandTopLevel,
        {param(P, 131), param(P, 176), named("-nofail", S, 0)});
    add("Help", &C::help, CommandTopLevel, {param(PO, 0)});

    add("Update-PackageIdentity", &C::updatePackageIdentity, 0,
        {named("-packageid", N, 192), named("-versionid", N, 193), named("-version", N, 194)});
    add("Update-PackageHistory", &C::updatePackageHistory, 0,
        {named("-packagingengine", N, 181), named("-sequencerversion", N, 182)});
    add("Add-File", &C::addFile, 0, {param(P, 132), param(P, 133)});
    add("Update-File", &C::updateFile, 0, {param(P, 132), param(P, 133)});
    add("Del-File", &C::delFile, 0, {param(P, 132)});
    add("Add-ScriptFile", &C::addScriptFile, 0, {param(P, 133)});
    add("Update-ScriptFile", &C::updateScriptFile, 0, {param(P, 189), param(P, 133)});
    add("Del-ScriptFile", &C::delScriptFile, 0, {param(P, 189)});
    add("Set-NodeText", &C::setNodeText, 0,
        {param(P, 145, xmlParts), named("-xpath", NR, 146), named("-nodetext", N, 147)});
    add("New-Element", &C::newElement, 0,
        {param(P, 145, xmlParts), named("-xpath", N, 146), named("-elementname", NR, 148),
         named("-namespaceURI", NR, 151), named("-elementtext", N, 147), named("-createifnotexist", S, 0)});
    add("Set-ElementAttribute", &C::setElementAttribute, 0,
        {param(P, 145, xmlParts), named("-xpath", N, 146), named("-attributename", NR, 149),
         named("-attributevalue", N, 150)});
    add("Del-SingleNode", &C::delSingleNode, 0, {param(P, 145, xmlParts), named("-xpath", NR, 146)});
    add("Del-Nodes", &C::delNodes, 0, {param(P, 145, xmlParts), named("-xpath", NR, 146)});
    add("TransformManifest", &C::transformManifest, 0,
        {param(P, 145, xmlParts), param(P, 159), param(POR, 160)});
    add("Set-RegistryKey", &C::setRegistryKey, 0,
        {param(P, 165), named("-virtualizationlevel", N, 166, {"merge", "overwrite", "deleted"})});
    add("Set-RegistryValue", &C::setRegistryValue, 0,
        {param(P, 165), named("-valuename", N, 167),
         named("-type", N, 168, {"sz", "expandsz", "dword", "multisz", "binary"}), named("-value", N, 169),
         named("-pathvariable", S, 170)});
    add("Set-VirtualizeRegValueDeleted", &C::setVirtualizeRegValueDeleted, 0, {param(P, 165), param(P, 167)});
    add("Del-RegistryValue", &C::delRegistryValue, 0, {param(P, 165), param(P, 167)});
    add("Del-RegistryKey", &C::delRegistryKey, 0, {param(P, 165)});
    add("Del-RegistryKeyAndSubkeys", &C::delRegistryKeyAndSubkeys, 0, {param(P, 165)});

    add("Verify", &C::verify, CommandTopLevel, {param(P, 131)});
    add("Info", &C::info, CommandTopLevel, {param(P, 131), named("-json", S, 0), named("-files", S, 0)});
    add("Expand", &C::expand, CommandTopLevel, {param(P, 131), param(P, 1520), named("-force", S, 0)});
    add("Export-Registry", &C::exportRegistry, CommandTopLevel, {param(P, 131), param(PO, 1521)});
    // Bulk edits, after the specified commands so that their usage lines stay as they are.
    add("Add-Folder", &C::addFolder, 0, {param(P, 1600), param(P, 1601)});
    add("Del-Folder", &C::delFolder, 0, {param(P, 1600)});
    add("Import-Registry", &C::importRegistry, 0, {param(P, 1602)});
}

const std::vector<Command>& QuendleCommandContainer::getCommands() const {
    return commands_;
}

} // namespace quendle
