#include "mail/account.h"

#include <gtest/gtest.h>

#include "platform/settings_table.h"

namespace paginor {
namespace {

const char* kKey = "Software\\Orrin.Tadd\\Paginor";

struct ReadCase {
    std::string name;
    std::string values;  // REGEDIT4 lines of the key
    bool result;
    std::string message;
};

TEST(AccountTest, ReportsTheFirstMissingPiece) {
    const ReadCase cases[] = {
        {"nothing stored", "", false, "Email Address not found"},
        {"empty address", "\"emailaddr\"=\"\"\n", false, "Email Address not found"},
        {"no server", "\"emailaddr\"=\"a@b.c\"\n", false, "SMTP server not found"},
        {"empty server", "\"emailaddr\"=\"a@b.c\"\n\"smtpsvr\"=\"\"\n", false,
         "Outgoing SMTP server not found"},
        {"no user name",
         "\"emailaddr\"=\"a@b.c\"\n\"smtpsvr\"=\"s\"\n\"reqauthen\"=dword:00000001\n", false,
         "User name not found"},
        {"no password",
         "\"emailaddr\"=\"a@b.c\"\n\"smtpsvr\"=\"s\"\n\"reqauthen\"=dword:00000001\n"
         "\"username\"=\"u\"\n",
         false, "Password not found"},
        {"no authentication", "\"emailaddr\"=\"a@b.c\"\n\"smtpsvr\"=\"s\"\n\"reqauthen\"=dword:0\n",
         true, ""},
        {"address too long", "\"emailaddr\"=\"" + std::string(260, 'a') + "\"\n", false,
         "Email Address not found"},
    };
    for (const ReadCase& c : cases) {
        MemorySettingsStore store;
        std::string error;
        ASSERT_TRUE(store.load(
            SettingsHive::CurrentUser,
            "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Orrin.Tadd\\Paginor]\n" + c.values, error))
            << c.name << error;
        EmailAccount account;
        std::string message;
        EXPECT_EQ(GetEmailAccountSettings(store, account, message), c.result) << c.name;
        EXPECT_EQ(message, c.message) << c.name;
    }
}

TEST(AccountTest, ScramblingRoundTripsEveryByteWithoutMakingANul) {
    std::string all;
    for (int c = 1; c < 256; ++c) {
        all += static_cast<char>(c);
    }
    std::string text = all;
    ScramblePassword(text);
    EXPECT_EQ(text.find('\0'), std::string::npos);
    EXPECT_NE(text, all);
    EXPECT_EQ(text.substr(0, 3), "\x20\x21\x22");  // 1 -> 32: a rotation by 31
    UnscramblePassword(text);
    EXPECT_EQ(text, all);
}

TEST(AccountTest, SavesScrambledAndKeepsEarlierUserAndPassword) {
    MemorySettingsStore store;
    std::string error;
    ASSERT_TRUE(saveAccount(store, {"smtp.x.org", "me@x.org", true, "alice", "secret"}, error));
    std::string stored = store.readString(SettingsHive::CurrentUser, kKey, "password").value();
    EXPECT_NE(stored, "secret");
    ASSERT_TRUE(saveAccount(store, {"smtp2.x.org", "me@x.org", false, "", ""}, error));
    EmailAccount account;
    std::string message;
    ASSERT_TRUE(GetEmailAccountSettings(store, account, message));
    EXPECT_EQ(account.server, "smtp2.x.org");
    EXPECT_FALSE(account.requiresAuthentication);
    EXPECT_EQ(account.userName, "alice");
    EXPECT_EQ(account.password, "secret");
}

TEST(AccountTest, AFailedSaveIsReported) {
    MemorySettingsStore store;
    store.failWrites("disk full");
    std::string error;
    EXPECT_FALSE(saveAccount(store, {"s", "me@x.org", false, "", ""}, error));
    EXPECT_EQ(error, "Unable to save the e-mail account settings: disk full");
}

struct CheckCase {
    EmailAccount fields;
    std::string message;
};

TEST(AccountTest, ChecksTheFieldsInOrder) {
    const CheckCase cases[] = {
        {{"s", "", false, "", ""}, "Please enter the email address"},
        {{"s", "@x.org", false, "", ""},
         "The email address is invalid, character '@' or prefix not found"},
        {{"s", "me", false, "", ""},
         "The email address is invalid, character '@' or prefix not found"},
        {{"s", "me@", false, "", ""}, "The email address is invalid, suffix not found"},
        {{"s", "me@x@", false, "", ""}, ""},
        {{"", "me@x", false, "", ""}, "Please enter the location of the outgoing SMTP server"},
        {{"s", "me@x", true, "", "p"}, "Please enter the user name"},
        {{"s", "me@x", true, "u", ""}, "Please enter the password"},
        {{"s", "me@x", false, "", ""}, ""},
        {{"s", "me@x", true, "u", std::string(260, 'p')},
         "The password is too long: at most 259 bytes"},
    };
    for (const CheckCase& c : cases) {
        auto problem = checkAccountFields(c.fields);
        EXPECT_EQ(problem ? problem->message : "", c.message) << c.fields.address;
    }
}

TEST(AccountTest, DialogStartsWithExampleValuesWithoutAnAccount) {
    MemorySettingsStore store;
    EmailAccount start = accountDialogStart(store);
    EXPECT_EQ(start.address, "someone@example.com");
    EXPECT_EQ(start.server, "smtp.example.com");
    EXPECT_FALSE(start.requiresAuthentication);
}

}  // namespace
}  // namespace paginor
