#pragma once
#include <compare>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace quendle {

// A path inside the package: backslash separators, no leading or trailing backslash. It is put
// into that form once, where it is made (from what the user typed, from the archive's entry
// names, from a script's name); everything after that takes it as it is.
class PackagePath {
  public:
    static constexpr char Separator = '\\';

    PackagePath() = default;
    // The program's own spellings ("AppxSignature.p7x"), taken as written.
    PackagePath(const char* text) : text_(text) {}

    // A file's path as typed for Add-File, Update-File and Del-File: backslashes only (152),
    // first component exactly "Root" (153), no trailing backslash (198).
    static PackagePath ofFile(std::string_view typed);
    // A folder's path as typed for Add-Folder and Del-Folder: as a file's, but it may end in
    // backslashes.
    static PackagePath ofFolder(std::string_view typed);
    // "Scripts\<name>": where a package keeps its scripts.
    static PackagePath ofScript(std::string_view name);
    // A path of components that hold no separator (the reader's split of an entry name, a
    // workspace file below the content folder).
    static PackagePath ofComponents(const std::vector<std::string>& components);
    // A name as a part of the package spells it (the block map's), taken as written.
    static PackagePath asWritten(std::string text);

    const std::string& text() const { return text_; }
    bool empty() const { return text_.empty(); }
    // The components, first to last.
    std::vector<std::string> components() const;
    // Everything before the last backslash; empty for a path of one component.
    PackagePath parent() const;
    // This path and one more component (its backslashes at either end dropped); an empty
    // component leaves the path as it is.
    PackagePath join(std::string_view component) const;
    // The key under which the file table finds the path: the system's case mapping.
    std::string key() const;
    // The entry name the archive stores it under: percent-encoded, still backslashes.
    std::string entryName() const;

    friend bool operator==(const PackagePath&, const PackagePath&) = default;
    friend auto operator<=>(const PackagePath&, const PackagePath&) = default;
    friend std::ostream& operator<<(std::ostream& out, const PackagePath& path) { return out << path.text_; }

  private:
    explicit PackagePath(std::string text) : text_(std::move(text)) {}

    std::string text_;
};

// The components of a path, first to last. A doubled backslash ends the walk, so only the
// components after it are returned; a leading one stays on the first component.
std::vector<std::string> splitPackagePath(std::string_view path);

// The checks of PackagePath::ofFile on text (152, 153, 198).
void validatePackagePath(std::string_view path);

} // namespace quendle
