#include "package/ManifestSummary.h"

#include "util/strings/MessageFormat.h"
#include "util/strings/StringSystem.h"
#include "xml/MsXmlDomDocument.h"
#include "xml/Namespaces.h"

#include <algorithm>

namespace quendle {

namespace {

// The newest year among the App-V manifest namespaces declared anywhere in the document.
void newestManifestYear(const XmlElementView& element, std::string& year) {
    const std::string prefix = appVNamespace("/appv/");
    for (const std::string& href : element.declaredNamespaces()) {
        if (href.size() == prefix.size() + 13 && href.starts_with(prefix) && href.ends_with("/manifest")) {
            std::string y = href.substr(prefix.size(), 4);
            if (y > year)
                year = y;
        }
    }
    for (const XmlElementView& child : element.children())
        newestManifestYear(child, year);
}

// Every element of that local name below `element`, in document order.
void descendants(const XmlElementView& element, std::string_view localName,
                 std::vector<XmlElementView>& out) {
    for (const XmlElementView& child : element.children()) {
        if (child.is(localName))
            out.push_back(child);
        descendants(child, localName, out);
    }
}

std::string firstText(const XmlElementView& element, std::string_view localName) {
    std::vector<XmlElementView> found;
    descendants(element, localName, found);
    return found.empty() ? std::string() : found.front().text();
}

// The texts (or attribute values) of the named descendants, each once, joined by "; ".
std::string joined(const XmlElementView& element, std::string_view localName,
                   const char* attribute = nullptr) {
    std::vector<XmlElementView> found;
    descendants(element, localName, found);
    std::vector<std::string> seen;
    std::string out;
    for (const XmlElementView& e : found) {
        std::string value = attribute ? e.attribute(attribute) : e.text();
        if (value.empty() || std::find(seen.begin(), seen.end(), value) != seen.end())
            continue;
        out += (seen.empty() ? "" : "; ") + value;
        seen.push_back(value);
    }
    return out;
}

// What names an extension of each category; for a list (fonts, variables, COM classes) every
// member, for the rest one element's text, else the first Name inside.
std::string extensionName(const std::string& category, const XmlElementView& extension) {
    auto is = [&](const char* c) { return equalsIgnoreCaseAscii(category, c); };
    if (is("AppV.Shortcut"))
        return firstText(extension, "File");
    if (is("AppV.FileTypeAssociation"))
        return extension.child("FileTypeAssociation").child("FileExtension").child("Name").text();
    if (is("AppV.ApplicationCapabilities"))
        return extension.child("ApplicationCapabilities").child("Reference").child("Name").text();
    if (is("AppV.Fonts"))
        return joined(extension, "Font", "Path");
    if (is("AppV.EnvironmentVariables"))
        return joined(extension, "Variable", "Name");
    if (is("AppV.COM")) {
        std::string classes = joined(extension, "ClassId");
        return classes.empty() ? firstText(extension, "Name") : classes;
    }
    return firstText(extension, "Name");
}

} // namespace

ManifestSummary ManifestSummary::of(const XmlElementView& root) {
    ManifestSummary s;
    s.present = !root.empty();
    XmlElementView identity = root.child("Identity");
    s.name = identity.attribute("Name");
    s.publisher = identity.attribute("Publisher");
    s.version = identity.attribute("Version");
    for (const char* year : {"2014", "2013", "2010"}) {
        std::string ns = appVNamespace(("/appv/" + std::string(year) + "/manifest").c_str());
        if (s.packageId.empty())
            s.packageId = identity.attribute("PackageId", ns);
        if (s.versionId.empty())
            s.versionId = identity.attribute("VersionId", ns);
    }
    s.displayName = root.child("Properties").child("DisplayName").text();
    newestManifestYear(root, s.manifestSchemaVersion);

    XmlElementView prerequisites = root.child("Prerequisites");
    s.osMinVersion = prerequisites.child("OSMinVersion").text();
    s.osMaxVersionTested = prerequisites.child("OSMaxVersionTested").text();
    XmlElementView targets = prerequisites.child("TargetOSes");
    s.processorArchitecture = targets.attribute("SequencingStationProcessorArchitecture");
    for (const XmlElementView& os : targets.children("TargetOS"))
        s.targetOSes.push_back(os.text());

    for (const XmlElementView& list : root.children("Applications"))
        for (const XmlElementView& app : list.children("Application")) {
            XmlElementView visual = app.child("VisualElements");
            s.applications.push_back({app.attribute("Id"), visual.child("Name").text(),
                                      visual.child("Version").text(), app.child("Target").text()});
        }
    for (const XmlElementView& list : root.children("Extensions"))
        for (const XmlElementView& extension : list.children("Extension")) {
            std::string category = extension.attribute("Category");
            s.extensions.push_back({category, extensionName(category, extension),
                                    firstText(extension, "ApplicationId"), extension});
        }
    s.userScripts = root.child("UserScripts");
    s.machineScripts = root.child("MachineScripts");
    s.terminateChildProcesses = root.child("TerminateChildProcesses");
    return s;
}

std::vector<ManifestSummary::CategoryCount> ManifestSummary::categories() const {
    std::vector<CategoryCount> out;
    for (const Extension& e : extensions) {
        auto it = std::find_if(out.begin(), out.end(),
                               [&](const CategoryCount& c) { return c.category == e.category; });
        if (it == out.end())
            out.push_back({e.category, 1});
        else
            ++it->count;
    }
    return out;
}

std::vector<const ManifestSummary::Extension*> ManifestSummary::ofCategory(std::string_view category) const {
    std::vector<const Extension*> out;
    for (const Extension& e : extensions)
        if (equalsIgnoreCaseAscii(e.category, category))
            out.push_back(&e);
    return out;
}

} // namespace quendle
