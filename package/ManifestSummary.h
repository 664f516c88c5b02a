#pragma once
#include "xml/XmlElementView.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quendle {

class MsXmlDomDocument;
class ZipCentralDirectory;

// What a manifest declares, read by local names so that every App-V manifest namespace (2010,
// 2013, 2014, and a prefix rebound on the way) counts alike: the identity, the target systems,
// the applications and the extension points in document order. /Info shows it; /Export-Config
// writes the configuration files from it.
struct ManifestSummary {
    struct Application {
        std::string id, name, version, target;
    };
    struct Extension {
        std::string category;      // "AppV.Shortcut", as the manifest spells it
        std::string name;          // what names it (see docs/inspect.md); "" when nothing does
        std::string applicationId; // the first ApplicationId inside it
        XmlElementView element;    // the Extension element itself
    };
    struct CategoryCount {
        std::string category;
        size_t count = 0;
    };

    bool present = false; // the package has a manifest
    std::string name, displayName, publisher, packageId, versionId, version;
    std::string manifestSchemaVersion; // the year of the newest App-V manifest namespace used
    std::string osMinVersion, osMaxVersionTested, processorArchitecture;
    std::vector<std::string> targetOSes;
    std::vector<Application> applications;
    std::vector<Extension> extensions;
    // Package-level elements that the configuration files carry over; empty views when absent.
    XmlElementView userScripts, machineScripts, terminateChildProcesses;

    // `root` is the manifest's Package element.
    static ManifestSummary of(const XmlElementView& root);

    // Categories in the order they first appear, with their counts.
    std::vector<CategoryCount> categories() const;
    // The extensions of one category (compared ignoring case), in document order.
    std::vector<const Extension*> ofCategory(std::string_view category) const;
};

} // namespace quendle
