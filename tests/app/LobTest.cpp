// CLOB, NCLOB and BLOB columns: the locator of the access layer and the CSV files, on the
// stand-in client library in the client character sets a user may have.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "app/core/CsvReader.h"
#include "app/core/CustomOracleQuery.h"
#include "app/core/UserTable.h"
#include "oracle/client/OciLibrary.h"
#include "oracle/client/OracleError.h"
#include "platform/System.h"
#include "tests/app/StandInSchema.h"
#include "tests/app/TempDir.h"

namespace velnor::app {
namespace {

using ::testing::HasSubstr;
using ::testing::ThrowsMessage;

// Several megabytes of Japanese text with line breaks and quotes, as the database holds it.
std::string JapaneseDocument() {
    std::string text;
    for (int i = 0; text.size() < 3 * 1024 * 1024; ++i)
        text += "第" + std::to_string(i) + "段落：日本語の\"文書\"です。\n";
    return text;
}

std::string EveryByte() {
    std::string bytes;
    for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
    return bytes;
}

// Sessions begin in the client character set named by the parameter; the table is filled
// through an AL32UTF8 session so that its content does not depend on the parameter.
class LobTest : public test::StandInSchemaTest, public ::testing::WithParamInterface<const char*> {
protected:
    void SetUp() override {
        saved_ = platform::GetEnvironment("NLS_LANG");
        UseCharset("AMERICAN_AMERICA.AL32UTF8");
        test::StandInSchemaTest::SetUp();
        Sql("CREATE TABLE DOCS (ID NUMBER, C CLOB, N NCLOB, B BLOB)");
        Sql("INSERT INTO DOCS VALUES (1, NULL, NULL, NULL)");
        Sql("INSERT INTO DOCS VALUES (2, EMPTY_CLOB(), EMPTY_CLOB(), EMPTY_BLOB())");
        Sql("INSERT INTO DOCS VALUES (3, 'a\"b' || CHR(13) || CHR(10) || 'c', N'日本', "
            "HEXTORAW('00FF'))");
        TCustomOracleQuery q(*session_);
        q.SetText("INSERT INTO DOCS VALUES (4, :C, :N, :B)");
        q.Variables().AddVariable("C", oracle::otLong);
        q.Variables().AddVariable("N", oracle::otBigString);
        q.Variables().AddVariable("B", oracle::otBigString);
        q.Variables().SetVariableValue("C", platform::TVariant(JapaneseDocument()));
        q.Variables().SetVariableValue("N", platform::TVariant(std::string("ノート")));
        q.Variables().SetVariableValue("B", platform::TVariant(Hex(EveryByte())));
        q.Execute();
        session_->Commit();
        Reconnect(GetParam());
    }
    void TearDown() override {
        session_.reset();
        if (saved_)
            platform::SetEnvironment("NLS_LANG", *saved_);
        else
            platform::UnsetEnvironment("NLS_LANG");
        oracle::UnloadOCI();
    }

    static std::string Hex(const std::string& bytes) {
        static constexpr char kDigits[] = "0123456789ABCDEF";
        std::string out;
        for (char c : bytes) {
            out += kDigits[static_cast<unsigned char>(c) >> 4];
            out += kDigits[static_cast<unsigned char>(c) & 15];
        }
        return out;
    }
    static void UseCharset(const char* nlsLang) {
        platform::SetEnvironment("NLS_LANG", nlsLang);
        oracle::UnloadOCI();  // the client reads NLS_LANG when it is loaded
    }
    void Reconnect(const char* nlsLang) {
        session_.reset();
        UseCharset(nlsLang);
        session_ = Logon();
    }

    // Each row's values, read through the locators in an AL32UTF8 session: "<null>" for NULL.
    std::vector<std::vector<std::string>> StoredValues() {
        Reconnect("AMERICAN_AMERICA.AL32UTF8");
        TCustomOracleQuery q(*session_);
        q.SetText("SELECT C, N, B FROM DOCS ORDER BY ID");
        q.Execute();
        std::vector<std::vector<std::string>> rows;
        for (; !q.Eof(); q.Next()) {
            std::vector<std::string> row;
            for (int i = 0; i < 3; ++i) {
                oracle::TLobLocator& lob = q.GetFieldLOB(i);
                std::string value = lob.IsNull() ? "<null>" : "";
                lob.Read([&](std::string_view piece) {
                    EXPECT_LE(piece.size(), oracle::TLobLocator::kChunk);
                    value.append(piece);
                });
                row.push_back(value);
            }
            rows.push_back(row);
        }
        return rows;
    }

    std::optional<std::string> saved_;
};

INSTANTIATE_TEST_SUITE_P(ClientCharsets, LobTest,
                         ::testing::Values("AMERICAN_AMERICA.AL32UTF8",
                                           "JAPANESE_JAPAN.JA16SJISTILDE"),
                         [](const auto& param) {
                             return std::string(param.index == 0 ? "AL32UTF8" : "JA16SJISTILDE");
                         });

TEST_P(LobTest, LocatorFollowsTheCurrentRowAndCountsCharacters) {
    TCustomOracleQuery q(*session_);
    q.SetText("SELECT ID, C, B FROM DOCS WHERE ID IN (1, 2, 3) ORDER BY ID");
    q.Execute();
    EXPECT_THAT([&] { (void)q.GetFieldLOB(0); },
                ThrowsMessage<platform::Exception>(HasSubstr("Field ID is not a LOB")));
    oracle::TLobLocator& text = q.GetFieldLOB(1);
    oracle::TLobLocator& bytes = q.GetFieldLOB(2);
    EXPECT_FALSE(text.IsBinary());
    EXPECT_TRUE(bytes.IsBinary());
    struct Expected {
        bool null;
        std::uint64_t textLength;
        std::uint64_t byteLength;
    };
    for (const Expected e : {Expected{true, 0, 0}, Expected{false, 0, 0}, Expected{false, 6, 2}}) {
        ASSERT_FALSE(q.Eof());
        EXPECT_EQ(text.IsNull(), e.null);
        EXPECT_EQ(text.Length(), e.textLength);
        EXPECT_EQ(bytes.Length(), e.byteLength);
        // Whole content through GetFieldValue; NULL and an empty LOB give the null value.
        EXPECT_EQ(q.Field(2).IsNull() || q.Field(2).IsEmpty(), e.byteLength == 0);
        q.Next();
    }
}

TEST_P(LobTest, MultiMegabyteTextArrivesWholeInTheClientCharacterSet) {
    TCustomOracleQuery q(*session_);
    q.SetText("SELECT C FROM DOCS WHERE ID = 4");
    q.Execute();
    oracle::TLobLocator& lob = q.GetFieldLOB(0);
    const std::string document = JapaneseDocument();
    std::size_t pieces = 0;
    std::string got;
    lob.Read([&](std::string_view piece) {
        ++pieces;
        got.append(piece);
    });
    EXPECT_GT(pieces, 1u);
    if (oracle::ClientCharacterSet() == "AL32UTF8") {
        EXPECT_EQ(got, document);
    } else {
        EXPECT_GT(got.size(), document.size() / 2);  // two bytes a character instead of three
        EXPECT_LT(got.size(), document.size());
    }
}

TEST_P(LobTest, CsvRoundTripKeepsEveryValue) {
    const std::vector<std::vector<std::string>> before = StoredValues();
    Reconnect(GetParam());
    const std::string path = dir_.File("docs.csv");
    TUserTable(*session_).ExportCsv(path, "DOCS");
    const std::string file = test::ReadBytes(path);
    EXPECT_THAT(file, HasSubstr("\r\n1,,,\r\n"));              // NULL: an empty field
    EXPECT_THAT(file, HasSubstr("\r\n2,\"\",\"\",\"\"\r\n"));  // empty LOB: ""
    EXPECT_THAT(file, HasSubstr("\r\n3,\"a\"\"b\r\nc\","));
    EXPECT_THAT(file, HasSubstr(",\"" + Hex(EveryByte()) + "\"\r\n"));

    TUserTable(*session_).DeleteAll("DOCS");
    TUserTable(*session_).ImportCsv(path, "DOCS");
    session_->Commit();
    std::vector<std::vector<std::string>> after = StoredValues();
    std::vector<std::vector<std::string>> expected = before;
    // As for VARCHAR2 text, a line break reads back as LF (ConvertCRLF).
    expected.at(2).at(0) = "a\"b\nc";
    ASSERT_EQ(after.size(), expected.size());
    for (std::size_t r = 0; r < after.size(); ++r) {
        for (std::size_t c = 0; c < 3; ++c) {
            const std::string& got = after[r].at(c);
            const std::string& want = expected[r].at(c);
            EXPECT_TRUE(got == want)
                << "row " << r + 1 << " column " << c + 1 << ": " << got.size()
                << " bytes, expected " << want.size() << ", starting " << got.substr(0, 40);
        }
    }
}

// A lone NULL field is written "", so a one-column table cannot tell an empty LOB from NULL:
// its NULL rows survive, and an empty LOB stops the export instead of coming back NULL.
TEST_P(LobTest, OneColumnTableKeepsNullRowsAndRefusesAnEmptyLob) {
    Sql("CREATE TABLE ONE (C CLOB)");
    Sql("INSERT INTO ONE VALUES (NULL)");
    Sql("INSERT INTO ONE VALUES ('x')");
    Sql("INSERT INTO ONE VALUES (NULL)");
    const std::string path = dir_.File("one.csv");
    TUserTable(*session_).ExportCsv(path, "ONE");
    EXPECT_EQ(test::ReadBytes(path), "\"C\"\r\n\"\"\r\n\"x\"\r\n\"\"\r\n");
    TUserTable(*session_).DeleteAll("ONE");
    TUserTable(*session_).ImportCsv(path, "ONE");
    EXPECT_EQ(Rows("SELECT COUNT(*), COUNT(C) FROM ONE"), std::vector<std::string>{"3|1"});

    Sql("INSERT INTO ONE VALUES (EMPTY_CLOB())");
    EXPECT_THAT([&] { TUserTable(*session_).ExportCsv(path, "ONE"); },
                ThrowsMessage<platform::Exception>(HasSubstr("4 件目の行、列 C")));
    EXPECT_EQ(test::ReadBytes(path), "\"C\"\r\n\"\"\r\n\"x\"\r\n\"\"\r\n");
}

TEST_P(LobTest, BadHexadecimalFieldNamesLineColumnAndValue) {
    const std::string path = dir_.File("bad.csv");
    test::WriteBytes(path, "\"ID\",\"C\",\"N\",\"B\"\r\n5,\"x\",\"y\",\"0G\"\r\n");
    EXPECT_THAT([&] { TUserTable(*session_).ImportCsv(path, "DOCS"); },
                ThrowsMessage<ECsvError>(HasSubstr("2 行目 4 列目 (B)")));
    test::WriteBytes(path, "\"ID\",\"C\",\"N\",\"B\"\r\n5,\"x\",\"y\",\"ABC\"\r\n");
    EXPECT_THAT([&] { TUserTable(*session_).ImportCsv(path, "DOCS"); },
                ThrowsMessage<ECsvError>(HasSubstr("ABC")));
}

TEST_P(LobTest, Oci7SessionRefusesALobQuery) {
    const auto oci7 = Logon(true);
    TCustomOracleQuery q(*oci7);
    q.SetText("SELECT C FROM DOCS");
    EXPECT_THAT([&] { q.Execute(); },
                ThrowsMessage<platform::Exception>(
                    HasSubstr("A query with LOB's requires OCI8 mode, but OCI7 mode is used.")));
}

}  // namespace
}  // namespace velnor::app
