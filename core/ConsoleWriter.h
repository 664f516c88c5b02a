#pragma once
#include <cstdint>
#include <cstdio>
#include <string_view>

namespace quendle {

// Console text attributes, as the program names its colours.
enum ConsoleAttribute : uint16_t {
    AttributeDefault = 0,
    AttributeGreen = 2,
    AttributeGrey = 7,
    AttributeBrightRed = 12,
};

// All output after the banner goes through the two installed writers, both UTF-8 with LF line
// ends ("\r\n" in a text is written as one "\n"; a lone "\r" stays, for progress): the one on
// standard output carries what a command produces (usage asked for, reports, change lines, the
// success line); the one on standard error carries errors, warnings and progress, so that a
// pipeline reading standard output gets only the data.
class ConsoleWriter {
  public:
    // Installs the process-wide writers; later calls do nothing. Whether each stream is a
    // terminal is handed in, since asking the system is the platform layer's business.
    static void install(bool outputTerminal = false, bool errorTerminal = false);
    // The writer of standard output, or nullptr before install().
    static ConsoleWriter* installed();
    // The writer of standard error, or nullptr before install().
    static ConsoleWriter* errors();

    bool write(std::string_view text);
    bool writeLine(std::string_view text);
    // A line that is rewritten in place (progress on a terminal): written without a line end,
    // which the next ordinary text on the same screen, or endTransient(), adds first.
    void writeTransient(std::string_view text);
    void endTransient();

    // The stream is a terminal: progress may be rewritten in place.
    bool isTerminal() const { return terminal_; }
    // Colours are written: a terminal without NO_COLOR, or CLICOLOR_FORCE set.
    bool colorsEnabled() const { return colors_; }
    // Overrides the choice made from the environment (tests compare both forms).
    void setColorsEnabled(bool on) { colors_ = on; }

    // Current attribute; changed only through ConsoleColorScope.
    uint16_t attribute() const { return attribute_; }
    void setAttribute(uint16_t attribute);

  private:
    ConsoleWriter(std::FILE* stream, bool terminal);
    std::FILE* stream_;
    bool terminal_ = false;
    bool colors_ = false;
    uint16_t attribute_ = AttributeDefault;
    bool transientOpen_ = false;
};

// Sets a colour on one writer (standard output unless named) for its lifetime and restores the
// previous one afterwards.
class ConsoleColorScope {
  public:
    explicit ConsoleColorScope(uint16_t attribute);
    ConsoleColorScope(ConsoleWriter* writer, uint16_t attribute);
    ~ConsoleColorScope();
    ConsoleColorScope(const ConsoleColorScope&) = delete;
    ConsoleColorScope& operator=(const ConsoleColorScope&) = delete;

  private:
    ConsoleWriter* writer_;
    uint16_t previous_ = AttributeDefault;
};

// One line on standard error in bright red (an error) or in the console's colour (a warning or
// notice); nothing before the writers are installed.
void writeErrorLine(std::string_view text);
void writeWarningLine(std::string_view text);

} // namespace quendle
