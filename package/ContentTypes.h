#pragma once
#include "package/FileTable.h"

#include <functional>
#include <string>
#include <string_view>

namespace quendle {

class AppV5Package;
class MsXmlDomDocument;

// The content types of "[Content_Types].xml": every file of a package is "appv/vfs-file",
// registered once per extension (`Default`) or, without an extension, per part name
// (`Override`).
class ContentTypes {
  public:
    // `onChange` runs after each change of the document (the package's markModified).
    explicit ContentTypes(MsXmlDomDocument& document, std::function<void()> onChange = {})
        : document_(document), onChange_(std::move(onChange)) {}

    // Registers the content type of an added file. Returns true when the document changed.
    bool add(const PackagePath& packagePath);
    // Drops the Override of a removed file, and its extension's Default unless another file of
    // `files` (which no longer holds the removed one) still needs it; "xml" and "dat" stay for
    // the package's own parts.
    // Returns true when the document changed.
    bool remove(const PackagePath& packagePath, const FileTable& files);

  private:
    void changed();

    MsXmlDomDocument& document_;
    std::function<void()> onChange_;
};

// The package's content types for an added or removed file; 136 when the package has no
// "[Content_Types].xml". Remove after the file has left the file table.
void addContentType(AppV5Package& package, const PackagePath& packagePath);
void removeContentType(AppV5Package& package, const PackagePath& packagePath);

// The text after the last "." of the last component, as written; empty without one.
std::string extensionOf(const PackagePath& packagePath);

// The OPC part name of a package path: percent-encoded, "/" separators, one leading "/".
std::string partNameOf(const PackagePath& packagePath);

// Whether a file of the table, or one of the package's own parts, has the extension
// (A to Z compared without case).
bool isExtensionInUse(std::string_view extension, const FileTable& files);

} // namespace quendle
