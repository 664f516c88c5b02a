#include "package/PackageEditCommands.h"

#include "package/AppV5Package.h"
#include "package/PackageRegistry.h"
#include "package/XmlPartEditor.h"

namespace quendle {
namespace {

XmlPartEditor openedEditor(AppV5Package& package) {
    package.openOnDemand();
    return XmlPartEditor(package);
}

PackageRegistry& openedRegistry(AppV5Package& package, const std::string& keyPath) {
    PackageRegistry::checkKeyPath(keyPath);
    package.openOnDemand();
    return package.registry();
}

} // namespace

void setNodeTextCommand(AppV5Package& package, const std::string& part, const std::string& xpath,
                        const std::string& text) {
    openedEditor(package).setNodeText(part, xpath, text);
}

void newElementCommand(AppV5Package& package, const std::string& part, const std::string& xpath,
                       const std::string& elementName, const std::string& namespaceUri,
                       const std::string& elementText, bool createIfNotExist) {
    openedEditor(package).newElement(part, xpath, elementName, namespaceUri, elementText, createIfNotExist);
}

void setElementAttributeCommand(AppV5Package& package, const std::string& part, const std::string& xpath,
                                const std::string& attributeName, const std::string& attributeValue) {
    openedEditor(package).setElementAttribute(part, xpath, attributeName, attributeValue);
}

void deleteSingleNodeCommand(AppV5Package& package, const std::string& part, const std::string& xpath) {
    openedEditor(package).deleteSingleNode(part, xpath);
}

void deleteNodesCommand(AppV5Package& package, const std::string& part, const std::string& xpath) {
    openedEditor(package).deleteNodes(part, xpath);
}

void setRegistryKeyCommand(AppV5Package& package, const std::string& keyPath, const std::string& level) {
    openedRegistry(package, keyPath)
        .SetRegistryKey(keyPath, level == "merge", level == "overwrite", level == "deleted");
}

void setRegistryValueCommand(AppV5Package& package, const std::string& keyPath, const std::string& valueName,
                             const std::string& type, const std::string& value, bool pathVariable) {
    openedRegistry(package, keyPath)
        .SetRegistryValue(keyPath, valueName, PackageRegistry::valueTypeFromText(type), value, pathVariable);
}

void setVirtualizeRegValueDeletedCommand(AppV5Package& package, const std::string& keyPath,
                                         const std::string& valueName) {
    openedRegistry(package, keyPath).SetVirtualizeRegValueDeleted(keyPath, valueName);
}

void deleteRegistryValueCommand(AppV5Package& package, const std::string& keyPath,
                                const std::string& valueName) {
    openedRegistry(package, keyPath).DeleteRegistryValue(keyPath, valueName);
}

void deleteRegistryKeyCommand(AppV5Package& package, const std::string& keyPath) {
    openedRegistry(package, keyPath).DeleteRegistryKey(keyPath);
}

void deleteRegistryKeyTreeCommand(AppV5Package& package, const std::string& keyPath) {
    openedRegistry(package, keyPath).DeleteRegistryKeyTree(keyPath);
}

} // namespace quendle
