#pragma once
// clang 14 lacks __builtin_source_location, so libstdc++ 12's <source_location> declares
// nothing under it. The fuzz build force-includes this stand-in built on the older builtins;
// it only feeds the throw-site records of exceptions.
#include <source_location>

#if !defined(__cpp_lib_source_location)
#include <cstdint>

namespace std {

struct source_location {
    static constexpr source_location current(const char* file = __builtin_FILE(),
                                             const char* function = __builtin_FUNCTION(),
                                             uint_least32_t line = __builtin_LINE(),
                                             uint_least32_t column = __builtin_COLUMN()) noexcept {
        source_location here;
        here.file_ = file;
        here.function_ = function;
        here.line_ = line;
        here.column_ = column;
        return here;
    }
    constexpr source_location() noexcept = default;
    constexpr uint_least32_t line() const noexcept { return line_; }
    constexpr uint_least32_t column() const noexcept { return column_; }
    constexpr const char* file_name() const noexcept { return file_; }
    constexpr const char* function_name() const noexcept { return function_; }

  private:
    const char* file_ = "";
    const char* function_ = "";
    uint_least32_t line_ = 0;
    uint_least32_t column_ = 0;
};

} // namespace std
#endif
