#pragma once
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace quendle {

class MsXmlDomDocument;
class DomState;

// An XSLT 1.0 stylesheet applied to a document, with string parameters passed literally.
// The stylesheet may not read or write files or the network.
class XslTransform {
  public:
    XslTransform();
    ~XslTransform();
    XslTransform(const XslTransform&) = delete;
    XslTransform& operator=(const XslTransform&) = delete;

    void SetStylesheet(const MsXmlDomDocument& stylesheet);
    void AddParameter(const std::string& name, const std::string& value);
    // Replaces result's DOM with the output of the transform; the result keeps its name and
    // default declaration settings. A rejected stylesheet throws 65026.
    void Transform(const MsXmlDomDocument& input, MsXmlDomDocument& result) const;

  private:
    std::shared_ptr<DomState> stylesheet_;
    std::vector<std::pair<std::string, std::string>> parameters_;
};

} // namespace quendle
