#pragma once
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace quendle {

class ConsoleWriter;

// How far one long step has come (opening, packing, expanding a package), on standard error so
// that standard output keeps only the data. The figures are what the step reports as done:
// entries and bytes, against the totals it announced. On a terminal the step's title is followed
// by figures rewritten in place a few times a second, and the final figures end the line; into a
// file or a pipe the title is a line of its own, and a line with the figures follows at most
// every five seconds. `-quiet` or QUENDLE_PROGRESS=0 shows nothing at all.
class ProgressLine {
  public:
    using Clock = std::chrono::steady_clock;

    // The switch of the command line; QUENDLE_PROGRESS=0 turns progress off as well.
    static void setQuiet(bool quiet);
    static bool quiet();

    // `now` tells the time (a test passes its own clock).
    explicit ProgressLine(std::function<Clock::time_point()> now = &Clock::now) : now_(std::move(now)) {}
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    // Starts a step (ending one still open); nothing is shown when progress is off.
    void begin(const std::string& title, uint64_t totalEntries, uint64_t totalBytes);
    // Counts work done since the last call.
    void advance(uint64_t entries, uint64_t bytes);
    // Ends the step: on a terminal the final figures stay on the line. Without an open step
    // nothing happens, so it may be called on every path.
    void end();
    bool active() const { return writer_ != nullptr; }

    uint64_t entriesDone() const { return entries_; }
    uint64_t bytesDone() const { return bytes_; }

    // "1.5 MiB" and the like, for the figures.
    static std::string sizeText(uint64_t bytes);
    // The figures of a step as the line shows them.
    static std::string figuresText(uint64_t entries, uint64_t totalEntries, uint64_t bytes,
                                   uint64_t totalBytes);

    // Pauses between two lines: on a terminal, and into a file or a pipe.
    static constexpr auto TerminalInterval = std::chrono::milliseconds(200);
    static constexpr auto LogInterval = std::chrono::seconds(5);

  private:
    void show(Clock::time_point now);
    int percent() const;

    std::function<Clock::time_point()> now_;
    ConsoleWriter* writer_ = nullptr; // null while no step is shown
    std::string title_;
    uint64_t totalEntries_ = 0, totalBytes_ = 0;
    uint64_t entries_ = 0, bytes_ = 0;
    Clock::time_point lastShown_;
    size_t shownLength_ = 0; // of the text now on the terminal line, for blanking a shorter one
};

} // namespace quendle
