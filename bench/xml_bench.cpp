// Loads the big sample manifest, applies one XPath edit, normalizes and validates it as the
// package save does, and saves it; prints the time of each step and the peak RSS.
#include "xml/MsXmlDomDocument.h"
#include "xml/MsXmlSchemaCollection.h"
#include "package/ManifestValidator.h"

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

using namespace quendle;
using Clock = std::chrono::steady_clock;

namespace {

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

long peakRssKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: xml_bench <manifest> <output folder>\n");
        return 2;
    }
    const std::string input = argv[1];
    const std::string folder = argv[2];
    try {
        auto total = Clock::now();
        auto step = Clock::now();
        auto manifest = std::make_shared<MsXmlDomDocument>("AppxManifest.xml");
        manifest->Load(input);
        NamespaceMap namespaces;
        manifest->SetupSelectionNamespaces("appx", namespaces);
        std::printf("load            %8.1f ms\n", millisecondsSince(step));

        step = Clock::now();
        auto identity = manifest->GetDocumentElement()->SelectSingleElement("appx:Identity");
        if (!identity)
            throw Exception("The manifest has no Identity element.");
        identity->SetAttribute("Version", "16.0.17328.20207");
        std::printf("xpath edit      %8.1f ms\n", millisecondsSince(step));

        step = Clock::now();
        auto schemas = ManifestValidator::ManifestSchemas();
        MsXmlDomDocument normalized("AppxManifest.xml");
        ManifestValidator::NormalizeManifest(*manifest, normalized);
        const std::string checked = folder + "/normalized.xml";
        normalized.Save(checked);
        ManifestValidator::ValidateFile(checked, schemas);
        std::printf("normalize+check %8.1f ms\n", millisecondsSince(step));

        step = Clock::now();
        manifest->Save(folder + "/AppxManifest.xml");
        std::printf("save            %8.1f ms\n", millisecondsSince(step));
        std::printf("total           %8.1f ms, peak RSS %ld KiB, input %ju bytes\n", millisecondsSince(total),
                    peakRssKiB(), static_cast<uintmax_t>(std::filesystem::file_size(input)));
    } catch (const Exception& e) {
        std::fprintf(stderr, "failed: %s\n", e.message().c_str());
        return 1;
    }
    return 0;
}
