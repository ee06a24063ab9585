#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>

#include "oracle/query/FieldData.h"
#include "oracle/query/OracleQuery.h"
#include "platform/Exception.h"

namespace velnor::oracle {
namespace {

using ::testing::HasSubstr;
using ::testing::ThrowsMessage;

// The session's NUMBER rule with default preferences, stood in by a fixed table.
TNumberFieldChoice DefaultNumberRule(int p, int s, bool f) {
    TSessionPreferences preferences;
    return preferences.ChooseNumberFieldType(p, s, f);
}

struct MapCase {
    const char* label;
    int internalType;
    int dataSize;
    int precision;
    int scale;
    bool oci8;
    bool stringsOnly;
    std::int16_t typeCode;
    std::size_t bufferSize;
    bool isLong;
};

class MapColumnTypeTest : public ::testing::TestWithParam<MapCase> {};

TEST_P(MapColumnTypeTest, GivesTypeCodeAndBufferSize) {
    const MapCase& c = GetParam();
    TColumnDescription column;
    column.internalType = c.internalType;
    column.dataSize = c.dataSize;
    column.precision = c.precision;
    column.scale = c.scale;
    TMappingContext context;
    context.longPrefix = c.oci8 ? 0 : kOci7LongPrefix;
    context.stringFieldsOnly = c.stringsOnly;
    context.numberRule = DefaultNumberRule;
    context.dateFormatLength = [] { return 20; };
    context.bytesPerCharacter = [] { return 3; };
    const TColumnMapping m = MapColumnType(column, context);
    EXPECT_EQ(m.typeCode, c.typeCode) << c.label;
    EXPECT_EQ(m.bufferSize, c.bufferSize) << c.label;
    EXPECT_EQ(m.isLong, c.isLong) << c.label;
}

INSTANTIATE_TEST_SUITE_P(
    Columns, MapColumnTypeTest,
    ::testing::Values(
        MapCase{"NUMBER(9)", itNumber, 22, 9, 0, true, false, otInteger, 4, false},
        MapCase{"NUMBER(10)", itNumber, 22, 10, 0, true, false, otFloat, 8, false},
        MapCase{"NUMBER(9,2)", itNumber, 22, 9, 2, true, false, otFloat, 8, false},
        MapCase{"NUMBER(9) as text", itNumber, 22, 9, 0, true, true, otString, 11, false},
        MapCase{"VARCHAR2(10)", itVarchar2, 10, 0, 0, true, false, otString, 11, false},
        MapCase{"CHAR(3)", itChar, 3, 0, 0, false, false, otString, 4, false},
        MapCase{"VARCHAR2 of size 0", itVarchar2, 0, 0, 0, true, false, otString, 1, false},
        MapCase{"RAW(16)", itRaw, 16, 0, 0, true, false, otString, 33, false},
        MapCase{"ROWID of 10", itRowId, 10, 0, 0, false, false, otString, 19, false},
        MapCase{"ROWID descriptor of 30", itRowIdDescriptor, 30, 0, 0, true, false, otString, 31,
                false},
        MapCase{"DATE", itDate, 7, 0, 0, true, false, otDate, 7, false},
        MapCase{"DATE as text", itDate, 7, 0, 0, true, true, otString, 21, false},
        MapCase{"LONG OCI8", itLong, 0, 0, 0, true, false, otLong, 0, true},
        MapCase{"LONG OCI7", itLong, 0, 0, 0, false, false, otLong, 2000, true},
        MapCase{"LONG RAW OCI8", itLongRaw, 0, 0, 0, true, false, otLongRaw, 0, true},
        MapCase{"LONG RAW OCI7", itLongRaw, 0, 0, 0, false, false, otLongRaw, 2000, true},
        MapCase{"MLSLABEL", itMlsLabel, 0, 0, 0, true, false, otString, 255, false},
        MapCase{"TIMESTAMP", itTimestamp, 11, 0, 6, true, false, otString, 150, false},
        MapCase{"TIMESTAMP WITH LOCAL TIME ZONE", itTimestampLtz, 11, 0, 6, true, false, otString,
                150, false},
        MapCase{"BINARY_DOUBLE", itBinaryDouble, 8, 0, 0, true, false, otFloat, 8, false},
        MapCase{"BINARY_FLOAT", itBinaryFloat, 4, 0, 0, false, false, otFloat, 8, false},
        MapCase{"BINARY_DOUBLE as text", itBinaryDouble, 8, 0, 0, true, true, otString, 41, false},
        MapCase{"INTERVAL DAY TO SECOND", itIntervalDs, 11, 2, 6, true, false, otString, 41, false},
        MapCase{"INTERVAL YEAR TO MONTH", itIntervalYm, 5, 2, 0, true, false, otString, 41, false},
        MapCase{"CLOB", itClob, 4000, 0, 0, true, false, otCLOB, sizeof(void*), false},
        MapCase{"BFILE", itBFile, 4000, 0, 0, true, false, otBFile, sizeof(void*), false},
        MapCase{"cursor", itCursor, 0, 0, 0, true, false, otCursor, sizeof(void*), false}));

TEST(MapColumnTypeTest, ExactNumbersOnlyWhereADoubleLosesDigits) {
    struct Case {
        int precision, scale;
        bool stringsOnly;
        std::int16_t typeCode;
    };
    for (const Case& c :
         {Case{19, 0, false, otNumber}, Case{0, -127, false, otNumber},
          Case{126, -127, false, otNumber}, Case{20, 10, false, otNumber},
          Case{15, 2, false, otFloat}, Case{9, 0, false, otInteger}, Case{19, 0, true, otString}}) {
        TColumnDescription column;
        column.internalType = itNumber;
        column.precision = c.precision;
        column.scale = c.scale;
        TMappingContext context;
        context.exactNumbers = true;
        context.stringFieldsOnly = c.stringsOnly;
        context.numberRule = DefaultNumberRule;
        EXPECT_EQ(MapColumnType(column, context).typeCode, c.typeCode)
            << c.precision << "," << c.scale;
    }
}

struct FeatureCase {
    int internalType;
    const char* feature;
};

class ColumnFeatureTest : public ::testing::TestWithParam<FeatureCase> {};

TEST_P(ColumnFeatureTest, ComplexColumnsAskForTheirFeature) {
    std::string asked;
    TMappingContext context;
    context.checkFeature = [&](const char* feature) { asked = feature; };
    TColumnDescription column;
    column.internalType = GetParam().internalType;
    (void)MapColumnType(column, context);
    EXPECT_EQ(asked, GetParam().feature);
}

INSTANTIATE_TEST_SUITE_P(Features, ColumnFeatureTest,
                         ::testing::Values(FeatureCase{itObject, "A query with objects"},
                                           FeatureCase{itRef, "A query with references"},
                                           FeatureCase{itClob, "A query with LOB's"},
                                           FeatureCase{itBlob, "A query with LOB's"},
                                           FeatureCase{itBFile, "A query with LOB's"},
                                           FeatureCase{itCursor, "A query with sub-queries"}));

TEST(MapColumnTypeTest, RefusedFeatureStopsTheMapping) {
    TMappingContext context;
    context.checkFeature = [](const char* feature) {
        throw platform::Exception(std::string(feature) + " requires a connected session");
    };
    TColumnDescription column;
    column.internalType = itClob;
    EXPECT_THAT(
        [&] { (void)MapColumnType(column, context); },
        ThrowsMessage<platform::Exception>("A query with LOB's requires a connected session"));
}

TEST(MapColumnTypeTest, DateLengthIsAskedOnlyForDatesAsText) {
    int asked = 0;
    TMappingContext context;
    context.dateFormatLength = [&] { return ++asked, 9; };
    TColumnDescription column;
    column.internalType = itDate;
    (void)MapColumnType(column, context);
    EXPECT_EQ(asked, 0);
    context.stringFieldsOnly = true;
    EXPECT_EQ(MapColumnType(column, context).bufferSize, 10u);
    EXPECT_EQ(asked, 1);
}

TEST(LongPieceTest, CapacitiesDoubleUpTo32000) {
    std::vector<std::size_t> seen;
    std::size_t capacity = 0;
    for (int i = 0; i < 7; ++i) seen.push_back(capacity = NextLongPieceCapacity(capacity));
    EXPECT_EQ(seen, (std::vector<std::size_t>{2000, 4000, 8000, 16000, 32000, 32000, 32000}));
}

// Fills pieces the way the client library does: each full except the last.
void FillPieces(TFieldData& field, const std::string& value) {
    std::size_t done = 0;
    while (done < value.size() || field.longPieces.empty()) {
        TLongPiece& piece = field.AddLongPiece();
        const std::size_t n = std::min(piece.Capacity(), value.size() - done);
        std::memcpy(piece.data.data(), value.data() + done, n);
        piece.length = static_cast<ub4>(n);
        done += n;
    }
}

TEST(LongPieceTest, CopiesAcrossPieceBoundaries) {
    TFieldData field;
    field.typeCode = otLong;
    std::string value(9000, '\0');
    for (std::size_t i = 0; i < value.size(); ++i) value[i] = static_cast<char>('a' + i % 26);
    FillPieces(field, value);
    ASSERT_EQ(field.longPieces.size(), 3u);  // 2000 + 4000 + 3000 of 8000
    EXPECT_EQ(field.LongPieceLength(), value.size());

    struct Read {
        std::size_t offset, length, expected;
    };
    for (const Read r :
         {Read{0, 9000, 9000}, Read{1990, 20, 20}, Read{5999, 2, 2}, Read{8990, 100, 10},
          Read{9000, 5, 0}, Read{20000, 5, 0}, Read{100, 0, 0}}) {
        std::string out(r.length, '#');
        const std::size_t n =
            field.CopyFromPieces(reinterpret_cast<std::byte*>(out.data()), r.offset, r.length);
        EXPECT_EQ(n, r.expected) << r.offset;
        EXPECT_EQ(out.substr(0, n), value.substr(std::min(r.offset, value.size()), n)) << r.offset;
    }
}

TEST(FieldDataTest, RowTextStopsAtTheSlotWhenNoTerminatorIsThere) {
    TFieldData field;
    field.bufferSize = 4;
    field.Allocate(2);
    std::memcpy(field.buffer.data(), "abcdxy\0\0", 8);  // row 0 holds no NUL
    EXPECT_EQ(field.RowText(0), "abcd");
    EXPECT_EQ(field.RowText(1), "xy");
}

TEST(FieldDataTest, TruncationIsSeenInIndicatorOrReturnCode) {
    TFieldData field;
    field.bufferSize = 4;
    field.Allocate(4);
    field.indicators = {0, -2, 12, 0};
    field.returnCodes = {0, 0, 0, 1406};
    EXPECT_FALSE(field.Truncated(0));
    EXPECT_TRUE(field.Truncated(1));
    EXPECT_TRUE(field.Truncated(2));
    EXPECT_TRUE(field.Truncated(3));
    field.typeCode = otLong;  // the first part of an OCI7 LONG is cut on purpose
    EXPECT_FALSE(field.Truncated(2));
}

TEST(FieldDataTest, OversizedBuffersAreRefusedInsteadOfWrapping) {
    TFieldData field;
    field.bufferSize = std::numeric_limits<std::size_t>::max() / 2;
    EXPECT_THROW(field.Allocate(3), platform::Exception);
    EXPECT_THROW((void)CheckedProduct(std::numeric_limits<std::size_t>::max(), 2),
                 platform::Exception);
    EXPECT_EQ(CheckedProduct(0, std::numeric_limits<std::size_t>::max()), 0u);
}

TEST(RowIdTest, ExtendedAndRestrictedForms) {
    EXPECT_EQ(FormatRowId(1, 1, 1, 0), "AAAAABAABAAAAABAAA");
    EXPECT_EQ(FormatRowId(64, 4, 65, 63), "AAAABAAAEAAAABBAA/");
    EXPECT_EQ(FormatRowId(0, 3, 0x1a, 2), "0000001a.0002.0003");
}

}  // namespace
}  // namespace velnor::oracle
