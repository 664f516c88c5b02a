#include "os/StationInfo.h"

#include <cstdio>

namespace quendle {
namespace {

std::string_view trim(std::string_view s) {
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos)
        return {};
    const auto last = s.find_last_not_of(" \t\r\n");
    return s.substr(first, last - first + 1);
}

} // namespace

std::string formatStationTime(std::chrono::system_clock::time_point when) {
    using namespace std::chrono;
    // floor keeps the milliseconds positive before 1970 too.
    const auto seconds = floor<std::chrono::seconds>(when);
    const auto millis = duration_cast<milliseconds>(when - seconds).count();
    const auto day = floor<days>(seconds);
    const year_month_day date{day};
    const hh_mm_ss time{seconds - day};
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04d-%02u-%02uT%02d:%02d:%02d.%dZ", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()), static_cast<int>(millis));
    return buffer;
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

} // namespace quendle
