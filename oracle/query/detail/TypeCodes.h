// Field and variable type codes: the client library's external data type numbers.
#pragma once
#include <cstdint>

namespace velnor::oracle {

inline constexpr std::int16_t otSubstitution = 1;  // variables only: text pasted into the SQL
inline constexpr std::int16_t otInteger = 3;
inline constexpr std::int16_t otFloat = 4;
inline constexpr std::int16_t otString = 5;
// An exact NUMBER as a VARNUM: a length byte and Oracle's NUMBER bytes, 22 bytes in all.
inline constexpr std::int16_t otNumber = 6;
inline constexpr std::int16_t otLong = 8;
inline constexpr std::int16_t otBigString = 10;  // variables only: bound as 5, no size limit
inline constexpr std::int16_t otDate = 12;
inline constexpr std::int16_t otLongRaw = 24;
inline constexpr std::int16_t otFixedChar = 97;  // variables only
inline constexpr std::int16_t otObject = 108;
inline constexpr std::int16_t otReference = 110;
inline constexpr std::int16_t otCLOB = 112;
inline constexpr std::int16_t otBLOB = 113;
inline constexpr std::int16_t otBFile = 114;
inline constexpr std::int16_t otCursor = 116;

}  // namespace velnor::oracle
