#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quendle {

class ICommandContainer;

// The first line of every command file begins with this.
inline constexpr const char* CommandFileMarker = ";qdc";

// Runs the sub-commands of a command file, one per line, through a command container.
// Encodings: UTF-16 LE or BE with a byte-order mark, otherwise "ANSI", which on Linux is UTF-8
// without a byte-order mark, each byte of an invalid sequence read as Windows-1252.
class CommandFile {
  public:
    CommandFile(std::string marker, ICommandContainer* container);

    // Reads and executes the whole file. A read that fails after the start ends the run quietly,
    // as the end of the file would (the lines before it have run). With noFail, an
    // ordinary failure of one line is presented and the next line runs; a command-line error
    // always ends the run. A file that is already being run (a line of it, or of a file it ran,
    // names it again) is refused: that would never end.
    void run(const std::string& path, bool noFail);

    // "&NAME&" and "%NAME%" of set variables are replaced by their values. When nothing expands,
    // the line comes back exactly as given (its "&" kept).
    static std::string expandVariables(std::string_view line);
    // Splits at blanks; "..." quotes a word (with "" for one quote inside). False when a quote is
    // missing or a closing quote is followed by something other than a blank; words holds the
    // words before the malformed one.
    static bool splitWords(std::string_view line, std::vector<std::string>& words);

    // A line longer than this (in bytes) ends the run: no sub-command needs it, and a device
    // without line ends must not grow the buffer without bound.
    static constexpr size_t MaxLineBytes = 64u << 20;

  private:
    void processLine(std::string_view line, bool noFail);
    void executeLine(const std::string& commandLine, bool noFail);

    std::string marker_;
    ICommandContainer* container_;
    int lineCount_ = 0;
    // Device and inode of each file being run, outermost first.
    std::vector<std::pair<uint64_t, uint64_t>> running_;
};

} // namespace quendle
