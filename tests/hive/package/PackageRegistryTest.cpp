#include "HiveTestSupport.h"

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
const Bytes Zero4{0, 0, 0, 0};

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
    Stored value(const std::string& name, const std::string& key = Key) {
        return storedValue(registry->hive().RootKey().Open(key), name);
    }
    void setRaw(const std::string& name, uint32_t type, const Bytes& data) {
        registry->hive().RootKey().Create(Key).SetValue(name, type, data);
    }

    ScratchDir dir;
    int changes = 0;
    std::unique_ptr<PackageRegistry> registry;
};

uint32_t win32ErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const OfflineRegException& e) {
        return e.win32Error();
    }
    return 0;
}

Bytes sz(const std::u16string& s) {
    Bytes b;
    for (char16_t c : s + u'\0')
        b.insert(b.end(), {static_cast<uint8_t>(c), static_cast<uint8_t>(c >> 8)});
    return b;
}

} // namespace

TEST(PackageRegistry, SetRegistryKeyWritesTheLevelBitsOnTheDefaultValue) {
    Workspace w;
    enum Level { None, Merge, Overwrite, Deleted, SeedThenOverwrite };
    const std::string deeper = Key + "\\New\\Deeper";
    // Each step is made on what the steps before it left.
    const std::tuple<const char*, std::string, Level, Stored> steps[] = {
        {"overwrite without a default value: type 0x40000, no data", deeper, Overwrite, {true, 0x40000u, {}}},
        {"merge removes a default value that carried nothing else", deeper, Merge, {false, 0, {}}},
        {"merge without a default value only makes sure the key exists", Key + "\\M", Merge, {false, 0, {}}},
        {"no level (typed in another case): the key, nothing else", Key + "\\Plain", None, {false, 0, {}}},
        {"overwrite keeps the default's type and data", Key, SeedThenOverwrite, {true, 0x40001u, sz(u"x")}},
        {"merge takes the bit off again", Key, Merge, {true, 1u, sz(u"x")}},
        {"deleted replaces whatever was there", Key, Deleted, {true, 0x10000u, Zero4}},
        {"overwrite drops the deleted bit but keeps the four bytes", Key, Overwrite, {true, 0x40000u, Zero4}},
        {"deleted again", Key, Deleted, {true, 0x10000u, Zero4}},
        {"merge on a deleted key leaves type 0 with the four zero bytes", Key, Merge, {true, 0u, Zero4}},
    };
    for (auto [what, key, level, expected] : steps) {
        if (level == SeedThenOverwrite) {
            w.setRaw("", 1, sz(u"x"));
            level = Overwrite;
        }
        std::string out = printed(
            [&] { w.registry->SetRegistryKey(key, level == Merge, level == Overwrite, level == Deleted); });
        EXPECT_EQ(w.value("", key), expected) << what;
        EXPECT_EQ(out, "Updated registry key \"" + key + "\"\n") << what;
    }
    EXPECT_EQ(w.changes, 10);
}

// Dropping the deleted mark, a new key's path variable and a type text that no rule knows are
// proved by the hive verifier's edits, read back by hivex, libregf and reglookup.
TEST(PackageRegistry, SetRegistryValueKeepsPathAndKeyBits) {
    Workspace w;
    auto& r = *w.registry;
    w.setRaw("path", 0x400002, sz(u"[{Windows}]"));
    r.SetRegistryValue(Key, "path", 1, "plain", false); // false does not remove a kept 0x400000
    EXPECT_EQ(std::get<1>(w.value("path")), 0x400001u);
    w.setRaw("levels", 0x50007, {});
    r.SetRegistryValue(Key, "levels", 4, "1", false);
    EXPECT_EQ(std::get<1>(w.value("levels")), 0x50004u);
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

    // Virtualize deleted replaces the value with the marker, in a new key too.
    w.setRaw("v", 0x400001, sz(u"long text"));
    EXPECT_EQ(printed([&] { r.SetVirtualizeRegValueDeleted(Key, "v"); }),
              "Virtualize registry value \"v\" from key \"" + Key + "\" as deleted\n");
    EXPECT_EQ(w.value("v"), Stored(true, 0x20000u, Zero4));
    r.SetVirtualizeRegValueDeleted(Key + "\\Other", "new");
    EXPECT_EQ(w.value("new", Key + "\\Other"), Stored(true, 0x20000u, Zero4));
}

TEST(PackageRegistry, DeletionsNeedWhatTheyDeleteAndPrintOnlyOnSuccess) {
    Workspace w;
    auto& r = *w.registry;
    w.setRaw("v", 1, sz(u"x"));
    std::string out = printed([&] {
        EXPECT_EQ(win32ErrorOf([&] { r.DeleteRegistryValue(Key + "\\Missing", "v"); }), 2u);
        EXPECT_EQ(win32ErrorOf([&] { r.DeleteRegistryValue(Key, "absent"); }), 2u);
        EXPECT_EQ(win32ErrorOf([&] { r.DeleteRegistryKey(Key); }), 5u); // has a subkey
        EXPECT_EQ(win32ErrorOf([&] { r.DeleteRegistryKey(Key + "\\Missing"); }), 2u);
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
    for (const char* good : {"registry\\machine\\software", "REGISTRY\\User\\x", "\\REGISTRY\\MACHINE\\",
                             "REGISTRY\\MACHINE", "REGISTRY\\USER\\\\x"})
        EXPECT_TRUE(PackageRegistry::isValidKeyPath(good)) << good;
    for (const char* bad : {"HKLM\\Software", "REGISTRY", "", "\\\\", "REGISTRY\\MACHINEX",
                            "REGISTRY\\\\MACHINE", "MACHINE\\REGISTRY"})
        EXPECT_FALSE(PackageRegistry::isValidKeyPath(bad)) << bad;
    std::vector<uint32_t> types;
    for (const char* text : {"sz", "expandsz", "binary", "dword", "multisz", "SZ", "REG_SZ", ""})
        types.push_back(PackageRegistry::valueTypeFromText(text));
    EXPECT_EQ(types, (std::vector<uint32_t>{1, 2, 3, 4, 7, 0, 0, 0}));
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
