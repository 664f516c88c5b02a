#include "util/strings/StringTable.h"

#include <algorithm>
#include <iterator>

namespace quendle {
namespace {

struct StringEntry {
    uint32_t id;
    const char* text;
};

// Sorted by id; the texts are used letter for letter.
const StringEntry stringTable[] = {
    {131, "appv_package"},
    {132, "file_package_path"},
    {133, "file_source_path"},
    {135, "command"},
    {136, "Failed to open: %s (invalid file format)."},
    {137, "Unable to remove file \"%s\". File not found."},
    {138, "Removed file \"%s\" from package."},
    {139, "Added file \"%s\" to package."},
    {140, "Extracting files..."},
    {141, "Packing files..."},
    {142, "Unable to add file \"%s\" to package. File already exists."},
    {143, "Package updated successfully"},
    {145, "appv_manifest_file"},
    {146, "xml_xpath_expression"},
    {147, "xml_node_text"},
    {148, "xml_element_name"},
    {149, "xml_attribute_name"},
    {150, "xml_attribute_value"},
    {151, "xml_namespaceuri"},
    {152, "Invalid package path: \"%1!ls!\". Expecting a backslash path."},
    {153, "Invalid package path \"%1!ls!\". A package path must start with \"Root\"."},
    {154, "Removed XML node \"%s\" from parent \"%s\"."},
    {155, "Created XML element \"%s\" with text \"%s\" in parent \"%s\"."},
    {156, "Replaced text \"%s\" with text \"%s\" in node \"%s\"."},
    {157, "Set XML attribute \"%s\" from element \"%s\" to value \"%s\". Old value was \"%s\"."},
    {158, "Transform \"%s\" applied without errors to manifest file \"%s\"."},
    {159, "xsl_transform_file_path"},
    {160, "-param_name param_value"},
    {161, "Transform parameter name expected. Parameter name marker '-' expected."},
    {162, "Transform parameter name value pair expected."},
    {163, "Removed element from %s:"},
    {164, "Added element to %s:"},
    {165, "registry_key_path"},
    {166, "virtualization_level"},
    {167, "registry_value_name"},
    {168, "registry_value_type"},
    {169, "registry_value"},
    {170, "appv_path_variable"},
    {171, "Updated registry key \"%s\""},
    {172, "Deleted registry key \"%s\""},
    {173, "Set registry value \"%s\" from key \"%s\" to value \"%s\""},
    {174, "Virtualize registry value \"%s\" from key \"%s\" as deleted"},
    {175, "Deleted registry value \"%s\" from key \"%s\""},
    {176, "commands_file_path"},
    {177, "Invalid App-V 5.x registry key path. A valid App-V 5.x registry key path must start with \"REGISTRY\\MACHINE\" or \"REGISTRY\\USER\"."},
    {178, "Updated file \"%s\" in package."},
    {179, "Updated package identity information: Version=\"%s\""},
    {180, "Unable to retrive appv:VersionId from AppXManifest.xml."},
    {181, "packaging_engine_name"},
    {182, "sequencer_version"},
    {183, "Invalid sequencer version: \"%1!ls!\"."},
    {184, "Packaging engine and sequencer version are both mandatory when at lest one is specified."},
    {185, "Unable to add file to package: \"%1!ls!\"."},
    {186, "Unable to save App-V 5.x package."},
    {187, "Unable to compute package path for file: \"%1!ls!\"."},
    {188, " %d%%"},
    {189, "script_file_name"},
    {190, "Updated package identity information: appv:VersionId=\"%s\""},
    {191, "Updated package identity information: appv:PackageId=\"%s\""},
    {192, "identity_package_id"},
    {193, "identity_version_id"},
    {194, "identity_version"},
    {195, "Invalid parameter value: \"%1!ls!\". Expected \"auto\" or <guid_string>."},
    {196, "Invalid parameter value: \"%1!ls!\". Expected \"auto\" or <version_string>."},
    {198, "Invalid file path: \"%1!ls!\"."},
    {420, "The package is damaged: the data of \"%1!ls!\" do not match the package's directory. The package was not changed."},
    {421, "The old block map had %d wrong block hashes (the first in \"%s\"); the new one has the right ones."},
    {65000, "Unexpected exception."},
    {65001, "The application ran into a problem that it couldn't handle.\nSorry for the inconvenience."},
    {65010, "Unsupported file encoding."},
    {65012, "File not found: \"%1!ls!\"."},
    {65013, "Error opening file: \"%1!ls!\"."},
    {65014, "File \"%1!ls!\" could not be written."},
    {65015, "Unsupported command file format. The supported file formats are: ANSI, Unicode Big Endian and Unicode Little Endian. The first line of the file must begin with \"%1!ls!\"."},
    {65016, "Value is missing for the parameter %s.\n"},
    {65017, "Invalid \"%s\" parameter value: \"%s\"."},
    {65018, "Unknown parameter: "},
    {65019, "Maybe you should use instead: "},
    {65020, "A required argument is missing: %s.\n"},
    {65021, "One of the following parameters is required:\n"},
    {65022, "Null pointer exception."},
    {65023, "Error parsing XML file: \"%1!ls!\"."},
    {65024, "Invalid XPath expression: \"%1!ls!\"."},
    {65025, "Command \"%s\" is unknown. Maybe you should use instead \"%s\""},
    {65026, "Invalid XSL transform."},
};

} // namespace

std::string loadString(uint32_t id) {
    auto it = std::lower_bound(std::begin(stringTable), std::end(stringTable), id,
                               [](const StringEntry& e, uint32_t key) { return e.id < key; });
    if (it == std::end(stringTable) || it->id != id)
        return {};
    return it->text;
}

} // namespace quendle
