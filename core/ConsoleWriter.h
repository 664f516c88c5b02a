#pragma once
#include <cstdint>
#include <string_view>

namespace quendle {

// Console text attributes, as the program names its colours.
enum ConsoleAttribute : uint16_t {
    AttributeDefault = 0,
    AttributeGreen = 2,
    AttributeGrey = 7,
    AttributeBrightRed = 12,
};

// All output after the banner goes through the one installed writer: UTF-8 on standard output
// with LF line ends ("\r\n" in a text is written as one "\n"; a lone "\r" stays, for progress).
class ConsoleWriter {
  public:
    // Installs the process-wide writer; later calls do nothing. Whether standard output is a
    // terminal is handed in, since asking the system is the platform layer's business.
    static void install(bool terminal = false);
    // The installed writer, or nullptr before install().
    static ConsoleWriter* installed();

    bool write(std::string_view text);
    bool writeLine(std::string_view text);

    // Standard output is a terminal: progress may be rewritten in place.
    bool isTerminal() const { return terminal_; }
    // Colours are written: a terminal without NO_COLOR, or CLICOLOR_FORCE set.
    bool colorsEnabled() const { return colors_; }
    // Overrides the choice made from the environment (tests compare both forms).
    void setColorsEnabled(bool on) { colors_ = on; }

    // Current attribute; changed only through ConsoleColorScope.
    uint16_t attribute() const { return attribute_; }
    void setAttribute(uint16_t attribute);

  private:
    explicit ConsoleWriter(bool terminal);
    bool terminal_ = false;
    bool colors_ = false;
    uint16_t attribute_ = AttributeDefault;
};

// Sets a colour for its lifetime and restores the previous one afterwards.
class ConsoleColorScope {
  public:
    explicit ConsoleColorScope(uint16_t attribute);
    ~ConsoleColorScope();
    ConsoleColorScope(const ConsoleColorScope&) = delete;
    ConsoleColorScope& operator=(const ConsoleColorScope&) = delete;

  private:
    uint16_t previous_ = AttributeDefault;
};

} // namespace quendle
