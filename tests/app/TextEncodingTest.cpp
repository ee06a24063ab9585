// File encodings: CP932 through iconv both ways, and CSV records read through the decoding
// source whatever the pieces the bytes arrive in.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/core/CsvDecodingSource.h"
#include "app/core/CsvReader.h"
#include "app/core/TextEncoding.h"

namespace velnor::app {
namespace {

using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::Not;

struct CharCase {
    const char* utf8;
    const char* cp932;
};

// Characters Windows writes in CP932 that other Shift-JIS tables lack or map elsewhere.
const CharCase kChars[] = {
    {"髙", "\xFB\xFC"}, {"﨑", "\xFA\xB1"}, {"Ⅲ", "\x87\x56"},  {"㎝", "\x87\x70"},
    {"～", "\x81\x60"}, {"ソ", "\x83\x5C"}, {"表", "\x95\x5C"}, {"ポ", "\x83\x7C"},
    {"ｱ", "\xB1"},      {"\\", "\\"},       {"~", "~"},         {"－", "\x81\x7C"},
};

class TextEncodingTest : public ::testing::Test {
protected:
    static std::string Encode(std::string_view text) {
        TCp932Encoder encoder;
        std::string out;
        encoder.Encode(text, out);
        encoder.Finish();
        return out;
    }

    // The records of `bytes` read in `encoding` through a reader buffer of `bufferSize`.
    static std::vector<std::vector<std::string>> Records(const std::string& bytes,
                                                         TTextEncoding encoding,
                                                         std::size_t bufferSize) {
        TCsvMemorySource memory(bytes);
        TCsvDecodingSource source(memory, encoding);
        TCsvReader reader(source, bufferSize);
        std::vector<std::vector<std::string>> records;
        while (reader.ReadRecord())
            records.emplace_back(reader.Fields().begin(), reader.Fields().end());
        return records;
    }
};

TEST_F(TextEncodingTest, WindowsCharactersMapBothWays) {
    for (const auto& c : kChars) {
        EXPECT_EQ(Encode(c.utf8), c.cp932) << c.utf8;
        const std::string file = std::string(c.cp932) + "," + c.cp932 + "\r\n";
        for (std::size_t size : {1, 2, 64}) {
            EXPECT_THAT(Records(file, TTextEncoding::teCp932, size),
                        ElementsAreArray({std::vector<std::string>{c.utf8, c.utf8}}))
                << c.utf8;
        }
    }
}

TEST_F(TextEncodingTest, CharacterCutBetweenPiecesIsCompletedByTheNext) {
    const std::string text = "a表ソ髙,b";
    const std::string whole = Encode(text);
    for (std::size_t cut = 0; cut <= text.size(); ++cut) {
        TCp932Encoder encoder;
        std::string out;
        encoder.Encode(std::string_view(text).substr(0, cut), out);
        encoder.Encode(std::string_view(text).substr(cut), out);
        encoder.Finish();
        EXPECT_EQ(out, whole) << cut;
    }
}

TEST_F(TextEncodingTest, TextCp932CannotHoldOrWouldChangeIsRefused) {
    struct Case {
        std::string text;
        std::size_t offset;
        char32_t codePoint;
    };
    const Case cases[] = {
        {"ab😀c", 2, 0x1F600},               // outside CP932
        {"表¥", 3, 0xA5},                   // would read back as a backslash
        {"x〜", 1, 0x301C},                 // would read back as ～
        {"a\xF3\xA0\x80\x81", 1, 0xE0001},  // a tag iconv drops
        {"ok\xFF", 2, 0},                   // not UTF-8 at all
        {"\xE8\xA1,", 0, 0},                // a character cut by a comma
    };
    for (const auto& c : cases) {
        TCp932Encoder encoder;
        std::string out;
        try {
            encoder.Encode(c.text, out);
            encoder.Finish();
            ADD_FAILURE() << "no error for " << c.text;
        } catch (const ETextEncodeError& e) {
            EXPECT_EQ(e.Offset(), c.offset) << c.text;
            EXPECT_EQ(e.CodePoint(), c.codePoint) << c.text;
            EXPECT_THAT(e.Message(), Not(HasSubstr("?"))) << c.text;
        }
    }
    TCp932Encoder cut;
    std::string out;
    cut.Encode("a\xE8\xA1", out);
    EXPECT_THROW(cut.Finish(), ETextEncodeError);
}

struct ReadCase {
    const char* name;
    TTextEncoding encoding;
    std::string bytes;
    std::vector<std::vector<std::string>> records;  // when no error
    std::string error;                              // part of the message, "" for none
};

class DecodingReadTest : public TextEncodingTest, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(DecodingReadTest, ReadsOrNamesLineColumnAndEncoding) {
    const ReadCase& c = GetParam();
    for (std::size_t size : {1, 2, 3, 5, 64 * 1024}) {
        if (c.error.empty()) {
            EXPECT_EQ(Records(c.bytes, c.encoding, size), c.records) << size;
        } else {
            try {
                Records(c.bytes, c.encoding, size);
                ADD_FAILURE() << "no error, buffer " << size;
            } catch (const ECsvError& e) {
                EXPECT_THAT(e.Message(), HasSubstr(c.error)) << size;
                // Only a Shift-JIS file gets the hint to choose CP932.
                EXPECT_EQ(e.Message().find("選んでください") != std::string::npos,
                          c.error.find("Shift-JIS で") != std::string::npos)
                    << size;
            }
        }
    }
}

using Rows = std::vector<std::vector<std::string>>;
const std::string kBom = "\xEF\xBB\xBF";

INSTANTIATE_TEST_SUITE_P(
    Files, DecodingReadTest,
    ::testing::Values(
        // 0x5C and 0x7C trail bytes next to commas and quotes stay inside their fields.
        ReadCase{"TrailBytesNeverSplitFields", TTextEncoding::teCp932,
                 "\"\x95\x5C\",\x83\x5C,\x83\x7C\r\n\"\x83\x5C\"\"\",x\r\n",
                 Rows{{"表", "ソ", "ポ"}, {"ソ\"", "x"}}, ""},
        ReadCase{"BomIsSkippedInUtf8", TTextEncoding::teUtf8, kBom + "\"名前\",b\r\n1,2\r\n",
                 Rows{{"名前", "b"}, {"1", "2"}}, ""},
        ReadCase{"BomMakesACp932ChoiceUtf8", TTextEncoding::teCp932, kBom + "表,ソ\r\n",
                 Rows{{"表", "ソ"}}, ""},
        ReadCase{"BomMakesABomChoiceUtf8", TTextEncoding::teUtf8Bom, kBom + "表\r\n", Rows{{"表"}},
                 ""},
        ReadCase{"BomAloneIsAnEmptyFile", TTextEncoding::teCp932, kBom, Rows{}, ""},
        ReadCase{"ShiftJisReadAsUtf8GetsTheHint", TTextEncoding::teUtf8,
                 "a,b\r\n1,\"x\r\ny\",\x95\x5C\r\n", Rows{},
                 "3 行目 3 列目: UTF-8 として読めないバイトがあります (0x95)。Shift-JIS で"},
        ReadCase{"OtherBadUtf8GetsNoHint", TTextEncoding::teUtf8, "a\r\n\xFF\xFF\r\n", Rows{},
                 "2 行目 1 列目: UTF-8 として読めないバイトがあります (0xFF 0xFF)"},
        ReadCase{"Utf8CutAtTheEnd", TTextEncoding::teUtf8, "a,\xE8\xA1", Rows{},
                 "1 行目 2 列目: UTF-8 の文字がファイルの終わりで切れています (0xE8 0xA1)"},
        ReadCase{"BadCp932NamesTheEncoding", TTextEncoding::teCp932, "a,b\r\nc,\x81\x20\r\n",
                 Rows{}, "2 行目 2 列目: Shift-JIS (CP932) として読めないバイトがあります (0x81"},
        ReadCase{"Cp932CutAtTheEnd", TTextEncoding::teCp932, "a,\x95", Rows{},
                 "1 行目 2 列目: Shift-JIS (CP932)"}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace velnor::app
