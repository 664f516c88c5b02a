#pragma once
#include <string>

namespace quendle {

class AppV5Package;

// The entry points of the XML and registry sub-commands. Each takes the values as the user typed
// them, checks what can be checked without the package, opens the package on demand and makes
// the edit (XmlPartEditor, PackageRegistry).

void setNodeTextCommand(AppV5Package& package, const std::string& part, const std::string& xpath,
                        const std::string& text);
void newElementCommand(AppV5Package& package, const std::string& part, const std::string& xpath,
                       const std::string& elementName, const std::string& namespaceUri,
                       const std::string& elementText, bool createIfNotExist);
void setElementAttributeCommand(AppV5Package& package, const std::string& part, const std::string& xpath,
                                const std::string& attributeName, const std::string& attributeValue);
void deleteSingleNodeCommand(AppV5Package& package, const std::string& part, const std::string& xpath);
void deleteNodesCommand(AppV5Package& package, const std::string& part, const std::string& xpath);

// The key path is checked (RegistryKeyPathInvalid) before the package is opened. The level and the type compare
// exactly: "Merge" passes the parser but sets no level, "DWORD" gives type 0.
void setRegistryKeyCommand(AppV5Package& package, const std::string& keyPath, const std::string& level);
void setRegistryValueCommand(AppV5Package& package, const std::string& keyPath, const std::string& valueName,
                             const std::string& type, const std::string& value, bool pathVariable);
void setVirtualizeRegValueDeletedCommand(AppV5Package& package, const std::string& keyPath,
                                         const std::string& valueName);
void deleteRegistryValueCommand(AppV5Package& package, const std::string& keyPath,
                                const std::string& valueName);
void deleteRegistryKeyCommand(AppV5Package& package, const std::string& keyPath);
void deleteRegistryKeyTreeCommand(AppV5Package& package, const std::string& keyPath);

} // namespace quendle
