// Byte-text helpers that do not depend on the locale: only ASCII letters change case,
// every other byte (UTF-8 sequences included) is compared and kept as it is.
#pragma once
#include <string>
#include <string_view>

namespace velnor::platform {

[[nodiscard]] std::string UpperCase(std::string_view text);
[[nodiscard]] std::string LowerCase(std::string_view text);
[[nodiscard]] bool SameText(std::string_view a, std::string_view b) noexcept;
[[nodiscard]] bool StartsWithText(std::string_view text, std::string_view prefix) noexcept;

}  // namespace velnor::platform
