// Bytes -> one editable XML part loaded as the package model loads it, an XPath selection over
// it with the part's namespace prefixes, a text edit, and the write-back with its namespace
// upgrade and schema check. Input layout: one byte choosing the part (and whether to write it
// back), the XPath expression up to the first line end, then the document.
#include "fuzz/FuzzSupport.h"
#include "xml/MsXmlDomDocument.h"
#include "xml/MsXmlDomNode.h"
#include "package/KnownParts.h"
#include "package/ManifestValidator.h"

#include <cstdlib>

using namespace quendle;
using namespace quendle::fuzz;

namespace {

// Keeps a pathological selection from turning one input into a minutes-long run.
constexpr int MaxVisitedNodes = 1000;

void select(const MsXmlDomDocument& document, const std::string& xpath) {
    auto root = document.GetDocumentElement();
    if (!root || root->IsEmpty())
        return;
    auto list = root->SelectNodes(xpath);
    if (!list)
        std::abort(); // promised never to be null
    for (int i = 0; i < list->GetLength() && i < MaxVisitedNodes; ++i) {
        auto node = list->GetItem(i);
        if (!node)
            std::abort(); // inside the list's length
        (void)node->GetName();
        (void)node->GetText();
        if (i == 0)
            node->SetText("Quendle <&> \xc3\xa9");
    }
    if (auto single = root->SelectSingleElement(xpath))
        single->SetAttribute("QuendleFuzz", "1");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    silenceStandardOutput();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    ScratchFolder& scratch = ScratchFolder::instance();
    const std::string part(EditableXmlParts[data[0] % EditableXmlParts.size()]);
    const bool writeBack = (data[0] & 0x80) != 0;
    std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
    size_t end = rest.find('\n');
    std::string xpath(rest.substr(0, end));
    std::string_view text = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);

    MsXmlDomDocument document(part);
    try {
        document.LoadXml(text);
    } catch (...) {
        return 0;
    }
    NamespaceMap namespaces;
    try {
        document.SetupSelectionNamespaces(xpathPrefixFor(part), namespaces);
        select(document, xpath);
    } catch (...) {
        // Rejected expressions and edits end here, as they end a command.
    }

    // What Save writes must load again: the package reads its own parts on the next run.
    const std::string saved = scratch / "saved.xml";
    document.Save(saved);
    MsXmlDomDocument reread(part);
    try {
        reread.Load(saved);
    } catch (...) {
        std::abort();
    }

    if (writeBack) {
        try {
            ManifestValidator::WriteBackXmlPart(part, document, scratch.path());
        } catch (...) {
        }
    }
    return 0;
}
