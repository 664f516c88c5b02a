#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace quendle {

// A four-part version read loosely from text, incremented with carry, written without trailing
// zero fields (at least two fields), so that the text reads back as the same version.
class VersionNumber {
  public:
    void Parse(std::string_view text);
    void Increment();
    std::string ToString() const;

    int32_t component(int index) const { return components_[static_cast<size_t>(index)]; }
    int count() const { return count_; }

  private:
    std::array<int32_t, 4> components_{};
    int count_ = 0;
};

} // namespace quendle
