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
using Stored = std::tuple<bool, uint32_t, Bytes>; // exists, type, data

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
        uint32_t type = 0;
        Bytes data;
        bool exists = registry->hive().RootKey().Open(key).GetValue(name, type, data);
        return {exists, type, data};
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
    enum Level { None, Merge, Overwrite, Deleted };
    struct Step {
        const char* what;
        std::string key;
        Level level;
        Stored expected;
        bool seedDefault = false; // an ordinary default value is put there first
    };
    const std::string deeper = Key + "\\New\\Deeper";
    const Step steps[] = {
        {"overwrite without a default value: type 0x40000, no data", deeper, Overwrite, {true, 0x40000u, {}}},
        {"merge removes a default value that carried nothing else", deeper, Merge, {false, 0, {}}},
        {"merge without a default value only makes sure the key exists",
         Key + "\\Merged",
         Merge,
         {false, 0, {}}},
        {"no level (typed in another case): the key, nothing else", Key + "\\Plain", None, {false, 0, {}}},
        {"overwrite keeps type and data of an existing default value",
         Key,
         Overwrite,
         {true, 0x40001u, sz(u"x")},
         true},
        {"merge takes the bit off again", Key, Merge, {true, 1u, sz(u"x")}},
        {"deleted replaces whatever was there", Key, Deleted, {true, 0x10000u, Zero4}},
        {"overwrite drops the deleted bit but keeps the four bytes", Key, Overwrite, {true, 0x40000u, Zero4}},
        {"deleted again", Key, Deleted, {true, 0x10000u, Zero4}},
        {"merge on a deleted key leaves type 0 with the four zero bytes", Key, Merge, {true, 0u, Zero4}},
    };
    std::string out;
    for (const Step& s : steps) {
        if (s.seedDefault)
            w.setRaw("", 1, sz(u"x"));
        out = printed([&] {
            w.registry->SetRegistryKey(s.key, s.level == Merge, s.level == Overwrite, s.level == Deleted);
        });
        EXPECT_EQ(w.value("", s.key), s.expected) << s.what;
        EXPECT_EQ(out, "Updated registry key \"" + s.key + "\"\n") << s.what;
    }
    EXPECT_EQ(w.changes, 10);
}

TEST(PackageRegistry, SetRegistryValueKeepsPathAndKeyBitsButNotTheDeletedMark) {
    Workspace w;
    auto& r = *w.registry;
    w.setRaw("marked", 0x20000, Zero4);
    r.SetRegistryValue(Key, "marked", 1, "back", false);
    EXPECT_EQ(w.value("marked"), Stored(true, 1u, sz(u"back")));
    w.setRaw("path", 0x400002, sz(u"[{Windows}]"));
    r.SetRegistryValue(Key, "path", 1, "plain", false); // false does not remove a kept 0x400000
    EXPECT_EQ(std::get<1>(w.value("path")), 0x400001u);
    w.setRaw("levels", 0x50007, {});
    r.SetRegistryValue(Key, "levels", 4, "1", false);
    EXPECT_EQ(std::get<1>(w.value("levels")), 0x50004u);
    r.SetRegistryValue(Key + "\\Fresh", "p", 2, "[{AppVPackageRoot}]\\a", true);
    EXPECT_EQ(w.value("p", Key + "\\Fresh"), Stored(true, 0x400002u, sz(u"[{AppVPackageRoot}]\\a")));
    // The -type text that no rule knows stores type 0 with the text read as a DWORD.
    r.SetRegistryValue(Key, "typeless", PackageRegistry::valueTypeFromText("DWORD"), "12abc", false);
    EXPECT_EQ(w.value("typeless"), Stored(true, 0u, Bytes{12, 0, 0, 0}));
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
    EXPECT_EQ(failureOf([] { PackageRegistry::checkKeyPath("HKLM\\Software"); }),
              "Invalid App-V 5.x registry key path. A valid App-V 5.x registry key path must start "
              "with \"REGISTRY\\MACHINE\" or \"REGISTRY\\USER\".");
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
    uint32_t type = 0;
    Bytes data;
    ASSERT_TRUE(saved.RootKey().Open(Key).GetValue("n", type, data));
    EXPECT_EQ(data, (Bytes{2, 0, 0, 0}));
    EXPECT_EQ(std::distance(fs::directory_iterator(w.dir.path()), fs::directory_iterator()), 1);

    // A missing hive fails on first use with the file error.
    ScratchDir empty;
    PackageRegistry registry(empty / "");
    EXPECT_EQ(win32ErrorOf([&] { registry.SetRegistryKey(Key, true, false, false); }), 2u);
    EXPECT_FALSE(registry.isOpen());
}
