// Hive bytes through the API the package model uses: open the file, walk every key and value,
// edit (delete a value and a subtree, create keys, set values from data and from text), save,
// reopen. The reopened hive must hold exactly what the edited one held, byte for byte: the
// writer may never produce a file that its own reader refuses or reads differently.
// (hive_fuzzer checks the reader and writer underneath, in memory.)
#include "fuzz/FuzzSupport.h"
#include "hive/OfflineRegHive.h"
#include "hive/OfflineRegKey.h"

#include <cstdio>
#include <cstdlib>

using namespace quendle;
using namespace quendle::fuzz;

namespace {

// Bounds the walk (not the reader): a hive of a million tiny keys is legal but slow to compare.
constexpr size_t MaxWalkedItems = 20000;
constexpr int MaxDepth = 512;

// Every key path, value name, type and data, in the order the handles give them.
void describe(const OfflineRegKey& key, const std::string& path, int depth, std::string& out, size_t& items) {
    if (depth > MaxDepth || items > MaxWalkedItems)
        return;
    for (const std::string& name : key.EnumValues()) {
        ++items;
        uint32_t type = 0;
        std::vector<uint8_t> data;
        if (!key.GetValue(name, type, data))
            std::abort(); // listed but not readable
        out += path + "|" + name + "|" + std::to_string(type) + "|" + std::to_string(data.size()) + ":";
        out.append(data.begin(), data.end());
        out += '\n';
    }
    for (const std::string& name : key.EnumSubkeys()) {
        ++items;
        out += path + "\\" + name + "\n";
        describe(key.Open(name), path + "\\" + name, depth + 1, out, items);
    }
}

std::string describe(const OfflineRegHive& hive) {
    std::string out;
    size_t items = 0;
    describe(hive.RootKey(), "", 0, out, items);
    return out;
}

void edit(OfflineRegHive& hive) {
    OfflineRegKey root = hive.RootKey();
    auto values = root.EnumValues();
    if (!values.empty())
        root.DeleteValue(values.front());
    auto subkeys = root.EnumSubkeys();
    if (subkeys.size() > 1)
        hive.DeleteKeyTree(subkeys.back());
    OfflineRegKey added = root.Create("QuendleFuzz\\Sub\\Leaf");
    const char text[] = "v\0a\0l\0\0";
    added.SetValue("Text", 1, text, sizeof text - 1);
    added.SetValue("", 4, "\x01\x02\x03\x04", 4);
    if (!subkeys.empty()) {
        OfflineRegKey first = root.Open(subkeys.front());
        first.SetValueFromText("Multi", 7, 0, "one\r\ntwo");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ScratchFolder& scratch = ScratchFolder::instance();
    const std::string input = scratch / "input.hiv";
    const std::string output = scratch / "output.hiv";
    writeBytes(input, data, size);
    std::remove(output.c_str());

    OfflineRegHive hive;
    try {
        hive.Open(input);
        (void)describe(hive);
    } catch (...) {
        return 0; // refused, as a damaged hive must be
    }
    try {
        edit(hive);
    } catch (...) {
        // An edit the content refuses (a name the format cannot hold, ...); the save still runs.
    }
    std::string edited = describe(hive);
    try {
        hive.Save(output);
    } catch (...) {
        return 0; // content the format cannot hold again is refused, not written
    }

    OfflineRegHive reopened;
    try {
        reopened.Open(output);
    } catch (...) {
        std::abort(); // the writer produced a hive the reader refuses
    }
    if (describe(reopened) != edited)
        std::abort(); // the saved hive reads back differently
    return 0;
}
