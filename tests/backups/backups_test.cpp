// The backups beside a vault: which files count, the thinning rule as a table, and
// the earlier values of lines read over backups of both formats and two passwords.

#include "backups/backup_files.h"
#include "backups/history.h"
#include "backups/key_cache.h"
#include "backups/thinning.h"
#include "db/backup.h"
#include "platform/calendar_time.h"
#include "tests/support/files.h"
#include "tests/support/vaults.h"
#include "vault/save.h"
#include "vault/vault_merge.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace {

std::vector<std::string> names_of(const std::vector<BackupFile>& backups)
{
    std::vector<std::string> names;
    for (const BackupFile& backup : backups) names.push_back(file_name_of(backup.path));
    return names;
}

TEST(BackupFiles, ExactNamesWithAHeaderOrderedByTheirTime)
{
    TempWorkingDir folder;
    ASSERT_TRUE(write_vault("a: 1\r\n", "pw"));
    const std::string v2 = read_file(kDatabaseFileName);
    make_vault("old", "pw", "a: 1\r\n");
    const std::string v1 = read_file("old");
    const std::string names[] = {
        // 2038-01-19 03:14:07 UTC, then one second later: the name turns negative.
        "passwords.gkv.2147483647.bak",
        "passwords.gkv.-2147483648.bak",
        "passwords.gkv.-2147483648_02.bak",
        "passwords.gkv.-2147483648_10.bak",
        "passwords.gkv.-1.bak",  // 2106
        "passwords.gkv.999.bak",
        "passwords.gkv.0.bak",
    };
    for (const std::string& name : names) write_file(name, name == "passwords.gkv.999.bak" ? v1 : v2);
    const char* ignored[] = {
        "passwords.gkv.bak",
        "passwords.gkv.123.bak.txt",
        "other.gkv.123.bak",
        "passwords.gkv.0123.bak",
        "passwords.gkv.-0.bak",
        "passwords.gkv.2147483648.bak",
        "passwords.gkv.-2147483649.bak",
        "passwords.gkv.12_1.bak",
        "passwords.gkv.12_01.bak",
        "passwords.gkv.12_002.bak",
        "passwords.gkv.12_.bak",
        "passwords.gkv.1a.bak",
        "passwords.gkv..bak",
        "passwords.gkv.5.BAK",
        "xpasswords.gkv.5.bak",
    };
    for (const char* name : ignored) write_file(name, v2);
    write_file("passwords.gkv.77.bak", "not a vault at all, but long enough for a header");
    write_file("passwords.gkv.78.bak", "GLIMKEEPDB3.0 and more bytes after the version digits");

    std::vector<BackupFile> backups;
    ASSERT_EQ(list_backups(kDatabaseFileName, backups), 0);
    const std::vector<std::string> expected = {
        "passwords.gkv.0.bak",
        "passwords.gkv.999.bak",
        "passwords.gkv.2147483647.bak",
        "passwords.gkv.-2147483648.bak",
        "passwords.gkv.-2147483648_02.bak",
        "passwords.gkv.-2147483648_10.bak",
        "passwords.gkv.-1.bak",
    };
    EXPECT_EQ(names_of(backups), expected);
    ASSERT_EQ(backups.size(), expected.size());
    EXPECT_EQ(backups[3].seconds, 2147483648);
    EXPECT_EQ(backups[6].seconds, 4294967295);
    EXPECT_EQ(backups[5].counter, 10u);
    EXPECT_EQ(format_name(backups[1]), "1.0");
    EXPECT_EQ(format_name(backups[2]), "2.0");
    EXPECT_EQ(backups[1].size, v1.size());

    // Every name that make_backup_copy gives parses back to its time and counter.
    for (long long seconds : {0LL, 1LL, 2147483647LL, 2147483648LL, 4294967295LL, 4294967296LL + 7, -5LL}) {
        for (unsigned counter : {0u, 2u, 9u, 10u, 999u}) {
            BackupName parsed;
            const std::string name = file_name_of(backup_file_name("dir/v.gkv", seconds, counter));
            ASSERT_TRUE(parse_backup_name(name, "v.gkv", parsed)) << name;
            EXPECT_EQ(parsed.seconds, static_cast<std::uint32_t>(seconds & 0xFFFFFFFF)) << name;
            EXPECT_EQ(parsed.counter, counter) << name;
        }
    }

    EXPECT_EQ(with_thousands(1310), "1,310");
    EXPECT_EQ(with_thousands(999), "999");
    EXPECT_EQ(with_thousands(1000000), "1,000,000");
    EXPECT_EQ(thinning_question(1240, 1310),
              "Delete 1,240 of 1,310 backups (keeping every one of the last 7 days, one a day for 90 days, one a "
              "month before that)?");
}

// The thinning rule on dates given by hand (the calendar dates are independent of
// the time zone of the machine that runs the test).
constexpr std::int64_t kNow = 1700000000;  // 2023-11-14 22:13:20
constexpr std::int64_t kDay = 86400;

ThinningItem at(std::int64_t seconds_ago, int year, int month, int day, bool opens = false)
{
    ThinningItem item;
    item.seconds = kNow - seconds_ago;
    item.date.year = year;
    item.date.month = month;
    item.date.day = day;
    item.opens_with_password = opens;
    return item;
}

struct ThinningCase {
    ThinningItem item;
    bool kept;
    const char* why;
};

TEST(Thinning, TheRuleAsATable)
{
    std::vector<ThinningCase> cases;
    // The newest 20 fill the last day: all kept by either rule.
    for (int i = 0; i < 20; ++i) cases.push_back({at(3600 + i, 2023, 11, 14), true, "the newest 20"});
    const ThinningCase older[] = {
        {at(6 * kDay, 2023, 11, 8), true, "within 7 days"},
        {at(6 * kDay + 60, 2023, 11, 8), true, "within 7 days, same day"},
        {at(7 * kDay + 60, 2023, 11, 7), true, "the newest of its day"},
        {at(7 * kDay + 120, 2023, 11, 7), false, "an older one of that day"},
        {at(10 * kDay, 2023, 11, 4), true, "the newest of its day"},
        {at(10 * kDay + 600, 2023, 11, 4, true), true, "the newest that opens with the password"},
        {at(10 * kDay + 1200, 2023, 11, 4), false, "an older one of that day"},
        {at(89 * kDay, 2023, 8, 17), true, "the last day of the daily rule"},
        {at(91 * kDay, 2023, 8, 15), true, "the newest of August before 90 days"},
        {at(92 * kDay, 2023, 8, 14), false, "an older one of August"},
        {at(95 * kDay, 2023, 8, 11, true), false, "opens with the password, but a newer one does"},
        {at(120 * kDay, 2023, 7, 17), true, "the newest of July"},
        {at(140 * kDay, 2023, 6, 27), true, "the newest of June"},
        {at(141 * kDay, 2023, 6, 26), false, "an older one of June"},
        {at(800 * kDay, 2021, 9, 5), true, "the newest of a month long ago"},
        {at(801 * kDay, 2021, 9, 4), false, "an older one of that month"},
    };
    cases.insert(cases.end(), std::begin(older), std::end(older));
    // In the future (a clock set back since): kept.
    cases.push_back({at(-5 * kDay, 2023, 11, 19), true, "dated after now"});

    std::vector<ThinningItem> items;
    for (const ThinningCase& c : cases) items.push_back(c.item);
    const std::vector<bool> keep = backups_to_keep(items, kNow);
    ASSERT_EQ(keep.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) EXPECT_EQ(keep[i], cases[i].kept) << i << ": " << cases[i].why;
}

TEST(Thinning, TheNewestTwentyStayWhateverTheirAge)
{
    std::vector<ThinningItem> items;
    for (int i = 0; i < 25; ++i) items.push_back(at(400 * kDay + i * 60, 2022, 10, 10));
    // An older one that opens with the password, and none of the others does.
    items.push_back(at(500 * kDay, 2022, 7, 2, true));
    const std::vector<bool> keep = backups_to_keep(items, kNow);
    for (int i = 0; i < 25; ++i) EXPECT_EQ(keep[i], i < 20) << i;
    EXPECT_TRUE(keep[25]);
    EXPECT_TRUE(backups_to_keep({}, kNow).empty());
}

// A save with the clock past 2038 over 400 daily backups from 2039-01-01 12:00 UTC:
// the new backup carries the low 32 bits of its time (negative as a name), lists as
// the newest with its 2040 date, and the rule keeps 90 daily ones and the newest of
// each of 11 months (January to October, and November up to the 7th).
TEST(BackupFiles, ASaveAfter2038IsDatedListedAndThinned)
{
    constexpr std::int64_t kFirst = 2177496000;  // 2039-01-01 12:00:00 UTC
    constexpr std::int64_t kSave = kFirst + 400 * kDay;  // 2040-02-05 12:00:00 UTC
    TempWorkingDir folder;
    ASSERT_TRUE(write_vault("bank: 1\r\n", "pw"));
    const std::string image = read_file(kDatabaseFileName);
    for (std::int64_t day = 0; day < 400; ++day)
        write_file(backup_file_name(kDatabaseFileName, kFirst + day * kDay), image);

    Database db;
    ASSERT_TRUE(open_vault(db, "pw"));
    set_calendar_now_for_tests(kSave);
    const vault::SaveReport report = vault::save_text(db, "bank: 2\r\n", kDatabaseFileName, calendar_now());
    clear_calendar_now_for_tests();
    ASSERT_EQ(report.status, DB_OK) << report.error;
    EXPECT_EQ(report.backup_path, "passwords.gkv.-2082911296.bak");

    std::vector<BackupFile> backups;
    ASSERT_EQ(list_backups(kDatabaseFileName, backups), 0);
    ASSERT_EQ(backups.size(), 401u);
    EXPECT_EQ(file_name_of(backups.back().path), "passwords.gkv.-2082911296.bak");
    EXPECT_EQ(backups.back().seconds, kSave);
    EXPECT_EQ(backups.front().seconds, kFirst);
    // Noon UTC: the same day in every time zone within 11 hours of it.
    EXPECT_EQ(local_date_time(kSave).substr(0, 11), "2040-02-05 ");
    EXPECT_EQ(local_date_time(kFirst).substr(0, 11), "2039-01-01 ");

    KeyCache password("pw", 2);
    const std::vector<bool> keep = plan_thinning(backups, password, kSave);
    ASSERT_EQ(keep.size(), 401u);
    // Day numbers from 2039-01-01: the last day of each month before the daily rule.
    const int month_ends[] = {30, 58, 89, 119, 150, 180, 211, 242, 272, 303, 310};
    for (int day = 0; day <= 400; ++day) {
        const bool month_end = std::find(std::begin(month_ends), std::end(month_ends), day) != std::end(month_ends);
        EXPECT_EQ(keep[static_cast<std::size_t>(day)], day > 310 || month_end) << "day " << day;
    }
    const ThinningResult result = thin_out(backups, keep, kDatabaseFileName);
    EXPECT_EQ(result.deleted.size(), 300u);
    EXPECT_TRUE(result.failed.empty());
    ASSERT_EQ(list_backups(kDatabaseFileName, backups), 0);
    EXPECT_EQ(backups.size(), 101u);
    EXPECT_EQ(plaintext_of(backups.back().path, "pw"), "bank: 1\r\n");
}

// History: the vault's backups made by hand, one per save, with known times.
class History : public ::testing::Test {
protected:
    TempWorkingDir folder;

    static std::string backup(std::int64_t seconds) { return backup_file_name(kDatabaseFileName, seconds); }

    // A 2.0 file saved through `db` (whose keys stay for its next saves).
    static void save_v2(Database& db, const std::string& path, const std::string& text)
    {
        db.set_plaintext(text.data(), static_cast<std::uint32_t>(text.size()));
        ASSERT_EQ(db.save(path), DB_OK) << db.last_error();
    }

    // 2.0 backups saved in one session under `password`, so that they share salt and
    // count: each (seconds, text) gives the backup of that time.
    static void save_session_v2(const std::string& password,
                                std::initializer_list<std::pair<std::int64_t, std::string>> saves)
    {
        Database db;
        db.set_new_key_iterations(kTestIterations);
        db.set_password(password.data(), static_cast<std::uint32_t>(password.size()));
        for (const auto& save : saves) save_v2(db, backup(save.first), save.second);
    }

    static std::string values(const LineHistory& line)
    {
        std::string out;
        for (const HeldValue& held : line.values) {
            out += held.value.str() + " " + written(held.written) + "-";
            out += held.current ? std::string("now") : std::to_string(held.replaced);
            out += "; ";
        }
        return out;
    }

    static std::string written(const WhenWritten& when)
    {
        switch (when.kind) {
        case WhenWritten::kAt: return std::to_string(when.seconds);
        case WhenWritten::kBefore: return "<" + std::to_string(when.seconds);
        case WhenWritten::kUnknown: break;
        }
        return "?";
    }
};

TEST_F(History, ValuesOverTwoFormatsAndTwoPasswordsWithADamagedBackup)
{
    make_vault(backup(1000), "old", "site\r\n\tuser: ann\r\n\tpassword: v1\r\n");
    make_vault(backup(2000), "old", "site\r\n\tuser: ann\r\n\tpassword: v1\r\n");
    save_session_v2("new",
                    {{3000, "site\r\n\tuser: ann\r\n\tpassword: v2\r\n"},
                     {4000, "site\r\n\tuser: bob\r\n\tpassword: v2\r\n"},
                     {5000, "site\r\n\tuser: bob\r\n\tpassword: lost\r\n"},
                     {6000, "site\r\n\tuser: bob\r\n\tpassword: v3\r\n"}});
    // Damaged: the last byte of the ciphertext cut off.
    std::string damaged = read_file(backup(5000));
    damaged.pop_back();
    write_file(backup(5000), damaged);
    const Tree current = parse_tree("site\r\n\tuser: bob\r\n\tpassword: v4\r\n");

    std::vector<BackupFile> backups;
    ASSERT_EQ(list_backups(kDatabaseFileName, backups), 0);
    ASSERT_EQ(backups.size(), 6u);
    KeyCache current_password("new", 3);
    KeyCache old_password("old", 3);
    const TreeNode& site = current.children[0];
    {
        const HistoryReport report =
            read_history(backups, current, lines_of(site), {&current_password, &old_password}, false);
        ASSERT_EQ(report.lines.size(), 2u);
        EXPECT_EQ(report.read, 5u);
        EXPECT_EQ(report.damaged, 1u);
        EXPECT_EQ(report.other_passwords, 0u);
        EXPECT_EQ(report.lines[0].path, "site user");
        EXPECT_EQ(values(report.lines[0]), "ann <1000-3000; bob 3000-now; ");
        // v2 was last seen in the backup of 4000; the damaged one of 5000 is skipped.
        EXPECT_EQ(report.lines[1].path, "site password");
        EXPECT_EQ(values(report.lines[1]), "v1 <1000-2000; v2 2000-4000; v3 4000-6000; v4 6000-now; ");
    }
    // The three 2.0 backups of one session share salt and count: one derivation.
    EXPECT_EQ(current_password.derivations(), 1u);

    // Without the old password the 1.0 backups are counted, not read.
    KeyCache only_current("new", 3);
    const HistoryReport report = read_history(backups, current, {&site.children[1]}, {&only_current}, false);
    EXPECT_EQ(report.other_passwords, 2u);
    EXPECT_EQ(values(report.lines[0]), "v2 <3000-4000; v3 4000-6000; v4 6000-now; ");
    EXPECT_EQ(when_written_text(report.lines[0].values[0].written), "before " + local_date_time(3000));

    // The current value's date alone: the reading stops at the first backup without it.
    const HistoryReport since = read_history(backups, current, password_lines_under(current), {&only_current}, true);
    ASSERT_EQ(since.lines.size(), 1u);
    EXPECT_EQ(values(since.lines[0]), "v4 6000-now; ");
    EXPECT_EQ(since.read, 1u);
}

TEST_F(History, TwoEntriesOfOneNameStayApart)
{
    // At 300 the first entry is gone for one save: the second is not taken for it.
    save_session_v2("pw",
                    {{100, "Google\r\n\tuser: a\r\n\tpassword: a1\r\nGoogle\r\n\tuser: b\r\n\tpassword: b1\r\n"},
                     {200, "Google\r\n\tuser: a\r\n\tpassword: a2\r\nGoogle\r\n\tuser: b\r\n\tpassword: b1\r\n"},
                     {300, "Google\r\n\tuser: b\r\n\tpassword: b1\r\n"},
                     {400, "Google\r\n\tuser: a\r\n\tpassword: a2\r\nGoogle\r\n\tuser: b\r\n\tpassword: b2\r\n"}});
    const Tree current =
        parse_tree("Google\r\n\tuser: a\r\n\tpassword: a3\r\nGoogle\r\n\tuser: b\r\n\tpassword: b2\r\n");
    std::vector<BackupFile> backups;
    ASSERT_EQ(list_backups(kDatabaseFileName, backups), 0);
    KeyCache password("pw", 2);
    const HistoryReport report = read_history(
        backups, current, {&current.children[0].children[1], &current.children[1].children[1]}, {&password}, false);
    ASSERT_EQ(report.lines.size(), 2u);
    EXPECT_EQ(values(report.lines[0]), "a1 <100-100; a2 100-200; a2 300-400; a3 400-now; ");
    EXPECT_EQ(values(report.lines[1]), "b1 <100-300; b2 300-now; ");
    EXPECT_EQ(report.lines[1].path, "Google password");

    // In a group, an entry replaced by another user's (a shared url, every other value
    // different) is not the same entry: its password is not in the new one's history
    // (it was, when one entry of a name on each side paired by the name alone).
    save_session_v2("pw",
                    {{500, "Web\r\n\tMail\r\n\t\turl: U\r\n\t\tuser: a\r\n\t\tpassword: m1\r\n"},
                     {600, "Web\r\n\tMail\r\n\t\turl: U\r\n\t\tuser: c\r\n\t\tpassword: n1\r\n"}});
    const Tree replaced = parse_tree("Web\r\n\tMail\r\n\t\turl: U\r\n\t\tuser: c\r\n\t\tpassword: n2\r\n");
    ASSERT_EQ(list_backups(kDatabaseFileName, backups), 0);
    const HistoryReport own =
        read_history(backups, replaced, {&replaced.children[0].children[0].children[2]}, {&password}, false);
    EXPECT_EQ(values(own.lines[0]), "n1 500-600; n2 600-now; ");

    // A node that is not in the document has no history; neither has a plain name.
    TreeNode stranger("x", "y", true);
    const HistoryReport none = read_history(backups, current, {&stranger, &current.children[0]}, {&password}, false);
    EXPECT_TRUE(none.lines[0].values.empty());
    EXPECT_TRUE(none.lines[1].values.empty());
}

}  // namespace
