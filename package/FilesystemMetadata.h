#pragma once
#include "package/PackagePath.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace quendle {

class AppV5Package;
class MsXmlDomDocument;
class MetadataNameIndex;

// The file tree of "FilesystemMetadata.xml": one `Entry` per folder and file below
// `Filesystem`, nested like the folders, with an 8.3 short name where the long name needs one.
class FilesystemMetadata {
  public:
    // `onChange` runs after each change of the document (the package's markModified).
    // One object may serve many additions: the names in use are read once per folder.
    explicit FilesystemMetadata(MsXmlDomDocument& document, std::function<void()> onChange = {});
    ~FilesystemMetadata();
    FilesystemMetadata(FilesystemMetadata&&) = default;

    // Completes the chain of entries for an added file; existing entries stay as they are.
    // Returns true when the document changed (false also without a `Filesystem` element).
    bool addEntries(const PackagePath& packagePath);
    // Removes the file's entry and every folder entry that it leaves empty. Returns true when
    // the document changed; a path without an entry is no error.
    bool removeEntry(const PackagePath& packagePath);

  private:
    void changed();

    MsXmlDomDocument& document_;
    std::function<void()> onChange_;
    std::shared_ptr<MetadataNameIndex> names_;

    friend FilesystemMetadata packageMetadata(AppV5Package& package);
};

// The package's metadata (136 when it has none), with the names index that earlier additions to
// the same document left: each folder is read from the document once per run.
FilesystemMetadata packageMetadata(AppV5Package& package);
// Drops that index. Whatever edits "FilesystemMetadata.xml" other than through FilesystemMetadata
// (the XML commands, a transform) calls this first.
void forgetMetadataNames();

// The package's file-system metadata for an added or removed file; 136 when the package has no
// "FilesystemMetadata.xml".
void addFilesystemEntries(AppV5Package& package, const PackagePath& packagePath);
void removeFilesystemEntry(AppV5Package& package, const PackagePath& packagePath);

} // namespace quendle
