#include "os/StationInfo.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <string>
#include <tuple>

using namespace quendle;
using quendle::test::ScopedEnv;

namespace {

// Output of a shell command without its final line end: an independent view of the machine.
std::string commandOutput(const char* command) {
    std::string out = test::runProgram({"/bin/sh", "-c", command}).out;
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
        out.pop_back();
    return out;
}

std::chrono::system_clock::time_point at(long long seconds, long long millis) {
    return std::chrono::system_clock::time_point(std::chrono::seconds(seconds) +
                                                 std::chrono::milliseconds(millis));
}

} // namespace

TEST(StationInfo, TimeHasMillisecondsWithoutLeadingZeros) {
    // 2021-03-04T05:06:07 UTC with some milliseconds.
    auto time = [](const std::string& millis) {
        return formatStationTime(at(1614834367, std::stoi(millis)));
    };
    EXPECT_EQ(
        test::each(time, {"5", "0", "50", "999"}),
        "2021-03-04T05:06:07.5Z|2021-03-04T05:06:07.0Z|2021-03-04T05:06:07.50Z|2021-03-04T05:06:07.999Z");
    EXPECT_EQ(formatStationTime(at(0, 0)), "1970-01-01T00:00:00.0Z");
    const std::regex shape(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.[1-9]?\d{0,2}Z)");
    EXPECT_TRUE(std::regex_match(StationInfo::query().time, shape)) << StationInfo::query().time;
}

TEST(StationInfo, UserWithAndWithoutDomainAndLocaleFromPosixSettings) {
    ScopedEnv user("USER", "builder");
    auto userWith = [](const char* domain) {
        ScopedEnv scope("USERDOMAIN", domain);
        return stationUserName() + "," + StationInfo::query().sequencerUser;
    };
    // An empty domain counts as unset.
    EXPECT_EQ(userWith("CORP") + "|" + userWith("") + "|" + userWith(nullptr),
              "CORP\\builder,CORP\\builder|builder,builder|builder,builder");
    ScopedEnv domain("USERDOMAIN", nullptr), noUser("USER", nullptr);
    EXPECT_EQ(stationUserName(), commandOutput("id -un")) << "without $USER, the account name";

    EXPECT_EQ(test::each(localeNameFromPosix, {"en_US.UTF-8", "de_DE@euro", "fr_CA", "C.UTF-8", "POSIX", ""}),
              "en-us|de-de|fr-ca|||");
    auto localeWith = [](const char* all) {
        ScopedEnv allScope("LC_ALL", all), lang("LANG", "en_GB.UTF-8");
        return StationInfo::query().locale;
    };
    EXPECT_EQ(localeWith("pt_BR.UTF-8") + "|" + localeWith(nullptr), "pt-br|en-gb")
        << "LC_ALL wins over LANG";
}

TEST(StationInfo, CpuModelNameFromCpuInfoAndMachineValuesMatchTheSystemTools) {
    EXPECT_EQ(
        cpuModelNameFromCpuInfo("processor\t: 0\nmodel name\t: Intel(R) Xeon(R) CPU @ 2.20GHz\nflags\t\t: "
                                "fpu\n\nprocessor\t: 1\nmodel name\t: other\n"),
        "Intel(R) Xeon(R) CPU @ 2.20GHz");
    EXPECT_EQ(
        test::each(cpuModelNameFromCpuInfo,
                   {"Processor\t: ARMv7 Processor rev 4 (v7l)\nBogoMIPS\t: 38.40\n", "", "garbage\n\n\n"}),
        "ARMv7 Processor rev 4 (v7l)||");

    ScopedEnv home("HOME", "/home/packager");
    const StationInfo info = StationInfo::query();
    EXPECT_EQ(std::tuple(info.sequencingStation, info.windowsVersion, info.userFolder, info.osBitness),
              std::tuple(commandOutput("uname -n"), commandOutput("uname -r"), "/home/packager",
                         commandOutput("getconf LONG_BIT")));
    const std::string processors = commandOutput("getconf _NPROCESSORS_ONLN");
    EXPECT_EQ(info.processor.rfind(processors + " X ", 0), 0u) << info.processor;
    const std::string model = commandOutput("grep -m1 '^model name' /proc/cpuinfo | sed 's/^[^:]*: *//'");
    EXPECT_TRUE(model.empty() || info.processor == processors + " X " + model) << info.processor;
    // No Windows equivalent on Linux: these stay as documented.
    EXPECT_EQ(info.systemFolder + info.windowsFolder + info.systemType + info.netFrameworkVersion +
                  info.ieVersion,
              "");
    EXPECT_EQ(info.lastRebootNormal + info.terminalServices + info.remoteSession, "000");
}
