#pragma once
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

struct _xmlNode;

namespace quendle {

class MsXmlDomElement;

// The names in use below each folder entry of "FilesystemMetadata.xml", read from the document
// once per folder instead of searched once per candidate. It answers what the XPath steps
// "appv:Entry[@Long=...]" and "appv:Entry[@Short=...]" would, as long as the entries it has seen
// are changed only through it (entries are only ever added while one index lives).
class MetadataNameIndex {
  public:
    // `entryNamespace` is the namespace the selection prefix "appv" stands for in the document.
    MetadataNameIndex(const MsXmlDomElement& filesystem, std::string entryNamespace);
    ~MetadataNameIndex();
    MetadataNameIndex(const MetadataNameIndex&) = delete;
    MetadataNameIndex& operator=(const MetadataNameIndex&) = delete;

    // Whether the index was made for this `Filesystem` element.
    bool isFor(const MsXmlDomElement& filesystem) const;

    // The first child entry of `folder` whose "Long" is `longName` by the file table's case rules.
    std::shared_ptr<MsXmlDomElement> findChild(const MsXmlDomElement& folder, std::string_view longName);
    // Records an entry just appended to `folder` (after its attributes are set).
    void childAdded(const MsXmlDomElement& folder, const MsXmlDomElement& child);
    // The short name a new child of `folder` gets by the 8.3 rules, or empty when its long name
    // needs none. The caller sets it on the child and then reports the child with childAdded.
    std::string shortNameFor(const MsXmlDomElement& folder, std::string_view longName);

  private:
    struct Folder {
        std::unordered_map<std::string, _xmlNode*> byLong; // first entry of each long name
        std::unordered_set<std::string> shorts;
        // First candidate of a name -> the number below which every candidate is taken. All
        // long names with one first candidate share every further candidate as well.
        std::unordered_map<std::string, unsigned long long> nextNumber;
    };

    Folder& folder(const MsXmlDomElement& element);
    bool isEntry(const _xmlNode* node) const;

    const _xmlNode* filesystem_;
    std::string entryNamespace_;
    std::unordered_map<const _xmlNode*, Folder> folders_;
};

} // namespace quendle
