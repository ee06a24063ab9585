#include <cstring>
#include <string>

#include "ocisqlite/sql/Convert.h"
#include "ocisqlite/sql/Internals.h"

namespace velnor::ocisqlite::sql {

namespace {

constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr int kSlotBits = 7;  // 128 rows to a block
constexpr int kBlockBits = 32;

// Most significant digit first.
void PutDigits(std::string& out, std::uint64_t value, int digits) {
    for (int i = digits - 1; i >= 0; --i) out += kDigits[(value >> (6 * i)) & 63];
}

}  // namespace

std::uint32_t TableObjectNumber(std::string_view table) {
    // FNV-1a: the same table keeps its number across sessions and processes; real data object
    // numbers of user tables are five digits or more, never 0.
    std::uint32_t h = 2166136261u;
    for (char c : table) h = (h ^ static_cast<unsigned char>(c)) * 16777619u;
    return 70000 + h % 4000000;
}

RowAddress AddressOfRow(std::uint32_t object, std::int64_t rowid) {
    constexpr std::int64_t kFiles = 65534;
    if (rowid < 0 || (rowid >> (kSlotBits + kBlockBits)) >= kFiles) Fail(1410, "invalid ROWID");
    const auto r = static_cast<std::uint64_t>(rowid);
    RowAddress a;
    a.object = object;
    a.slot = static_cast<std::uint16_t>(r & ((1u << kSlotBits) - 1));
    a.block = static_cast<std::uint32_t>(r >> kSlotBits);
    a.file = static_cast<std::uint16_t>(1 + (r >> (kSlotBits + kBlockBits)));
    return a;
}

std::string ExtendedRowIdText(const RowAddress& a) {
    std::string out;
    PutDigits(out, a.object, 6);
    PutDigits(out, a.file, 3);
    PutDigits(out, a.block, 6);
    PutDigits(out, a.slot, 3);
    return out;
}

std::optional<std::int64_t> RowOfRowIdText(std::uint32_t object, std::string_view text) {
    if (text.size() != 18) Fail(1410, "invalid ROWID");
    std::uint64_t parts[4] = {};
    const int widths[4] = {6, 3, 6, 3};
    std::size_t at = 0;
    for (int p = 0; p < 4; ++p) {
        for (int i = 0; i < widths[p]; ++i, ++at) {
            const char* digit = std::strchr(kDigits, text[at]);
            if (!digit || !*digit) Fail(1410, "invalid ROWID");
            parts[p] = parts[p] * 64 + static_cast<std::uint64_t>(digit - kDigits);
        }
    }
    if (parts[0] != object || parts[1] == 0 || parts[2] >> kBlockBits || parts[3] >> kSlotBits)
        return std::nullopt;
    return static_cast<std::int64_t>(((parts[1] - 1) << (kSlotBits + kBlockBits)) |
                                     (parts[2] << kSlotBits) | parts[3]);
}

}  // namespace velnor::ocisqlite::sql
