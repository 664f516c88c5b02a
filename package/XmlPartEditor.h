#pragma once
#include <string>

namespace quendle {

class AppV5Package;
class XslTransform;

// The XML commands' edits of one editable part through XPath. Each works on the package's
// cached document, marks the package modified after every change and prints one green line per
// change. Selecting nothing is not an error: nothing changes and nothing is printed.
class XmlPartEditor {
  public:
    explicit XmlPartEditor(AppV5Package& package) : package_(package) {}

    // Every selected node gets the text (156 per node).
    void setNodeText(const std::string& part, const std::string& xpath, const std::string& text);
    // Appends one element to the selected element, or to the root when xpath is empty (155).
    void newElement(const std::string& part, const std::string& xpath, const std::string& elementName,
                    const std::string& namespaceUri, const std::string& elementText, bool createIfNotExist);
    // Sets one attribute of the selected element, or of the root when xpath is empty (157).
    void setElementAttribute(const std::string& part, const std::string& xpath,
                             const std::string& attributeName, const std::string& attributeValue);
    // Removes the first selected node (154).
    void deleteSingleNode(const std::string& part, const std::string& xpath);
    // Removes every selected node (154 per node).
    void deleteNodes(const std::string& part, const std::string& xpath);
    // Replaces the part by the transform's output (158); later commands see the new document.
    // A transform that fails changes nothing.
    void transformPart(const std::string& part, const std::string& xslPath, XslTransform& transform);

  private:
    AppV5Package& package_;
};

} // namespace quendle
