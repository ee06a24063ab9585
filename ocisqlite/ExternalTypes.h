// Values between the caller's buffers (bind and define external types) and the engine.
#pragma once
#include <cstddef>
#include <string>

#include "oci/OciTypes.h"
#include "ocisqlite/sql/Engine.h"

namespace velnor::ocisqlite {

// Oracle's NUMBER in its internal form (exponent byte and base-100 digits, 1 to 21 bytes).
[[nodiscard]] std::string EncodeNumber(const sql::Value& number);
[[nodiscard]] sql::Value DecodeNumber(const unsigned char* bytes, std::size_t length);

// A bound value of external type `type` in `size` bytes (the length actually given).
// Unsupported types raise ORA-03001, malformed values the matching Oracle error.
[[nodiscard]] sql::Value ReadExternal(ub2 type, const void* data, std::size_t size);
// The same into `out`, reusing its storage (array binds fill one value per row).
void ReadExternal(ub2 type, const void* data, std::size_t size, sql::Value& out);

// What writing a fetched value produced.
struct TWriteResult {
    bool isNull = false;
    std::size_t length = 0;      // bytes written (the return length)
    std::size_t fullLength = 0;  // bytes of the whole value (> length: truncated)
};

// Writes a value as external type `type` into a buffer of `capacity` bytes; a text form
// follows the session's conversions. Raises ORA-00932 / ORA-01455 / ORA-03001.
TWriteResult WriteExternal(const sql::Value& value, ub2 type, void* buffer, std::size_t capacity,
                           const sql::Connection& session);

// The bytes a LONG / text / RAW value has in a string define (no padding, no terminator).
[[nodiscard]] std::string ValueBytes(const sql::Value& value, const sql::Connection& session);

}  // namespace velnor::ocisqlite
