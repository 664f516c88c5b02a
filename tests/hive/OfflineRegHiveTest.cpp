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

OfflineRegHive reopened(const OfflineRegHive& hive, ScratchDir& dir, const std::string& name) {
    hive.Save(dir / name);
    OfflineRegHive again;
    again.Open(dir / name);
    return again;
}

} // namespace

TEST(OfflineRegKey, CreateMakesEveryMissingLevelAndOpenFindsItIgnoringCase) {
    OfflineRegHive hive = newHive();
    OfflineRegKey b = hive.RootKey().Create("REGISTRY\\MACHINE\\SOFTWARE\\A\\B");
    b.SetValue("v", 4, bytesOf("\x01\x02\x03\x04"));
    EXPECT_EQ(hive.RootKey().Open("REGISTRY\\MACHINE").EnumSubkeys(), std::vector<std::string>{"Software"});
    EXPECT_EQ(hive.RootKey().Open("registry\\machine\\software").EnumSubkeys(),
              std::vector<std::string>{"A"});
    uint32_t type = 0;
    std::vector<uint8_t> data;
    // Leading, trailing and doubled backslashes name no key of their own.
    OfflineRegKey again = hive.RootKey().Open("\\registry\\\\MACHINE\\software\\a\\b\\");
    ASSERT_TRUE(again.GetValue("V", type, data));
    EXPECT_EQ(type, 4u);
    EXPECT_EQ(data, bytesOf("\x01\x02\x03\x04"));
    // Creating an existing path opens it and keeps what is there.
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
    EXPECT_EQ(errorOf([&] { root.Open("REGISTRY\\MACHINE\\Nope"); }), 2u);
    EXPECT_EQ(errorOf([&] { root.Open("REGISTRY\\MACHINE\\Nope\\Deeper"); }), 2u);
    EXPECT_EQ(errorOf([&] { hive.DeleteKey("REGISTRY\\MACHINE\\Nope"); }), 2u);
    EXPECT_EQ(errorOf([&] { hive.DeleteKeyTree("REGISTRY\\MACHINE\\Nope"); }), 2u);
    OfflineRegKey sw = root.Open("REGISTRY\\MACHINE\\Software");
    EXPECT_EQ(errorOf([&] { sw.DeleteValue("absent"); }), 2u);
    // Reading a default value that is not there is no error.
    uint32_t type = 99;
    std::vector<uint8_t> data{1};
    EXPECT_FALSE(sw.GetValue("", type, data));
    EXPECT_FALSE(sw.GetType("", type));
    try {
        root.Open("REGISTRY\\x");
        ADD_FAILURE();
    } catch (const Exception& e) {
        EXPECT_EQ(e.message(), "The system cannot find the file specified.\n");
        EXPECT_EQ(e.code(), GenericErrorCode);
        EXPECT_HAS(e.sourceLocationText(), "OfflineRegKey.cpp:");
    }
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
    for (auto f : std::vector<std::function<void()>>{[&] { hive.RootKey(); }, [&] { hive.Save("/tmp/x"); },
                                                     [&] { hive.DeleteKey("a"); },
                                                     [&] { key.SetValue("a", 1, nullptr, 0); },
                                                     [&] { key.EnumSubkeys(); }, [&] { key.Create("a"); }}) {
        try {
            f();
            ADD_FAILURE();
        } catch (const Exception& e) {
            EXPECT_EQ(e.message(), HiveNotOpenText);
        }
    }
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

TEST(OfflineRegHive, ValuesKeepEveryTypeBitAndTheirExactDataInBothFormats) {
    for (uint32_t minor : {3u, 5u}) {
        SCOPED_TRACE(minor);
        ScratchDir dir;
        OfflineRegHive hive = newHive(minor);
        OfflineRegKey k = hive.RootKey().Create("REGISTRY\\MACHINE\\Software\\Types");
        std::vector<uint8_t> big(1 << 20);
        for (size_t i = 0; i < big.size(); ++i)
            big[i] = static_cast<uint8_t>(i * 131 + i / 977);
        std::vector<std::pair<uint32_t, std::vector<uint8_t>>> cases = {
            {0x10000, {0, 0, 0, 0}},
            {0x20000, {0, 0, 0, 0}},
            {0x40000, {}},
            {0x400001, bytesOf("C\0:\0\0\0")},
            {0xFFFFFFFF, {7}},
            {3, std::vector<uint8_t>(5, 9)},
            {3, std::vector<uint8_t>(16344, 1)},
            {3, std::vector<uint8_t>(16345, 2)},
            {3, std::vector<uint8_t>(40000, 3)},
            {3, big},
        };
        for (size_t i = 0; i < cases.size(); ++i)
            k.SetValue("v" + std::to_string(i), cases[i].first, cases[i].second);
        k.SetValue("", 0x40001, bytesOf("d\0\0\0"));
        OfflineRegHive again = reopened(hive, dir, "out.dat");
        EXPECT_EQ(again.formatMinorVersion(), minor);
        OfflineRegKey r = again.RootKey().Open("REGISTRY\\MACHINE\\Software\\Types");
        for (size_t i = 0; i < cases.size(); ++i) {
            uint32_t type = 0;
            std::vector<uint8_t> data;
            ASSERT_TRUE(r.GetValue("v" + std::to_string(i), type, data));
            EXPECT_EQ(type, cases[i].first) << i;
            EXPECT_EQ(data, cases[i].second) << i;
        }
        uint32_t type = 0;
        EXPECT_TRUE(r.GetType("", type));
        EXPECT_EQ(type, 0x40001u);
        EXPECT_EQ(r.EnumValues().size(), cases.size() + 1);
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
