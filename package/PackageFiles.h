#pragma once
#include "package/FileTable.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quendle {

class AppV5Package;
class MsXmlDomElement;

// `value` as an XPath 1.0 string literal: in apostrophes, in quotes when it holds an
// apostrophe, or as concat() of both kinds when it holds both.
std::string xpathStringLiteral(std::string_view value);

// The first child of `parent` selected by `childXPath` whose `attribute` equals `value` under
// the file table's case rules (a name that differs only in letter case is the same name).
std::shared_ptr<MsXmlDomElement> childWithName(const MsXmlDomElement& parent, const std::string& childXPath,
                                               const std::string& attribute, std::string_view value);

// A result line in green, with the XML of the changed element on a second line when given.
void printChange(std::string_view text, std::string_view elementXml = {});

// While one lives, printChange prints nothing: a bulk edit reports its own summary instead.
class ChangeLineMute {
  public:
    ChangeLineMute();
    ~ChangeLineMute();
    ChangeLineMute(const ChangeLineMute&) = delete;
    ChangeLineMute& operator=(const ChangeLineMute&) = delete;
};

// The file operations change only the table; the bytes are read when the package is saved.
// Each prints its result line; the caller marks the package modified.

// Adds a new entry; raises 142 when the path (ignoring case) is in the table already.
void addFile(FileTable& files, const PackagePath& packagePath, const std::string& sourcePath);

enum class UpdateOutcome { Replaced, Added };
// Points an existing entry at a new source (178). A path not yet in the table is added as by
// addFile (139); the caller then owes it the metadata and content type of an added file.
UpdateOutcome updateFile(FileTable& files, const PackagePath& packagePath, const std::string& sourcePath);

// Removes an entry (138); raises 137 when the path is not in the table.
void removeFile(FileTable& files, const PackagePath& packagePath);

// The file and script commands, after their count check: each checks its values, opens the
// package on demand and pairs the file operation with the metadata and content types.

// Add-File: source exists (65012), package path valid; then addFile, metadata, content type.
void addFileCommand(AppV5Package& package, std::string_view packagePath, std::string_view sourcePath);
// Update-File: as Add-File, but an existing path gets the new source instead (178).
void updateFileCommand(AppV5Package& package, std::string_view packagePath, std::string_view sourcePath);
// Del-File: package path valid; then removeFile, metadata, content type.
void deleteFileCommand(AppV5Package& package, std::string_view packagePath);
// Add-ScriptFile: "Scripts\<file name of the source>"; content type, no metadata.
void addScriptFileCommand(AppV5Package& package, std::string_view sourcePath);
// Update-ScriptFile: "Scripts\<name>" gets the new source (or is added as by Add-ScriptFile).
void updateScriptFileCommand(AppV5Package& package, std::string_view scriptName, std::string_view sourcePath);
// Del-ScriptFile: removes "Scripts\<name>" and its content type; no metadata.
void deleteScriptFileCommand(AppV5Package& package, std::string_view scriptName);

} // namespace quendle
