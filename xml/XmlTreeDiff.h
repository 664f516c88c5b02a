#pragma once
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace quendle {

class MsXmlDomDocument;

// One difference between two versions of an XML document.
struct XmlChange {
    enum class Kind {
        ElementAdded,
        ElementRemoved,
        AttributeAdded,
        AttributeRemoved,
        AttributeChanged,
        TextChanged
    };
    Kind kind = Kind::ElementAdded;
    // The element in the document it is found in (the old one for a removal): steps of prefixed
    // names with a position among same-named siblings where there are several; "/@name" added
    // for an attribute.
    std::string xpath;
    std::string element;   // the element's local name
    std::string attribute; // the attribute's local name, for the attribute kinds
    int depth = 0;         // the element's depth; the document element is 0
    // The attribute's value or the element's own text; for an element added or removed, its XML.
    std::string oldValue, newValue;
    // For an element added or removed: its attributes as name="value", or its text in quotes.
    std::string summary;

    static const char* kindName(Kind kind); // "elementAdded", "attributeChanged", ...
};

// Compares two documents as trees: elements by namespace and local name, attributes as a set,
// the text of each element trimmed, whitespace between elements ignored. Equal subtrees are
// matched first (longest common subsequence over each list of children), so that one element
// added or removed among many siblings is reported as just that; the unmatched ones between
// two matches are paired by name and compared inside, the rest are added or removed.
class XmlTreeDiff {
  public:
    // Elements for which it answers true are left out of the comparison, with everything in them.
    using Skip = std::function<bool(std::string_view localName, std::string_view parentLocalName)>;

    // Either document may be null (the part is missing). `defaultPrefix` stands for an element
    // namespace that has no prefix of its own, as the XML commands' XPath expressions name it.
    static std::vector<XmlChange> compare(const MsXmlDomDocument* before, const MsXmlDomDocument* after,
                                          const std::string& defaultPrefix, const Skip& skip = {});
};

} // namespace quendle
