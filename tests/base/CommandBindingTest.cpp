#include "cli/CommandBinding.h"

#include "util/strings/StringTable.h"

#include <gtest/gtest.h>

using namespace quendle;

// The table hands the parsed values to typed functions; a slip in the unpacking would give a
// handler the wrong value, a switch the wrong truth or a rest parameter too few words.
TEST(CommandBinding, ValuesArriveTypedInOrderAndAWrongCountIsAnInternalError) {
    std::string seenPart, seenXpath;
    bool seenSwitch = true;
    CommandHandler fixed = typedHandler([&](const std::string& part, std::string_view xpath, bool create) {
        seenPart = part;
        seenXpath = std::string(xpath);
        seenSwitch = create;
    });
    EXPECT_EQ(fixed({"StreamMap.xml", "//a", "false"}), 0u);
    EXPECT_EQ(seenPart, "StreamMap.xml");
    EXPECT_EQ(seenXpath, "//a");
    EXPECT_FALSE(seenSwitch);
    fixed({"p", "x", "true"});
    EXPECT_TRUE(seenSwitch);

    std::vector<std::string> seenRest;
    CommandHandler rest = typedHandler([&](const std::string&, const std::vector<std::string>& words) {
        seenRest = words;
        return 7u; // a handler's own result passes through
    });
    EXPECT_EQ(rest({"pkg", "Del-File", "Root\\a"}), 7u);
    EXPECT_EQ(seenRest, (std::vector<std::string>{"Del-File", "Root\\a"}));
    rest({"pkg"});
    EXPECT_TRUE(seenRest.empty());

    for (const CommandValues& wrong : {CommandValues{"a", "b"}, CommandValues{"a", "b", "true", "d"}}) {
        try {
            fixed(wrong);
            ADD_FAILURE() << "no error for " << wrong.size() << " values";
        } catch (const Exception& e) {
            EXPECT_EQ(e.message(), loadString(Msg::UnexpectedException));
        }
    }
    EXPECT_THROW(rest({}), Exception);
}
