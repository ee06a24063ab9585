// The LOB value of one column of a query's current row, read through the client library's
// locator. The object follows the query: after Next it refers to the new current row.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

namespace velnor::oracle {

class TQueryImpl;

class TLobLocator {
public:
    // Bytes asked of the client library per read: memory does not grow with the LOB.
    static constexpr std::size_t kChunk = 64 * 1024;

    TLobLocator(TQueryImpl& query, int index) : query_(query), index_(index) {}
    TLobLocator(const TLobLocator&) = delete;
    TLobLocator& operator=(const TLobLocator&) = delete;

    // The current row's value is NULL.
    [[nodiscard]] bool IsNull() const;
    // BLOB/BFILE: bytes; CLOB/NCLOB: text in the client character set.
    [[nodiscard]] bool IsBinary() const;
    // Characters for CLOB/NCLOB, bytes for BLOB; 0 for NULL.
    [[nodiscard]] std::uint64_t Length();
    // Streams the whole value in pieces of at most kChunk bytes; text pieces never split a
    // character. Nothing reaches `sink` for NULL or an empty LOB.
    void Read(const std::function<void(std::string_view piece)>& sink);

private:
    [[nodiscard]] void* Handle() const;

    TQueryImpl& query_;
    int index_;
};

}  // namespace velnor::oracle
