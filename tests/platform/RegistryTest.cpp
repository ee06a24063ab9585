#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/Registry.h"

namespace velnor::platform {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::SizeIs;
using ::testing::ThrowsMessage;

constexpr const char* kCU = "HKEY_CURRENT_USER";
const std::string kHead = "Windows Registry Editor Version 5.00\r\n\r\n";

TRegistryTree ParseCU(const std::string& body) { return TRegistryTree::Parse(kHead + body, kCU); }

TEST(RegistryTreeTest, ReadsAnExportOfTheWindowsEditor) {
    const auto tree = ParseCU(
        "[HKEY_CURRENT_USER\\Software\\Tressigan\\Velnor\\Logon0]\r\n"
        "\"UserName\"=\"SCOTT\"\r\n"
        "\"Password\"=\"TI\\\"GER\\\\\"\r\n"
        "\"Service\"=\"DEMO\"\r\n"
        "@=\"default\"\r\n"
        "\"Count\"=dword:0000002a\r\n"
        "\"Blob\"=hex:01,ff,\\\r\n"
        "  10\r\n\r\n");
    const std::string key = "\\Software\\Tressigan\\Velnor\\Logon0";
    EXPECT_EQ(tree.ReadString(key, "UserName"), "SCOTT");
    EXPECT_EQ(tree.ReadString(key, "Password"), "TI\"GER\\");
    EXPECT_EQ(tree.ReadString(key, ""), "default");
    EXPECT_EQ(tree.Value(key, "Count"), TRegistryValue::FromDword(42));
    EXPECT_EQ(tree.Value(key, "Blob"), TRegistryValue::FromBytes({0x01, 0xff, 0x10}));
    EXPECT_THAT(tree.Problems(), IsEmpty());
}

TEST(RegistryTreeTest, KeysAndValueNamesCompareWithoutCase) {
    auto tree = ParseCU("[HKEY_CURRENT_USER\\Software\\ORACLE]\n\"Oracle_Home\"=\"/opt/oracle\"\n");
    EXPECT_EQ(tree.ReadString("software\\oracle", "ORACLE_HOME"), "/opt/oracle");
    EXPECT_EQ(tree.ReadString("\\SOFTWARE\\\\Oracle\\", "oracle_home"), "/opt/oracle");
    tree.WriteString("SOFTWARE\\oracle", "ORACLE_HOME", "/u01");
    EXPECT_THAT(tree.ValueNames("Software\\Oracle"), ElementsAre("Oracle_Home"));  // one value
    EXPECT_EQ(tree.ReadString("Software\\Oracle", "Oracle_Home"), "/u01");
}

TEST(RegistryTreeTest, MissingKeyOrValueReadsEmpty) {
    const auto tree = ParseCU("[HKEY_CURRENT_USER\\A]\n\"x\"=\"1\"\n");
    EXPECT_EQ(tree.ReadString("A", "y"), "");
    EXPECT_EQ(tree.ReadString("B", "x"), "");
    EXPECT_FALSE(tree.Value("A\\B", "x"));
    EXPECT_FALSE(tree.KeyExists("A\\B"));
}

TEST(RegistryTreeTest, RoundTripKeepsEveryKindOfValue) {
    TRegistryTree tree(kCU);
    const std::string awkward = "a\\b\"c\r\nd;[e]=@ 日本語";
    tree.WriteString("Software\\Velnor", "Text", awkward);
    tree.WriteString("Software\\Velnor", "Empty", "");
    tree.WriteString("Software\\Velnor", "", "default");
    tree.WriteString("Software\\Velnor", "Odd \"name\"\\", "v");
    tree.WriteDword("Software\\Velnor", "Dword", 0xdeadbeef);
    std::vector<std::uint8_t> big(200);
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i * 7);
    tree.WriteValue("Software\\Velnor", "Big", TRegistryValue::FromBytes(big));
    tree.WriteValue("Software\\Velnor", "Qword",
                    TRegistryValue::FromBytes({1, 0, 0, 0, 0, 0, 0, 0}, 0xb));

    const auto again = TRegistryTree::Parse(tree.Serialize(), kCU);
    EXPECT_THAT(again.Problems(), IsEmpty());
    EXPECT_EQ(again.ReadString("Software\\Velnor", "Text"), awkward);
    EXPECT_EQ(again.Value("Software\\Velnor", "Empty"), TRegistryValue::FromString(""));
    EXPECT_EQ(again.ReadString("Software\\Velnor", ""), "default");
    EXPECT_EQ(again.ReadString("Software\\Velnor", "Odd \"name\"\\"), "v");
    EXPECT_EQ(again.Value("Software\\Velnor", "Dword"), TRegistryValue::FromDword(0xdeadbeef));
    EXPECT_EQ(again.Value("Software\\Velnor", "Big"), TRegistryValue::FromBytes(big));
    EXPECT_EQ(again.ReadString("Software\\Velnor", "Qword"), "1");
    EXPECT_EQ(again.Serialize(), tree.Serialize());
}

TEST(RegistryTreeTest, SerializedFileHasTheEditorsShape) {
    TRegistryTree tree(kCU);
    tree.WriteString("Software\\Tressigan\\Velnor\\Logon0", "UserName", "SCOTT");
    tree.WriteDword("Software\\Tressigan\\Velnor\\Logon0", "N", 1);
    EXPECT_EQ(tree.Serialize(),
              "Windows Registry Editor Version 5.00\n\n"
              "[HKEY_CURRENT_USER\\Software\\Tressigan\\Velnor\\Logon0]\n"
              "\"UserName\"=\"SCOTT\"\n"
              "\"N\"=dword:00000001\n\n");
}

TEST(RegistryTreeTest, LongBinaryValuesWrapLikeTheEditor) {
    TRegistryTree tree(kCU);
    tree.WriteValue("K", "B", TRegistryValue::FromBytes(std::vector<std::uint8_t>(100, 0xab)));
    const std::string text = tree.Serialize();
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        EXPECT_LE(end - start, 80u) << text.substr(start, end - start);
    }
    EXPECT_THAT(text, HasSubstr(",\\\n  ab,"));
}

TEST(RegistryTreeTest, DamagedLinesAreKeptWhereTheyStood) {
    const std::string damaged = "\"Broken\"=dword:xyz";
    auto tree = ParseCU(
        "; exported by hand\n"
        "[HKEY_CURRENT_USER\\A]\n"
        "\"x\"=\"1\"\n" +
        damaged +
        "\n"
        "garbage without quotes\n"
        "\"Unterminated\"=\"abc\n"
        "[HKEY_CURRENT_USER\\B]\n"
        "\"y\"=\"2\"\n");
    EXPECT_THAT(tree.Problems(), SizeIs(3));
    EXPECT_THAT(tree.Problems()[0], HasSubstr("line 6"));
    EXPECT_THAT(tree.Problems()[0], Not(HasSubstr("Broken")));  // contents may be passwords
    tree.WriteString("A", "z", "3");
    tree.WriteString("B", "y", "changed");
    const std::string text = tree.Serialize();
    EXPECT_THAT(text, HasSubstr("; exported by hand\n"));
    EXPECT_THAT(text, HasSubstr("\"x\"=\"1\"\n" + damaged +
                                "\ngarbage without quotes\n\"Unterminated\"=\"abc\n\"z\"=\"3\"\n"));
    EXPECT_THAT(text, HasSubstr("[HKEY_CURRENT_USER\\B]\n\"y\"=\"changed\"\n"));
    EXPECT_THAT(TRegistryTree::Parse(text, kCU).Problems(), SizeIs(3));
}

TEST(RegistryTreeTest, KeysOfAnotherRootAreKeptUnread) {
    auto tree = ParseCU(
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ORACLE]\n"
        "\"ORACLE_HOME\"=\"/opt/lm\"\n"
        "[HKEY_CURRENT_USER\\SOFTWARE\\ORACLE]\n"
        "\"ORACLE_HOME\"=\"/opt/cu\"\n");
    EXPECT_EQ(tree.ReadString("SOFTWARE\\ORACLE", "ORACLE_HOME"), "/opt/cu");
    EXPECT_THAT(tree.Problems(), ElementsAre(HasSubstr("outside HKEY_CURRENT_USER")));
    tree.DeleteKey("SOFTWARE");
    EXPECT_THAT(tree.Serialize(),
                HasSubstr("[HKEY_LOCAL_MACHINE\\SOFTWARE\\ORACLE]\n\"ORACLE_HOME\"=\"/opt/lm\"\n"));
}

TEST(RegistryTreeTest, ValuesBeforeAnyKeyOrUnderABadKeyLineAreNotApplied) {
    const auto tree = ParseCU(
        "\"Stray\"=\"1\"\n"
        "[HKEY_CURRENT_USER\\A\n"
        "\"x\"=\"lost key line\"\n"
        "[HKEY_CURRENT_USER\\A]\n"
        "\"y\"=\"2\"\n");
    EXPECT_EQ(tree.ReadString("A", "x"), "");
    EXPECT_EQ(tree.ReadString("A", "y"), "2");
    EXPECT_THAT(tree.Problems(), SizeIs(2));
    const std::string text = tree.Serialize();
    EXPECT_THAT(text, HasSubstr("\"Stray\"=\"1\"\n"));
    EXPECT_THAT(text, HasSubstr("[HKEY_CURRENT_USER\\A\n\"x\"=\"lost key line\"\n"));
}

TEST(RegistryTreeTest, DeletionLinesApplyInFileOrder) {
    auto tree = ParseCU(
        "[HKEY_CURRENT_USER\\A\\B]\n\"x\"=\"1\"\n"
        "[HKEY_CURRENT_USER\\A\\C]\n\"v\"=\"1\"\n\"w\"=\"2\"\n"
        "[-HKEY_CURRENT_USER\\A\\B]\n"
        "[HKEY_CURRENT_USER\\A\\C]\n\"v\"=-\n");
    EXPECT_FALSE(tree.KeyExists("A\\B"));
    EXPECT_FALSE(tree.Value("A\\C", "v"));
    EXPECT_EQ(tree.ReadString("A\\C", "w"), "2");
    // A key written again after the deletion line survives a re-read.
    tree.WriteString("A\\B", "x", "new");
    EXPECT_EQ(TRegistryTree::Parse(tree.Serialize(), kCU).ReadString("A\\B", "x"), "new");
}

TEST(RegistryTreeTest, LinesOfKeysDeletedInTheFileAreKeptUnread) {
    // Damaged lines inside a key that a later deletion line removes used to vanish on rewrite.
    auto tree = ParseCU(
        "[HKEY_CURRENT_USER\\A]\n\"bad\"=dword:zz\n\"v\"=\"1\"\n"
        "[-HKEY_CURRENT_USER\\A]\n");
    EXPECT_FALSE(tree.KeyExists("A"));
    tree.WriteString("B", "x", "1");
    const std::string text = tree.Serialize();
    EXPECT_THAT(text, HasSubstr("\"bad\"=dword:zz\n\"v\"=\"1\"\n"));
    const auto again = TRegistryTree::Parse(text, kCU);
    EXPECT_FALSE(again.KeyExists("A"));
    EXPECT_EQ(again.ReadString("B", "x"), "1");
    EXPECT_THAT(again.Problems(), SizeIs(1));
}

TEST(RegistryTreeTest, UnchangedLinesAreWrittenBackAsTheyWere) {
    auto tree = ParseCU(
        "[HKEY_CURRENT_USER\\Software\\oracle]\n\"N\"=DWORD:0000FFFF\n"
        "\"B\"=hex:01,02,\\\n    03\n\n\"S\"=\"x\"\n\n");
    tree.WriteString("software\\ORACLE", "S", "y");
    tree.WriteString("Software\\Oracle", "New", "z");
    EXPECT_EQ(tree.Serialize(),
              "Windows Registry Editor Version 5.00\n\n"
              "[HKEY_CURRENT_USER\\Software\\oracle]\n\"N\"=DWORD:0000FFFF\n"
              "\"B\"=hex:01,02,\\\n    03\n\n\"S\"=\"y\"\n\"New\"=\"z\"\n\n");
}

TEST(RegistryTreeTest, HexDataDoesNotCarryOverABlankLineOrAKey) {
    // A damaged trailing backslash used to swallow the next line and change the file's meaning.
    const auto tree = ParseCU(
        "[HKEY_CURRENT_USER\\A]\n\"b\"=hex:01,\\\n\n\"c\"=\"1\"\n"
        "\"d\"=hex:02,\\\n[HKEY_CURRENT_USER\\B]\n\"e\"=\"2\"\n");
    EXPECT_EQ(tree.ReadString("A", "c"), "1");
    EXPECT_EQ(tree.ReadString("B", "e"), "2");
    const auto again = TRegistryTree::Parse(tree.Serialize(), kCU);
    EXPECT_EQ(again.Serialize(), tree.Serialize());
    EXPECT_EQ(again.Problems().size(), tree.Problems().size());
}

TEST(RegistryTreeTest, LaterDefinitionWinsAndWriteRemovesDuplicates) {
    auto tree = ParseCU(
        "[HKEY_CURRENT_USER\\K]\n\"v\"=\"old\"\n"
        "[HKEY_CURRENT_USER\\Other]\n"
        "[HKEY_CURRENT_USER\\k]\n\"V\"=\"new\"\n\"v\"=\"newest\"\n");
    EXPECT_EQ(tree.ReadString("K", "v"), "newest");
    tree.WriteString("K", "v", "written");
    const auto again = TRegistryTree::Parse(tree.Serialize(), kCU);
    EXPECT_EQ(again.ReadString("K", "v"), "written");
    EXPECT_THAT(again.ValueNames("K"), SizeIs(1));
}

TEST(RegistryTreeTest, KeyTreeOperations) {
    TRegistryTree tree(kCU);
    tree.WriteString("Software\\Tressigan\\Velnor\\Logon0", "UserName", "A");
    tree.WriteString("Software\\Tressigan\\Velnor\\Logon1", "UserName", "B");
    tree.CreateKey("Software\\Tressigan\\Empty");
    EXPECT_TRUE(tree.KeyExists("software\\tressigan"));  // implied by the keys below it
    EXPECT_TRUE(tree.KeyExists("Software\\Tressigan\\Empty"));
    EXPECT_TRUE(tree.KeyExists(""));
    EXPECT_THAT(tree.SubKeyNames("Software\\Tressigan"), ElementsAre("Velnor", "Empty"));
    EXPECT_THAT(tree.SubKeyNames("Software\\Tressigan\\Velnor"), ElementsAre("Logon0", "Logon1"));
    EXPECT_THAT(tree.SubKeyNames(""), ElementsAre("Software"));

    EXPECT_TRUE(tree.DeleteValue("Software\\Tressigan\\Velnor\\Logon1", "USERNAME"));
    EXPECT_FALSE(tree.DeleteValue("Software\\Tressigan\\Velnor\\Logon1", "UserName"));
    EXPECT_TRUE(tree.KeyExists("Software\\Tressigan\\Velnor\\Logon1"));  // the key stays
    EXPECT_TRUE(tree.DeleteKey("Software\\Tressigan\\Velnor"));
    EXPECT_FALSE(tree.KeyExists("Software\\Tressigan\\Velnor\\Logon0"));
    EXPECT_TRUE(tree.KeyExists("Software\\Tressigan\\Empty"));
    EXPECT_FALSE(tree.DeleteKey("Software\\Tressigan\\Velnor"));
    EXPECT_FALSE(tree.DeleteKey(""));  // the root is not deleted
}

TEST(RegistryTreeTest, DeletingAKeyDoesNotTouchSiblingsWithTheSamePrefix) {
    TRegistryTree tree(kCU);
    tree.WriteString("Logon1", "u", "a");
    tree.WriteString("Logon10", "u", "b");
    tree.DeleteKey("Logon1");
    EXPECT_EQ(tree.ReadString("Logon10", "u"), "b");
}

TEST(RegistryTreeTest, NamesThatWouldBreakTheFileAreRefused) {
    TRegistryTree tree(kCU);
    EXPECT_THAT([&] { tree.WriteString("A\nB", "x", "1"); },
                ThrowsMessage<ERegistryError>(HasSubstr("key name")));
    EXPECT_THAT([&] { tree.WriteString("A", std::string("x\0y", 3), "1"); },
                ThrowsMessage<ERegistryError>(HasSubstr("value name")));
    EXPECT_FALSE(tree.KeyExists("A"));
}

TEST(RegistryTreeTest, TextWithoutTheEditorsFirstLineIsNotARegistryFile) {
    EXPECT_THAT([] { (void)TRegistryTree::Parse("UserName=SCOTT\n", kCU); },
                ThrowsMessage<ERegistryError>(HasSubstr("Not a registry file")));
    EXPECT_THAT(TRegistryTree::Parse("", kCU).ValueNames(""), IsEmpty());
    EXPECT_THAT(TRegistryTree::Parse("\n \r\n", kCU).SubKeyNames(""), IsEmpty());
    EXPECT_NO_THROW(TRegistryTree::Parse("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\A]\r\n", kCU));
}

TEST(RegistryTreeTest, ReadsUtf16AndBomFiles) {
    const std::string text =
        kHead + "[HKEY_CURRENT_USER\\日本]\r\n\"名前\"=\"値 \xF0\x9F\x98\x80\"\r\n";
    // Encode as the Windows editor does: UTF-16LE with a byte-order mark.
    std::u32string wide;
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        const int n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        char32_t code = n == 1 ? c : c & (0xFF >> (n + 1));
        for (int k = 1; k < n; ++k)
            code = (code << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        wide += code;
        i += static_cast<std::size_t>(n);
    }
    std::string utf16 = "\xFF\xFE";
    const auto unit = [&](char32_t u) {
        utf16 += static_cast<char>(u & 0xFF);
        utf16 += static_cast<char>(u >> 8);
    };
    for (const char32_t code : wide) {
        if (code >= 0x10000) {
            unit(0xD800 + ((code - 0x10000) >> 10));
            unit(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            unit(code);
        }
    }
    EXPECT_EQ(TRegistryTree::Parse(utf16, kCU).ReadString("日本", "名前"), "値 \xF0\x9F\x98\x80");
    EXPECT_EQ(TRegistryTree::Parse("\xEF\xBB\xBF" + text, kCU).ReadString("日本", "名前"),
              "値 \xF0\x9F\x98\x80");
}

struct AsStringCase {
    const char* line;
    const char* expected;
};
class RegistryAsStringTest : public ::testing::TestWithParam<AsStringCase> {};
TEST_P(RegistryAsStringTest, ReadsEveryKindAsText) {
    const auto tree = ParseCU(std::string("[HKEY_CURRENT_USER\\K]\n") + GetParam().line + "\n");
    ASSERT_THAT(tree.Problems(), IsEmpty());
    EXPECT_EQ(tree.ReadString("K", "v"), GetParam().expected);
}
INSTANTIATE_TEST_SUITE_P(
    Kinds, RegistryAsStringTest,
    ::testing::Values(AsStringCase{"\"v\"=\"3\"", "3"}, AsStringCase{"\"v\"=dword:00000003", "3"},
                      AsStringCase{"\"v\"=DWORD:ffffffff", "4294967295"},
                      AsStringCase{"\"v\"=hex(2):2f,00,6f,00,70,00,74,00,00,00", "/opt"},
                      AsStringCase{"\"v\"=hex(7):61,00,00,00,62,00,00,00,00,00", "a"},
                      AsStringCase{"\"v\"=hex(b):00,01,00,00,00,00,00,00", "256"},
                      AsStringCase{"\"v\"=hex:41,42,00", "AB"}, AsStringCase{"\"v\"=hex:", ""},
                      AsStringCase{"\"v\" = \"spaced\"  ", "spaced"}));

class RegistryDamageTest : public ::testing::TestWithParam<const char*> {};
TEST_P(RegistryDamageTest, UnreadableValueIsReportedAndNotApplied) {
    const auto tree = ParseCU(std::string("[HKEY_CURRENT_USER\\K]\n") + GetParam() + "\n");
    EXPECT_THAT(tree.Problems(), SizeIs(1));
    EXPECT_FALSE(tree.Value("K", "v"));
    EXPECT_THAT(tree.Serialize(), HasSubstr(std::string(GetParam()) + "\n"));
}
INSTANTIATE_TEST_SUITE_P(Lines, RegistryDamageTest,
                         ::testing::Values("\"v\"=dword:123456789", "\"v\"=dword:", "\"v\"=hex:1g",
                                           "\"v\"=hex:123", "\"v\"=hex(x):00",
                                           "\"v\"=\"text\" trailing", "\"v\"",
                                           "\"v\"=", "\"v\"=str", "\"v=\"1\""));

}  // namespace
}  // namespace velnor::platform
