#include "hive/HiveTestSupport.h"

#include "core/ConsoleWriter.h"
#include "core/Exception.h"
#include "hive/OfflineRegException.h"
#include "hive/OfflineRegHive.h"
#include "package/PackageRegistry.h"

#include <gtest/gtest.h>

using namespace quendle;
using namespace quendle::test;
using Bytes = std::vector<uint8_t>;
using Stored = StoredValue;

namespace {

const std::string Key = "REGISTRY\\MACHINE\\Software\\Vendor";

// A workspace content folder with a small Registry.dat, and a registry over it.
struct Workspace {
    explicit Workspace(const std::string& fileName = "Registry.dat") {
        OfflineRegHive hive;
        hive.CreateNew("{6c1f3b5e-0000-4000-8000-000000000001}");
        hive.RootKey().Create("REGISTRY\\MACHINE\\Software\\Vendor\\Sub");
        hive.RootKey().Create("REGISTRY\\USER");
        hive.Save(dir / fileName);
        registry = std::make_unique<PackageRegistry>(dir / "", [this] { ++changes; });
    }
    Stored value(const std::string& name) { return storedValue(registry->hive().RootKey().Open(Key), name); }

    ScratchDir dir;
    int changes = 0;
    std::unique_ptr<PackageRegistry> registry;
};

uint32_t win32ErrorOf(const std::function<void()>& f) {
    return thrown<OfflineRegException>(f).win32Error();
}

} // namespace

// What each level, marker and kept type bit does to the values is proved by verify_hive.py, which
// reads every state on the way back with hivex, libregf and reglookup; here, what is printed and
// what a failure leaves.
TEST(PackageRegistry, SetRegistryValueAndVirtualizeDeletedPrintWhatTheyDid) {
    Workspace w;
    auto& r = *w.registry;
    r.SetRegistryValue(Key, "bin", PackageRegistry::valueTypeFromText("binary"), "0aFF", false);
    EXPECT_EQ(w.value("bin"), Stored(true, 3u, Bytes{0x0A, 0xFF}));
    EXPECT_EQ(printed([&] { r.SetRegistryValue(Key, "Name", 1, "Wert", false); }),
              "Set registry value \"Name\" from key \"" + Key + "\" to value \"Wert\"\n");

    // Invalid binary text fails before the value is written.
    const int before = w.changes;
    EXPECT_HAS(failureOf([&] { printed([&] { r.SetRegistryValue(Key, "bin", 3, "0aF", false); }); }),
               "\"0aF\"");
    EXPECT_EQ(w.value("bin"), Stored(true, 3u, Bytes{0x0A, 0xFF}));
    EXPECT_EQ(w.changes, before);

    EXPECT_EQ(printed([&] { r.SetVirtualizeRegValueDeleted(Key, "v"); }),
              "Virtualize registry value \"v\" from key \"" + Key + "\" as deleted\n");
}

TEST(PackageRegistry, DeletionsNeedWhatTheyDeleteAndPrintOnlyOnSuccess) {
    Workspace w;
    auto& r = *w.registry;
    w.registry->hive().RootKey().Open(Key).SetValue("v", 1, Bytes{1});
    // Which error each missing key or value gives is OfflineRegHiveTest's; here nothing may be
    // printed or counted as a change.
    std::string out = printed([&] {
        EXPECT_EQ(win32ErrorOf([&] { r.DeleteRegistryValue(Key, "absent"); }), 2u);
        EXPECT_EQ(win32ErrorOf([&] { r.DeleteRegistryKey(Key); }), 5u); // has a subkey
        EXPECT_EQ(win32ErrorOf([&] { r.DeleteRegistryKeyTree(Key + "\\Missing"); }), 2u);
    });
    EXPECT_EQ(out, "");
    EXPECT_EQ(w.changes, 0);
    out = printed([&] {
        r.DeleteRegistryValue(Key, "V");
        r.DeleteRegistryKey(Key + "\\Sub");
        r.SetRegistryKey(Key + "\\T\\A\\B", false, true, false);
        r.DeleteRegistryKeyTree(Key + "\\T");
    });
    EXPECT_EQ(out, "Deleted registry value \"V\" from key \"" + Key + "\"\nDeleted registry key \"" + Key +
                       "\\Sub\"\nUpdated registry key \"" + Key + "\\T\\A\\B\"\nDeleted registry key \"" +
                       Key + "\\T\"\n");
    EXPECT_TRUE(r.hive().RootKey().Open(Key).EnumSubkeys().empty());
    EXPECT_EQ(w.changes, 4);
}

TEST(PackageRegistry, KeyPathCheckAndTypeNames) {
    auto valid = [](const std::string& path) { return PackageRegistry::isValidKeyPath(path) ? "1" : "0"; };
    EXPECT_EQ(each(valid, {"registry\\machine\\software", "REGISTRY\\User\\x", "\\REGISTRY\\MACHINE\\",
                           "REGISTRY\\MACHINE", "REGISTRY\\USER\\\\x", "HKLM\\Software", "REGISTRY", "",
                           "\\\\", "REGISTRY\\MACHINEX", "REGISTRY\\\\MACHINE", "MACHINE\\REGISTRY"}),
              "1|1|1|1|1|0|0|0|0|0|0|0");
    auto type = [](const std::string& text) {
        return std::to_string(PackageRegistry::valueTypeFromText(text));
    };
    EXPECT_EQ(each(type, {"sz", "expandsz", "binary", "dword", "multisz", "SZ", "REG_SZ", ""}),
              "1|2|3|4|7|0|0|0");
}

TEST(PackageRegistry, HiveIsOpenedOnFirstUseAndSavedOverItselfEveryTime) {
    Workspace w("registry.DAT"); // extracted in another case
    std::string path = w.dir / "registry.DAT";
    Bytes original = readBytes(path);
    w.registry->save(); // nothing opened: the file stays as extracted
    EXPECT_FALSE(w.registry->isOpen());
    EXPECT_EQ(readBytes(path), original);
    w.registry->SetRegistryValue(Key, "n", 4, "1", false);
    w.registry->save();
    w.registry->SetRegistryValue(Key, "n", 4, "2", false);
    w.registry->save(); // the second save replaces the first
    OfflineRegHive saved;
    saved.Open(path);
    EXPECT_EQ(storedValue(saved.RootKey().Open(Key), "n"), Stored(true, 4u, Bytes{2, 0, 0, 0}));
    EXPECT_EQ(std::distance(fs::directory_iterator(w.dir.path()), fs::directory_iterator()), 1);

    // A missing hive fails on first use with the file error.
    ScratchDir empty;
    PackageRegistry registry(empty / "");
    EXPECT_EQ(win32ErrorOf([&] { registry.SetRegistryKey(Key, true, false, false); }), 2u);
    EXPECT_FALSE(registry.isOpen());
}
