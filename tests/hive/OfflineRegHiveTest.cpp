#include "HiveTestSupport.h"

#include "core/SystemError.h"
#include "hive/OfflineRegException.h"
#include "hive/OfflineRegHive.h"

#include <gtest/gtest.h>

using namespace quendle;
using namespace quendle::test;

namespace {

OfflineRegHive newHive(uint32_t minor = 3) {
    OfflineRegHive hive;
    hive.CreateNew("{00000000-1111-2222-3333-444444444444}", minor);
    hive.RootKey().Create("REGISTRY\\MACHINE\\Software");
    hive.RootKey().Create("REGISTRY\\USER");
    return hive;
}

uint32_t errorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const OfflineRegException& e) {
        EXPECT_EQ(e.message(), GetSystemErrorText(e.win32Error()));
        return e.win32Error();
    }
    return 0;
}

std::vector<uint8_t> bytesOf(std::string_view s) {
    return std::vector<uint8_t>(s.begin(), s.end());
}

} // namespace

TEST(OfflineRegKey, CreateMakesEveryMissingLevelAndOpenFindsItIgnoringCase) {
    OfflineRegHive hive = newHive();
    OfflineRegKey b = hive.RootKey().Create("REGISTRY\\MACHINE\\SOFTWARE\\A\\B");
    b.SetValue("v", 4, bytesOf("\x01\x02\x03\x04"));
    EXPECT_EQ(hive.RootKey().Open("REGISTRY\\MACHINE").EnumSubkeys(), std::vector<std::string>{"Software"});
    // Leading, trailing and doubled backslashes name no key of their own.
    OfflineRegKey again = hive.RootKey().Open("\\registry\\\\MACHINE\\software\\a\\b\\");
    EXPECT_EQ(storedValue(again, "V"), StoredValue(true, 4u, bytesOf("\x01\x02\x03\x04")));
    // Creating an existing path opens it and keeps what is there.
    uint32_t type = 0;
    EXPECT_TRUE(hive.RootKey().Create("REGISTRY\\Machine\\Software\\A\\B").GetType("v", type));
    EXPECT_EQ(hive.RootKey().Open("REGISTRY\\MACHINE\\Software\\A\\B").Name(), "B");
}

TEST(OfflineRegKey, SubkeysAreListedInTheRegistrysOrderAndCompareIgnoringCaseBeyondAscii) {
    OfflineRegHive hive = newHive();
    OfflineRegKey sw = hive.RootKey().Open("REGISTRY\\MACHINE\\Software");
    for (const char* name : {"b", "C", "a_", "A", "ab"})
        sw.Create(name);
    // Upper-cased comparison: "_" (0x5F) sorts after the letters.
    EXPECT_EQ(sw.EnumSubkeys(), (std::vector<std::string>{"A", "ab", "a_", "b", "C"}));

    sw = sw.Create("Other");
    sw.Create("Ünïcødé\\Ключ\\ωμέγα").SetValue("Größe", 1, bytesOf("x\0\0\0"));
    OfflineRegKey k = sw.Open("üNÏCØDÉ\\КЛЮЧ\\ΩΜΈΓΑ");
    uint32_t type = 0;
    EXPECT_TRUE(k.GetType("GRößE", type));
    EXPECT_FALSE(k.GetType("GROSSE", type)); // simple mapping only: ß has no one-letter upper case
    EXPECT_EQ(sw.EnumSubkeys(), std::vector<std::string>{"Ünïcødé"});
    sw.Create("ÜNÏCØDÉ"); // the same key
    EXPECT_EQ(sw.EnumSubkeys().size(), 1u);
}

TEST(OfflineRegKey, MissingKeysAndValuesFailWithError2AndItsText) {
    OfflineRegHive hive = newHive();
    OfflineRegKey root = hive.RootKey();
    OfflineRegKey sw = root.Open("REGISTRY\\MACHINE\\Software");
    for (const auto& f : std::vector<std::function<void()>>{
             [&] { root.Open("REGISTRY\\MACHINE\\Nope\\Deeper"); },
             [&] { hive.DeleteKey("REGISTRY\\MACHINE\\Nope"); },
             [&] { hive.DeleteKeyTree("REGISTRY\\MACHINE\\Nope"); }, [&] { sw.DeleteValue("absent"); }})
        EXPECT_EQ(errorOf(f), 2u);
    // Reading a default value that is not there is no error.
    uint32_t type = 0;
    EXPECT_EQ(storedValue(sw, ""), StoredValue(false, 0u, {}));
    EXPECT_FALSE(sw.GetType("", type));
    auto e = thrown<Exception>([&] { root.Open("REGISTRY\\x"); });
    EXPECT_EQ(std::pair(e.message(), e.code()),
              std::pair(std::string("The system cannot find the file specified.\n"), GenericErrorCode));
    EXPECT_HAS(e.sourceLocationText(), "OfflineRegKey.cpp:");
}

TEST(OfflineRegHive, DeleteKeyRefusesSubkeysAndRootWhileDeleteKeyTreeRemovesAll) {
    OfflineRegHive hive = newHive();
    OfflineRegKey root = hive.RootKey();
    OfflineRegKey deep = root.Create("REGISTRY\\MACHINE\\Software\\T\\A\\B\\C");
    root.Create("REGISTRY\\MACHINE\\Software\\T\\D").SetValue("x", 1, bytesOf("a\0\0\0"));
    EXPECT_EQ(errorOf([&] { hive.DeleteKey("REGISTRY\\MACHINE\\Software\\T"); }), 5u);
    EXPECT_EQ(errorOf([&] { hive.DeleteKey(""); }), 5u);
    EXPECT_EQ(errorOf([&] { hive.DeleteKeyTree("\\"); }), 5u);
    EXPECT_EQ(root.Open("REGISTRY\\MACHINE\\Software\\T").EnumSubkeys().size(), 2u);

    hive.DeleteKey("REGISTRY\\MACHINE\\Software\\T\\A\\B\\C");
    EXPECT_TRUE(root.Open("REGISTRY\\MACHINE\\Software\\T\\A\\B").EnumSubkeys().empty());
    // A handle to a deleted key stays safe to use and says so.
    EXPECT_EQ(errorOf([&] { deep.SetValue("v", 1, {}); }), 1018u);
    hive.DeleteKeyTree("registry\\machine\\software\\t");
    EXPECT_TRUE(root.Open("REGISTRY\\MACHINE\\Software").EnumSubkeys().empty());
    EXPECT_EQ(errorOf([&] { root.Open("REGISTRY\\MACHINE\\Software\\T"); }), 2u);
}

TEST(OfflineRegHive, OperationsOnWhatIsNotOpenRaiseTheNotOpenMessage) {
    OfflineRegHive hive;
    OfflineRegKey key;
    for (auto f : std::vector<std::function<void()>>{
             [&] { hive.RootKey(); }, [&] { hive.Save("/tmp/x"); }, [&] { hive.DeleteKey("a"); },
             [&] { key.SetValue("a", 1, nullptr, 0); }, [&] { key.EnumSubkeys(); }, [&] { key.Create("a"); }})
        EXPECT_EQ(failureOf(f), HiveNotOpenText);
}

TEST(OfflineRegHive, OpenAndSaveReportFileErrors) {
    ScratchDir dir;
    OfflineRegHive hive;
    EXPECT_EQ(errorOf([&] { hive.Open(dir / "none.dat"); }), 2u);
    writeBytes(dir / "text.dat", std::vector<uint8_t>(8192, 'x'));
    EXPECT_EQ(errorOf([&] { hive.Open(dir / "text.dat"); }), 1009u);
    EXPECT_FALSE(hive.isOpen());

    // Save refuses an existing target and leaves it alone.
    hive = newHive();
    writeBytes(dir / "Registry.dat", bytesOf("keep"));
    EXPECT_EQ(errorOf([&] { hive.Save(dir / "Registry.dat"); }), 183u);
    EXPECT_EQ(readBytes(dir / "Registry.dat"), bytesOf("keep"));
    EXPECT_EQ(errorOf([&] { hive.Save(dir / "no-such-folder/Registry.dat"); }), 3u);
}

// verify_hive.py stores every type bit and sizes from none to 1 MiB in both formats and reads them
// back with hivex, libregf and reglookup. Two cases are judged here: libregf reads inline data
// shorter than four bytes as zeros, and hivex and libregf read a big-data segment only up to four
// bytes short of its cell's end, so they cut the one-byte last segment of a 16,345-byte value.
TEST(OfflineRegHive, OneByteValuesAndTheSmallestBigDataRecordKeepTheirData) {
    for (uint32_t minor : {3u, 5u}) {
        SCOPED_TRACE(minor);
        ScratchDir dir;
        OfflineRegHive hive = newHive(minor);
        OfflineRegKey k = hive.RootKey().Create("REGISTRY\\MACHINE\\Software\\Types");
        const StoredValue one{true, 0xFFFFFFFF, {7}}, big{true, 3, bytesOf(randomBytes(16345))};
        k.SetValue("one", std::get<1>(one), std::get<2>(one));
        k.SetValue("big", std::get<1>(big), std::get<2>(big));
        hive.Save(dir / "out.dat");
        OfflineRegHive again;
        again.Open(dir / "out.dat");
        OfflineRegKey r = again.RootKey().Open("REGISTRY\\MACHINE\\Software\\Types");
        EXPECT_EQ(std::tuple(storedValue(r, "one"), storedValue(r, "big")), std::tuple(one, big));
    }
}

TEST(OfflineRegHive, RefusesNamesAndDataTheFormatCannotHold) {
    OfflineRegHive hive = newHive();
    OfflineRegKey sw = hive.RootKey().Open("REGISTRY\\MACHINE\\Software");
    EXPECT_EQ(errorOf([&] { sw.Create(std::string(256, 'k')); }), 87u);
    EXPECT_NO_THROW(sw.Create(std::string(255, 'k')));
    EXPECT_EQ(errorOf([&] { sw.SetValue(std::string(16384, 'v'), 1, {}); }), 87u);
    EXPECT_EQ(errorOf([&] { sw.Create("bad\xff utf8"); }), 87u);
    std::string deep;
    for (int i = 0; i < 600; ++i)
        deep += "d\\";
    EXPECT_EQ(errorOf([&] { sw.Create(deep); }), 87u);
}
