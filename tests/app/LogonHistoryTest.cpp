#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/core/LogonHistory.h"
#include "platform/Registry.h"
#include "tests/app/TempDir.h"

namespace velnor::app {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::ThrowsMessage;

struct LogonHistoryTest : ::testing::Test {
    test::TempDir dir;
    std::string path = dir.File("HKEY_CURRENT_USER.reg");
    platform::TRegistryStore store{platform::TRegistryRoot::CurrentUser, path};
    TLogonHistory history{store};

    std::vector<TLogon> Entries() const {
        std::vector<TLogon> out;
        for (int i = 0; i < TLogonHistory::Count(); ++i) out.push_back(history.GetItem(i));
        return out;
    }
    void WriteRegFile(std::string_view body) {
        test::WriteBytes(
            path, std::string("Windows Registry Editor Version 5.00\r\n\r\n") + std::string(body));
    }
};

const TLogon A{"SCOTT", "TIGER", "DEMO"};
const TLogon B{"HR", "HR", "DEMO"};
const TLogon Free{};

void Add(TLogonHistory& h, const TLogon& l) { h.AddLogon(l.UserName, l.Password, l.Service); }

TEST_F(LogonHistoryTest, FirstStartWithoutFileGivesFiveFreeEntries) {
    EXPECT_THAT(history.LoadFromRegistry(), IsEmpty());
    EXPECT_THAT(Entries(), ElementsAre(Free, Free, Free, Free, Free));
    for (int i = 0; i < 5; ++i) EXPECT_EQ(history.HistoryCaption(i), "");
}

TEST_F(LogonHistoryTest, RepeatedLogonMovesToTopWithoutDuplicate) {
    Add(history, A);
    Add(history, B);
    Add(history, A);
    EXPECT_THAT(Entries(), ElementsAre(A, B, Free, Free, Free));
}

TEST_F(LogonHistoryTest, SixthLogonDropsTheOldest) {
    std::vector<TLogon> logons;
    for (int i = 0; i < 6; ++i) logons.push_back({"U" + std::to_string(i), "P", "S"});
    for (const auto& l : logons) Add(history, l);
    EXPECT_THAT(Entries(), ElementsAre(logons[5], logons[4], logons[3], logons[2], logons[1]));
}

TEST_F(LogonHistoryTest, LogonEqualToOldestMovesUpAndNothingElseIsLost) {
    std::vector<TLogon> logons;
    for (int i = 0; i < 5; ++i) logons.push_back({"U" + std::to_string(i), "P", "S"});
    for (const auto& l : logons) Add(history, l);
    Add(history, logons[0]);
    EXPECT_THAT(Entries(), ElementsAre(logons[0], logons[4], logons[3], logons[2], logons[1]));
}

TEST_F(LogonHistoryTest, LogonsDifferingInCaseOrPasswordStayApart) {
    Add(history, {"scott", "TIGER", "DEMO"});
    Add(history, {"SCOTT", "tiger", "DEMO"});
    Add(history, A);
    EXPECT_THAT(Entries(), ElementsAre(A, TLogon{"SCOTT", "tiger", "DEMO"},
                                       TLogon{"scott", "TIGER", "DEMO"}, Free, Free));
    EXPECT_EQ(history.HistoryCaption(1), "&2 SCOTT/tiger@DEMO");
}

TEST_F(LogonHistoryTest, CaptionCarriesAccessKeyAndPlainPassword) {
    Add(history, B);
    Add(history, {"ユーザ", "パス", "サービス"});
    EXPECT_EQ(history.HistoryCaption(0), "&1 ユーザ/パス@サービス");
    EXPECT_EQ(history.HistoryCaption(1), "&2 HR/HR@DEMO");
    EXPECT_EQ(history.HistoryCaption(2), "");
}

TEST_F(LogonHistoryTest, IndexOutsideTheListRaises) {
    EXPECT_THAT([&] { (void)history.GetItem(5); },
                ThrowsMessage<platform::Exception>(HasSubstr("out of bounds")));
    EXPECT_THAT([&] { (void)history.HistoryCaption(-1); },
                ThrowsMessage<platform::Exception>(HasSubstr("out of bounds")));
}

TEST_F(LogonHistoryTest, SavedHistoryLoadsBackIntoAnotherInstance) {
    Add(history, B);
    Add(history, {"ユーザ", "p\"a\\ss", "DEMO"});
    history.SaveToRegistry();
    TLogonHistory other(store);
    EXPECT_THAT(other.LoadFromRegistry(), IsEmpty());
    EXPECT_EQ(other.GetItem(0), (TLogon{"ユーザ", "p\"a\\ss", "DEMO"}));
    EXPECT_EQ(other.GetItem(1), B);
    EXPECT_EQ(other.GetItem(2), Free);
}

// Saving used to stop at the first free entry, leaving older keys behind that
// reappeared in the menu at the next start.
TEST_F(LogonHistoryTest, SavingWritesAllFiveKeysSoTheFileMatchesTheMenu) {
    WriteRegFile(
        "[HKEY_CURRENT_USER\\Software\\Tressigan\\Velnor\\Logon3]\r\n"
        "\"UserName\"=\"OLD\"\r\n\"Password\"=\"X\"\r\n\"Service\"=\"Y\"\r\n");
    Add(history, A);
    history.SaveToRegistry();
    const auto tree = store.Read();
    for (int i = 0; i < 5; ++i) {
        const auto key = TLogonHistory::KeyPath(i);
        ASSERT_TRUE(tree.KeyExists(key)) << key;
        EXPECT_EQ(tree.ReadString(key, "UserName"), i == 0 ? "SCOTT" : "");
    }
    TLogonHistory other(store);
    other.LoadFromRegistry();
    EXPECT_THAT(Entries(), ElementsAre(A, Free, Free, Free, Free));
    for (int i = 0; i < 5; ++i) EXPECT_EQ(other.GetItem(i), history.GetItem(i));
}

TEST_F(LogonHistoryTest, EmptyUserNameFirstIsSavedAndLoadedInPlace) {
    Add(history, A);
    Add(history, {"", "secret", "DEMO"});
    history.SaveToRegistry();
    TLogonHistory other(store);
    other.LoadFromRegistry();
    EXPECT_EQ(other.HistoryCaption(0), "");
    EXPECT_EQ(other.GetItem(1), A);
}

TEST_F(LogonHistoryTest, NonStringValueIsReportedAndTheRestStillLoads) {
    WriteRegFile(
        "[HKEY_CURRENT_USER\\Software\\Tressigan\\Velnor\\Logon0]\r\n"
        "\"UserName\"=dword:00000007\r\n\"Password\"=\"X\"\r\n\"Service\"=\"Y\"\r\n\r\n"
        "[HKEY_CURRENT_USER\\Software\\Tressigan\\Velnor\\Logon1]\r\n"
        "\"UserName\"=\"SCOTT\"\r\n\"Password\"=hex:41,42\r\n\"Service\"=\"DEMO\"\r\n");
    const auto problems = history.LoadFromRegistry();
    EXPECT_THAT(problems,
                ElementsAre("'UserName' のデータ型が不正です", "'Password' のデータ型が不正です"));
    EXPECT_THAT(Entries(),
                ElementsAre(TLogon{"", "X", "Y"}, TLogon{"SCOTT", "", "DEMO"}, Free, Free, Free));
}

TEST_F(LogonHistoryTest, KeysAndValueNamesMatchWhateverTheirCase) {
    WriteRegFile(
        "[hkey_current_user\\SOFTWARE\\tressigan\\velnor\\LOGON0]\r\n"
        "\"username\"=\"SCOTT\"\r\n\"PASSWORD\"=\"TIGER\"\r\n\"service\"=\"DEMO\"\r\n");
    history.LoadFromRegistry();
    EXPECT_EQ(history.GetItem(0), A);
}

TEST_F(LogonHistoryTest, DuplicateStoredLogonIsListedOnce) {
    WriteRegFile(
        "[HKEY_CURRENT_USER\\Software\\Tressigan\\Velnor\\Logon0]\r\n"
        "\"UserName\"=\"SCOTT\"\r\n\"Password\"=\"TIGER\"\r\n\"Service\"=\"DEMO\"\r\n\r\n"
        "[HKEY_CURRENT_USER\\Software\\Tressigan\\Velnor\\Logon2]\r\n"
        "\"UserName\"=\"SCOTT\"\r\n\"Password\"=\"TIGER\"\r\n\"Service\"=\"DEMO\"\r\n");
    history.LoadFromRegistry();
    EXPECT_THAT(Entries(), ElementsAre(A, Free, Free, Free, Free));
}

TEST_F(LogonHistoryTest, FileThatIsNotARegistryFileStartsEmptyAndIsKept) {
    const std::string junk = "this is not a registry file\n";
    test::WriteBytes(path, junk);
    EXPECT_THAT(history.LoadFromRegistry(), ElementsAre(::testing::Not(IsEmpty())));
    EXPECT_THAT(Entries(), ElementsAre(Free, Free, Free, Free, Free));
    Add(history, A);
    EXPECT_THAT([&] { history.SaveToRegistry(); },
                ThrowsMessage<ERegistryError>(HasSubstr("'UserName' の設定に失敗しました")));
    EXPECT_EQ(test::ReadBytes(path), junk);
}

}  // namespace
}  // namespace velnor::app
