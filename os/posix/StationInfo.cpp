#include "os/StationInfo.h"

#include <cstdlib>
#include <ctime>
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

std::string formatStationTime(std::chrono::system_clock::time_point when) {
    using namespace std::chrono;
    const auto sinceEpoch = when.time_since_epoch();
    auto seconds = duration_cast<std::chrono::seconds>(sinceEpoch);
    auto millis = duration_cast<milliseconds>(sinceEpoch - seconds).count();
    if (millis < 0) {
        // before 1970: keep the milliseconds positive
        seconds -= std::chrono::seconds(1);
        millis += 1000;
    }
    const std::time_t t = static_cast<std::time_t>(seconds.count());
    std::tm utc{};
    if (!gmtime_r(&t, &utc))
        return {};
    char buffer[64];
    if (std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%S", &utc) == 0)
        return {};
    return std::string(buffer) + "." + std::to_string(millis) + "Z";
}

std::string cpuModelNameFromCpuInfo(std::string_view cpuInfo) {
    std::string fallback;
    size_t pos = 0;
    while (pos < cpuInfo.size()) {
        size_t end = cpuInfo.find('\n', pos);
        if (end == std::string_view::npos)
            end = cpuInfo.size();
        const std::string_view line = cpuInfo.substr(pos, end - pos);
        pos = end + 1;
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos)
            continue;
        const std::string_view key = trim(line.substr(0, colon));
        const std::string_view value = trim(line.substr(colon + 1));
        if (key == "model name")
            return std::string(value);
        if (fallback.empty() && (key == "Processor" || key == "cpu" || key == "Hardware"))
            fallback = value;
    }
    return fallback;
}

std::string localeNameFromPosix(std::string_view posixLocale) {
    const size_t cut = posixLocale.find_first_of(".@");
    std::string_view name = posixLocale.substr(0, cut);
    if (name.empty() || name == "C" || name == "POSIX")
        return {};
    std::string out;
    for (char c : name) {
        if (c == '_')
            out += '-';
        else if (c >= 'A' && c <= 'Z')
            out += static_cast<char>(c - 'A' + 'a');
        else
            out += c;
    }
    return out;
}

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
