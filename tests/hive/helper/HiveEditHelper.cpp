// Applies a list of registry edits to a hive, for the verifier that reads the result back with
// other programs. Usage: hive_edit_helper <input hive | new:MINOR:ROOTNAME> <output hive> <edits>
// Each operation of the edits file ends at 0x1E, each of its fields at 0x1F.
#include "core/ConsoleWriter.h"
#include "core/Exception.h"
#include "hive/OfflineRegHive.h"
#include "hive/RegistryValueText.h"
#include "package/PackageRegistry.h"

#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

using namespace quendle;

namespace {

// Each field ends at 0x1F: no edit text holds it, so nothing needs escaping.
std::vector<std::string> fields(const std::string& record) {
    std::vector<std::string> out;
    std::istringstream in(record);
    for (std::string field; std::getline(in, field, '\x1f');)
        out.push_back(field);
    return out;
}

void applyEdit(PackageRegistry& registry, const std::vector<std::string>& f) {
    const std::string& op = f.at(0);
    if (op == "SetRegistryKey")
        registry.SetRegistryKey(f.at(1), f.at(2) == "merge", f.at(2) == "overwrite", f.at(2) == "deleted");
    else if (op == "SetRegistryValue")
        registry.SetRegistryValue(f.at(1), f.at(2), PackageRegistry::valueTypeFromText(f.at(3)), f.at(4),
                                  f.at(5) == "true");
    else if (op == "SetVirtualizeRegValueDeleted")
        registry.SetVirtualizeRegValueDeleted(f.at(1), f.at(2));
    else if (op == "DeleteRegistryValue")
        registry.DeleteRegistryValue(f.at(1), f.at(2));
    else if (op == "DeleteRegistryKey")
        registry.DeleteRegistryKey(f.at(1));
    else if (op == "DeleteRegistryKeyTree")
        registry.DeleteRegistryKeyTree(f.at(1));
    else if (op == "SetRawValue") // path, name, type in decimal, data in hex: what no command writes
        registry.hive().RootKey().Create(f.at(1)).SetValue(f.at(2),
                                                           static_cast<uint32_t>(std::stoul(f.at(3))),
                                                           regtext::dataFromText(regtype::Binary, f.at(4)));
    else if (op == "CreateKeys") // path, name prefix, count
        for (int i = 0, n = std::stoi(f.at(3)); i < n; ++i)
            registry.hive().RootKey().Create(f.at(1) + "\\" + f.at(2) + std::to_string(i));
    else
        throw Exception("unknown operation " + op);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::cerr << "usage: hive_edit_helper <input|new:MINOR:ROOT> <output> <edits>\n";
        return 2;
    }
    ConsoleWriter::install();
    try {
        std::string input = argv[1], output = argv[2];
        std::filesystem::remove(output);
        if (input.rfind("new:", 0) == 0) {
            size_t colon = input.find(':', 4);
            OfflineRegHive hive;
            hive.CreateNew(input.substr(colon + 1),
                           static_cast<uint32_t>(std::stoul(input.substr(4, colon - 4))));
            hive.Save(output);
        } else {
            std::filesystem::copy_file(input, output);
        }
        PackageRegistry registry(output);
        std::ifstream edits(argv[3]);
        for (std::string record; std::getline(edits, record, '\x1e');)
            applyEdit(registry, fields(record));
        registry.hive();
        registry.save();
    } catch (const Exception& e) { // anything else ends the program with its text, as loudly
        std::cerr << "error: " << e.message() << "\n";
        return 1;
    }
    return 0;
}
