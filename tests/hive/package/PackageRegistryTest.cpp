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

namespace {

const std::string Key = "REGISTRY\\MACHINE\\Software\\Vendor";
const Bytes Zero4{0, 0, 0, 0};

// A workspace content folder with a small Registry.dat, and a registry over it.
class Workspace {
  public:
    explicit Workspace(const std::string& fileName = "Registry.dat") {
        OfflineRegHive hive;
        hive.CreateNew("{6c1f3b5e-0000-4000-8000-000000000001}");
        hive.RootKey().Create("REGISTRY\\MACHINE\\Software\\Vendor\\Sub");
        hive.RootKey().Create("REGISTRY\\USER");
        hive.Save(dir / fileName);
        registry = std::make_unique<PackageRegistry>(dir / "", [this] { ++changes; });
    }
    // The default value or a named one as stored: exists, type, data.
    std::tuple<bool, uint32_t, Bytes> value(const std::string& name, const std::string& key = Key) {
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

// What a call printed on standard output.
std::string printed(const std::function<void()>& f) {
    ConsoleWriter::install();
    testing::internal::CaptureStdout();
    try {
        f();
    } catch (...) {
        testing::internal::GetCapturedStdout();
        throw;
    }
    return testing::internal::GetCapturedStdout();
}

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
    for (char16_t c : s) {
        b.push_back(static_cast<uint8_t>(c));
        b.push_back(static_cast<uint8_t>(c >> 8));
    }
    b.push_back(0);
    b.push_back(0);
    return b;
}

} // namespace

TEST(PackageRegistry, SetRegistryKeyWritesTheLevelBitsOnTheDefaultValue) {
    Workspace w;
    auto& r = *w.registry;
    // Overwrite without a default value: type 0x40000 and no data.
    r.SetRegistryKey(Key + "\\New\\Deeper", false, true, false);
    EXPECT_EQ(w.value("", Key + "\\New\\Deeper"), std::make_tuple(true, 0x40000u, Bytes{}));
    // Merge then removes a default value that carried nothing else.
    r.SetRegistryKey(Key + "\\New\\Deeper", true, false, false);
    EXPECT_FALSE(std::get<0>(w.value("", Key + "\\New\\Deeper")));
    // Merge on a key without a default value only makes sure the key exists.
    EXPECT_EQ(printed([&] { r.SetRegistryKey(Key + "\\Merged", true, false, false); }),
              "Updated registry key \"" + Key + "\\Merged\"\n");
    EXPECT_FALSE(std::get<0>(w.value("", Key + "\\Merged")));
    // Overwrite keeps type and data of an existing default value.
    w.setRaw("", 1, sz(u"x"));
    r.SetRegistryKey(Key, false, true, false);
    EXPECT_EQ(w.value(""), std::make_tuple(true, 0x40001u, sz(u"x")));
    r.SetRegistryKey(Key, true, false, false);
    EXPECT_EQ(w.value(""), std::make_tuple(true, 1u, sz(u"x")));
    // Deleted replaces whatever was there.
    r.SetRegistryKey(Key, false, false, true);
    EXPECT_EQ(w.value(""), std::make_tuple(true, 0x10000u, Zero4));
    // Overwrite on a deleted key drops the deleted bit but keeps the four bytes.
    r.SetRegistryKey(Key, false, true, false);
    EXPECT_EQ(w.value(""), std::make_tuple(true, 0x40000u, Zero4));
    // Merge on a deleted key leaves type 0 with the four zero bytes.
    r.SetRegistryKey(Key, false, false, true);
    r.SetRegistryKey(Key, true, false, false);
    EXPECT_EQ(w.value(""), std::make_tuple(true, 0u, Zero4));
    // No level at all (a level typed in another case): the key is created, nothing else.
    r.SetRegistryKey(Key + "\\Plain", false, false, false);
    EXPECT_FALSE(std::get<0>(w.value("", Key + "\\Plain")));
    EXPECT_EQ(w.changes, 10);
}

TEST(PackageRegistry, SetRegistryValueKeepsPathAndKeyBitsButNotTheDeletedMark) {
    Workspace w;
    auto& r = *w.registry;
    w.setRaw("marked", 0x20000, Zero4);
    r.SetRegistryValue(Key, "marked", 1, "back", false);
    EXPECT_EQ(w.value("marked"), std::make_tuple(true, 1u, sz(u"back")));

    w.setRaw("path", 0x400002, sz(u"[{Windows}]"));
    r.SetRegistryValue(Key, "path", 1, "plain", false); // false does not remove a kept 0x400000
    EXPECT_EQ(std::get<1>(w.value("path")), 0x400001u);

    w.setRaw("levels", 0x50007, {});
    r.SetRegistryValue(Key, "levels", 4, "1", false);
    EXPECT_EQ(std::get<1>(w.value("levels")), 0x50004u);

    r.SetRegistryValue(Key + "\\Fresh", "p", 2, "[{AppVPackageRoot}]\\a", true);
    EXPECT_EQ(w.value("p", Key + "\\Fresh"), std::make_tuple(true, 0x400002u, sz(u"[{AppVPackageRoot}]\\a")));

    // The -type text that no rule knows stores type 0 with the text read as a DWORD.
    r.SetRegistryValue(Key, "typeless", PackageRegistry::valueTypeFromText("DWORD"), "12abc", false);
    EXPECT_EQ(w.value("typeless"), std::make_tuple(true, 0u, Bytes{12, 0, 0, 0}));
    r.SetRegistryValue(Key, "bin", PackageRegistry::valueTypeFromText("binary"), "0aFF", false);
    EXPECT_EQ(w.value("bin"), std::make_tuple(true, 3u, Bytes{0x0A, 0xFF}));

    EXPECT_EQ(printed([&] { r.SetRegistryValue(Key, "Name", 1, "Wert", false); }),
              "Set registry value \"Name\" from key \"" + Key + "\" to value \"Wert\"\n");
}

TEST(PackageRegistry, InvalidBinaryTextFailsBeforeTheValueIsWritten) {
    Workspace w;
    w.setRaw("bin", 3, {1, 2});
    int before = w.changes;
    std::string out;
    try {
        out = printed([&] { w.registry->SetRegistryValue(Key, "bin", 3, "0aF", false); });
        FAIL();
    } catch (const Exception& e) {
        EXPECT_NE(e.message().find("\"0aF\""), std::string::npos);
    }
    EXPECT_EQ(w.value("bin"), std::make_tuple(true, 3u, Bytes{1, 2}));
    EXPECT_EQ(w.changes, before);
}

TEST(PackageRegistry, VirtualizeDeletedReplacesTheValueWithTheMarker) {
    Workspace w;
    w.setRaw("v", 0x400001, sz(u"long text"));
    EXPECT_EQ(printed([&] { w.registry->SetVirtualizeRegValueDeleted(Key, "v"); }),
              "Virtualize registry value \"v\" from key \"" + Key + "\" as deleted\n");
    EXPECT_EQ(w.value("v"), std::make_tuple(true, 0x20000u, Zero4));
    w.registry->SetVirtualizeRegValueDeleted(Key + "\\Other", "new");
    EXPECT_EQ(w.value("new", Key + "\\Other"), std::make_tuple(true, 0x20000u, Zero4));
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
    try {
        PackageRegistry::checkKeyPath("HKLM\\Software");
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(e.message(),
                  "Invalid App-V 5.x registry key path. A valid App-V 5.x registry key path must start "
                  "with \"REGISTRY\\MACHINE\" or \"REGISTRY\\USER\".");
    }
    EXPECT_EQ(PackageRegistry::valueTypeFromText("sz"), 1u);
    EXPECT_EQ(PackageRegistry::valueTypeFromText("expandsz"), 2u);
    EXPECT_EQ(PackageRegistry::valueTypeFromText("binary"), 3u);
    EXPECT_EQ(PackageRegistry::valueTypeFromText("dword"), 4u);
    EXPECT_EQ(PackageRegistry::valueTypeFromText("multisz"), 7u);
    EXPECT_EQ(PackageRegistry::valueTypeFromText("SZ"), 0u);
    EXPECT_EQ(PackageRegistry::valueTypeFromText("REG_SZ"), 0u);
    EXPECT_EQ(PackageRegistry::valueTypeFromText(""), 0u);
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
    EXPECT_FALSE(fs::exists(path + ".new"));
    OfflineRegHive saved;
    saved.Open(path);
    uint32_t type = 0;
    Bytes data;
    ASSERT_TRUE(saved.RootKey().Open(Key).GetValue("n", type, data));
    EXPECT_EQ(data, (Bytes{2, 0, 0, 0}));
    EXPECT_EQ(std::distance(fs::directory_iterator(fs::path(path).parent_path()), fs::directory_iterator()),
              1);
}

TEST(PackageRegistry, MissingHiveFailsOnFirstUseWithTheFileError) {
    ScratchDir dir;
    PackageRegistry registry(dir / "");
    EXPECT_EQ(win32ErrorOf([&] { registry.SetRegistryKey(Key, true, false, false); }), 2u);
    EXPECT_FALSE(registry.isOpen());
}
