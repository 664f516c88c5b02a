#include "util/strings/MessageFormat.h"
#include "core/Exception.h"
#include "util/strings/StringTable.h"

#include <gtest/gtest.h>

using namespace quendle;

TEST(MessageFormat, InsertsAndStringTable) {
    EXPECT_EQ(formatMessageId(Msg::FileNotFound, {"a b"}), "File not found: \"a b\".");
    EXPECT_EQ(formatString(loadString(Msg::ParameterValueInvalid), {"-type", "x"}),
              "Invalid \"-type\" parameter value: \"x\".");
    EXPECT_EQ(formatString(loadString(Msg::ProgressPercent), {42}), " 42%");
    EXPECT_EQ(formatMessage("%1!ls! and %2!ld!", {"x", 7}), "x and 7");
    EXPECT_EQ(loadString(134), "");
    EXPECT_EQ(formatMessage("%2!ls!", {"only one"}).rfind("Format message error", 0), 0u);
}

TEST(Exception, CarriesCodeAndRaisingSite) {
    try {
        throw Exception(Msg::NullPointer);
    } catch (const Exception& e) {
        EXPECT_EQ(e.message(), "Null pointer exception.");
        EXPECT_EQ(e.code(), GenericErrorCode);
        EXPECT_NE(e.sourceLocationText().find("MessageFormatTest.cpp:"), std::string::npos);
    }
    WindowsException w(5);
    EXPECT_EQ(w.message(), "Win32 Error [5]: \"Access is denied.\"");
    EXPECT_EQ(w.code(), 5u);
    EXPECT_EQ(Exception(ErrorCode{CommandFileFormatErrorCode}, Msg::CommandFileFormat, ";qdc").code(),
              CommandFileFormatErrorCode);
}

TEST(MessageFormat, EscapesAndPrintfStyleInserts) {
    EXPECT_EQ(formatMessage("a%nb%tc%rd%%e%.f%!", {}), "a\nb\tc\rd%e.f!");
    EXPECT_EQ(formatMessage("kept%0 dropped", {}), "kept");
    EXPECT_EQ(formatMessage("%1!ls! %1!ls!", {"twice"}), "twice twice");
    EXPECT_EQ(formatMessage("0x%1!x!", {255}), "0xff");
    EXPECT_EQ(formatString("%s=%d%%, %q", {"rate", 50}), "rate=50%, %q");
    EXPECT_EQ(formatString("%s and %s", {"one"}), "one and ");
    EXPECT_EQ(formatStringId(Msg::ParameterValueMissing, {"-xpath"}),
              "Value is missing for the parameter -xpath.\n");
    EXPECT_EQ(formatMessageId(Msg::CommandFileFormat, {";qdc"}).substr(0, 32),
              "Unsupported command file format.");
}
