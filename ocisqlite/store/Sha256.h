// SHA-256, for the salted password hashes of the users file.
#pragma once
#include <array>
#include <string>
#include <string_view>

namespace velnor::ocisqlite {

[[nodiscard]] std::array<unsigned char, 32> Sha256(std::string_view data);
[[nodiscard]] std::string HexText(std::string_view bytes);
[[nodiscard]] std::string Sha256Hex(std::string_view data);

}  // namespace velnor::ocisqlite
