#include "core/ProgressLine.h"

#include "core/ConsoleWriter.h"
#include "util/strings/MessageFormat.h"
#include "util/strings/StringTable.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace quendle {
namespace {

bool quietSwitch = false;

bool environmentSaysOff() {
    const char* v = std::getenv("QUENDLE_PROGRESS");
    return v && std::string_view(v) == "0";
}

} // namespace

void ProgressLine::setQuiet(bool quiet) {
    quietSwitch = quiet;
}

bool ProgressLine::quiet() {
    return quietSwitch || environmentSaysOff();
}

ProgressLine::~ProgressLine() {
    end();
}

std::string ProgressLine::sizeText(uint64_t bytes) {
    static const char* const units[] = {"KiB", "MiB", "GiB", "TiB"};
    if (bytes < 1024)
        return std::to_string(bytes) + " bytes";
    double value = static_cast<double>(bytes) / 1024;
    size_t unit = 0;
    while (value >= 1024 && unit + 1 < std::size(units)) {
        value /= 1024;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
    return text;
}

std::string ProgressLine::figuresText(uint64_t entries, uint64_t totalEntries, uint64_t bytes,
                                      uint64_t totalBytes) {
    return formatStringId(Msg::ProgressFigures, {std::to_string(entries), std::to_string(totalEntries),
                                                 sizeText(bytes), sizeText(totalBytes)});
}

int ProgressLine::percent() const {
    // Bytes measure the work best; a step of empty files has only its entries to count.
    uint64_t done = totalBytes_ > 0 ? bytes_ : entries_;
    uint64_t total = totalBytes_ > 0 ? totalBytes_ : totalEntries_;
    if (total == 0 || done >= total)
        return 100;
    return static_cast<int>(done * 100 / total);
}

void ProgressLine::begin(const std::string& title, uint64_t totalEntries, uint64_t totalBytes) {
    end();
    title_ = title;
    totalEntries_ = totalEntries;
    totalBytes_ = totalBytes;
    entries_ = bytes_ = 0;
    shownLength_ = 0;
    if (quiet() || !ConsoleWriter::errors())
        return;
    writer_ = ConsoleWriter::errors();
    lastShown_ = now_();
    if (writer_->isTerminal()) {
        writer_->writeTransient(title_);
        shownLength_ = title_.size();
    } else {
        writer_->writeLine(title_);
    }
}

void ProgressLine::advance(uint64_t entries, uint64_t bytes) {
    entries_ += entries;
    bytes_ += bytes;
    if (!writer_)
        return;
    Clock::time_point now = now_();
    if (now - lastShown_ >=
        (writer_->isTerminal() ? Clock::duration(TerminalInterval) : Clock::duration(LogInterval)))
        show(now);
}

void ProgressLine::show(Clock::time_point now) {
    lastShown_ = now;
    std::string text = formatStringId(Msg::ProgressLine, {title_, percent(), std::to_string(entries_),
                                                          std::to_string(totalEntries_), sizeText(bytes_),
                                                          sizeText(totalBytes_)});
    if (!writer_->isTerminal()) {
        writer_->writeLine(text);
        return;
    }
    size_t length = text.size();
    if (length < shownLength_)
        text.append(shownLength_ - length, ' ');
    shownLength_ = length;
    writer_->writeTransient("\r" + text);
}

void ProgressLine::end() {
    if (!writer_)
        return;
    // The final figures stay on the terminal; a log has had its lines.
    if (writer_->isTerminal()) {
        show(now_());
        writer_->endTransient();
    }
    writer_ = nullptr;
}

} // namespace quendle
