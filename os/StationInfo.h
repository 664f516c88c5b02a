#pragma once
#include <chrono>
#include <string>
#include <string_view>

namespace quendle {

// What the package history records about the machine and user of a run. On Linux each value
// comes from the nearest equivalent of its Windows source; values without one stay empty.
// No query ever fails: an unavailable value is an empty string.
struct StationInfo {
    std::string time;                // UTC, "2026-12-06T05:44:34.5Z"
    std::string sequencerUser;       // $USERDOMAIN\$USER, $USER or the account name
    std::string sequencingStation;   // host name
    std::string windowsVersion;      // kernel release
    std::string systemFolder;        // none on Linux
    std::string windowsFolder;       // none on Linux
    std::string userFolder;          // $HOME
    std::string systemType;          // none on Linux
    std::string processor;           // "<online CPUs> X <model name>"
    std::string lastRebootNormal;    // "0"
    std::string terminalServices;    // "0"
    std::string remoteSession;       // "0"
    std::string netFrameworkVersion; // none on Linux
    std::string ieVersion;           // none on Linux
    std::string osBitness;           // "64" or "32"
    std::string locale;              // "en-us"

    // Everything for the current moment, user and machine.
    static StationInfo query();
};

// The history's time format: seconds, then the milliseconds without leading zeros (".5Z").
std::string formatStationTime(std::chrono::system_clock::time_point when);

// The first "model name" of a /proc/cpuinfo text (other architectures: "Processor", "cpu"),
// or empty.
std::string cpuModelNameFromCpuInfo(std::string_view cpuInfo);

// A POSIX locale ("en_US.UTF-8", "de_DE@euro") as a Windows locale name ("en-us"); empty for
// "C", "POSIX" and an empty text.
std::string localeNameFromPosix(std::string_view posixLocale);

// $USERDOMAIN\$USER when the domain is set, else $USER; the account name when $USER is unset.
std::string stationUserName();

} // namespace quendle
