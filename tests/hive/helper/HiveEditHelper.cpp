// Applies a list of registry edits to a hive, for the verifier that reads the result back with
// other programs. Usage: hive_edit_helper <input hive | new:MINOR:ROOTNAME> <output hive> <edits>
// Each line of the edits file is one operation, its fields separated by tabs; "\t", "\n", "\r"
// and "\\" stand for themselves inside a field.
#include "core/ConsoleWriter.h"
#include "core/Exception.h"
#include "hive/OfflineRegHive.h"
#include "package/PackageRegistry.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

using namespace quendle;

namespace {

std::vector<std::string> fields(const std::string& line) {
    std::vector<std::string> out(1);
    for (size_t i = 0; i < line.size(); ++i) {
        char c = line[i];
        if (c == '\t') {
            out.emplace_back();
        } else if (c == '\\' && i + 1 < line.size()) {
            char n = line[++i];
            out.back() += n == 't' ? '\t' : n == 'n' ? '\n' : n == 'r' ? '\r' : n;
        } else {
            out.back() += c;
        }
    }
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
        std::string line;
        while (std::getline(edits, line)) {
            if (!line.empty())
                applyEdit(registry, fields(line));
        }
        registry.hive();
        registry.save();
    } catch (const Exception& e) {
        std::cerr << "error: " << e.message() << "\n";
        return 1;
    } catch (const std::exception& e) {
        std::cerr << "error: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
