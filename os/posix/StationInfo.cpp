#include "os/StationInfo.h"

#include <cstdlib>
#include <fstream>
#include <pwd.h>
#include <sys/utsname.h>
#include <unistd.h>

namespace quendle {
namespace {

// Longest value the Windows side takes from its fixed-size buffers (MAX_PATH).
constexpr size_t MaxPathCharacters = 260;

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

std::string_view trim(std::string_view s) {
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos)
        return {};
    const auto last = s.find_last_not_of(" \t\r\n");
    return s.substr(first, last - first + 1);
}

std::string hostName() {
    char buffer[256] = {};
    if (gethostname(buffer, sizeof buffer - 1) != 0)
        return {};
    return buffer;
}

std::string cpuModelName() {
    std::ifstream in("/proc/cpuinfo");
    std::string line;
    std::string text;
    // The first processor's block is enough; stop before reading the whole file on big machines.
    while (std::getline(in, line)) {
        if (trim(line).empty() && !text.empty())
            break;
        text += line;
        text += '\n';
        if (text.size() > 64 * 1024)
            break;
    }
    return cpuModelNameFromCpuInfo(text);
}

std::string processorText() {
    const long count = sysconf(_SC_NPROCESSORS_ONLN);
    const std::string number = count > 0 ? std::to_string(count) : std::string();
    return number + " X " + cpuModelName();
}

std::string bitness(const utsname& system) {
    const std::string_view machine = system.machine;
    const bool wide = machine.find("64") != std::string_view::npos || machine == "s390x";
    return wide || sizeof(void*) == 8 ? "64" : "32";
}

} // namespace

std::string stationUserName() {
    const std::string domain = environment("USERDOMAIN");
    std::string user = environment("USER");
    // Services and containers often run without $USER; the account name is what it would say.
    if (user.empty()) {
        if (const passwd* account = getpwuid(geteuid()))
            user = account->pw_name ? account->pw_name : "";
    }
    return domain.empty() ? user : domain + "\\" + user;
}

StationInfo StationInfo::query() {
    StationInfo info;
    info.time = formatStationTime(std::chrono::system_clock::now());
    info.sequencerUser = stationUserName();
    info.sequencingStation = hostName();
    utsname system{};
    const bool haveSystem = uname(&system) == 0;
    if (haveSystem)
        info.windowsVersion = system.release;
    info.userFolder = environment("HOME");
    if (info.userFolder.size() >= MaxPathCharacters)
        info.userFolder.clear();
    info.processor = processorText();
    info.lastRebootNormal = "0";
    info.terminalServices = "0";
    info.remoteSession = "0";
    info.osBitness = haveSystem ? bitness(system) : (sizeof(void*) == 8 ? "64" : "32");
    std::string posixLocale = environment("LC_ALL");
    if (posixLocale.empty())
        posixLocale = environment("LANG");
    info.locale = localeNameFromPosix(posixLocale);
    return info;
}

} // namespace quendle
