// The report over a small vault: groups of shared passwords by path, weak ones with
// their level, breached ones with their count, entries left out by `audit: ignore`,
// and paths that name more than one entry told apart by their user names.

#include "audit/report.h"

#include "tests/support/files.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const char kVault[] = "Email\r\n"
                      "\tgoogle\r\n"
                      "\t\tuser: ann@example.com\r\n"
                      "\t\tpassword: Password1!\r\n"
                      "\tfastmail\r\n"
                      "\t\tuser: ann\r\n"
                      "\t\tpass: kX9!vQ2-mL7?pR4=\r\n"
                      "Shop\r\n"
                      "\tuser: ann\r\n"
                      "\tpassword: kX9!vQ2-mL7?pR4=\r\n"
                      "Bank\r\n"
                      "\tuser: alice\r\n"
                      "\tpassword: Gq7.Lw2+Rt9_Vb\r\n"
                      "bank\r\n"
                      "\tuser: bob\r\n"
                      "\tPASSWORD: Gq7.Lw2+Rt9_Vb\r\n"
                      "Old router\r\n"
                      "\tpassword: Password1!\r\n"
                      "\taudit: Ignore\r\n"
                      "\tNested\r\n"
                      "\t\tpassword: qwertyuiop\r\n"
                      "Notes\r\n"
                      "\tpassword\r\n"
                      "\t\tmulti-line values are not checked\r\n"
                      "\tpin: 1234\r\n";

std::vector<std::string> labels(const AuditReport& report, const std::vector<std::size_t>& entries)
{
    std::vector<std::string> out;
    for (std::size_t e : entries) out.push_back(audit_entry_label(report.entries[e]));
    return out;
}

}  // namespace

TEST(AuditReport, SectionsOfAVault)
{
    const Tree root = parse_tree(kVault);
    AuditReport report;
    std::string error;
    ASSERT_EQ(build_audit_report(root, root, nullptr, report, error), BreachStatus::kOk);

    std::vector<std::string> checked;
    for (const AuditEntry& e : report.entries) checked.push_back(e.path);
    // "Old router" is left out; the entry below it is not; Notes has no value to check
    // but is an entry.
    EXPECT_EQ(checked,
              (std::vector<std::string>{"Email google", "Email fastmail", "Shop", "Bank", "bank", "Old router Nested",
                                        "Notes"}));

    ASSERT_EQ(report.reused.size(), 2u);
    EXPECT_EQ(labels(report, report.reused[0]), (std::vector<std::string>{"Email fastmail", "Shop"}));
    // "Bank" and "bank" are one path for the filter box: the user names tell them apart.
    EXPECT_EQ(labels(report, report.reused[1]), (std::vector<std::string>{"Bank (alice)", "bank (bob)"}));

    std::vector<std::string> weak;
    for (const auto& row : report.weak)
        weak.push_back(audit_entry_label(report.entries[row.entry]) + ": " + strength_level_text(row.level));
    EXPECT_EQ(weak, (std::vector<std::string>{"Email google: very weak", "Old router Nested: very weak"}));
    EXPECT_TRUE(report.breached.empty());

    EXPECT_EQ(format_audit_report(report),
              "Reused\n"
              "  1  Email fastmail\n"
              "  1  Shop\n"
              "  2  Bank (alice)\n"
              "  2  bank (bob)\n"
              "Weak\n"
              "  Email google: very weak\n"
              "  Old router Nested: very weak\n"
              "7 entries checked: 4 reused in 2 groups, 0 breached, 2 weak, 0 old.\n");
    // The rows know their entries (Enter in the editor's window shows it); headings
    // and the summary name none.
    const std::vector<AuditLine> lines = audit_lines(report);
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_EQ(lines[0].entry, AuditLine::kNoAuditEntry);
    EXPECT_EQ(report.entries[lines[1].entry].path, "Email fastmail");
    EXPECT_EQ(report.entries[lines[4].entry].user, "bob");
    EXPECT_EQ(lines[5].entry, AuditLine::kNoAuditEntry);
    EXPECT_EQ(report.entries[lines[7].entry].path, "Old router Nested");
    EXPECT_EQ(lines[8].entry, AuditLine::kNoAuditEntry);
    // Never a value.
    const std::string text = format_audit_report(report);
    for (const char* value : {"Password1!", "kX9!", "Gq7", "qwerty"}) EXPECT_EQ(text.find(value), std::string::npos);
}

TEST(AuditReport, UnderAPathAndWithBreaches)
{
    TempDir dir;
    write_file(dir.file("pwned.txt"),
               // SHA-1 of "Password1!" and "qwertyuiop", in ascending order.
               "32CA9FC1A0F5B6330E3F4C8C1BBECDE9BEDB9573:116617\r\n"
               "B0399D2029F64D445BD131FFAA399A42D2F8E7DC:422785\r\n");
    BreachCorpus corpus;
    std::string error;
    ASSERT_EQ(corpus.open(dir.file("pwned.txt"), error), BreachStatus::kOk) << error;

    const Tree root = parse_tree(kVault);
    AuditReport report;
    ASSERT_EQ(build_audit_report(root, root, &corpus, report, error), BreachStatus::kOk) << error;
    std::vector<std::string> breached;
    for (const auto& row : report.breached)
        breached.push_back(audit_entry_label(report.entries[row.entry]) + ": " + std::to_string(row.count));
    EXPECT_EQ(breached, (std::vector<std::string>{"Email google: 116617", "Old router Nested: 422785"}));
    EXPECT_NE(format_audit_report(report).find("Breached\n  Email google: 116,617 times\n"), std::string::npos);

    // Under "Email": its two entries only, named by their full paths.
    ASSERT_EQ(build_audit_report(root, *root.find("email"), &corpus, report, error), BreachStatus::kOk);
    ASSERT_EQ(report.entries.size(), 2u);
    EXPECT_EQ(report.entries[1].path, "Email fastmail");
    EXPECT_TRUE(report.reused.empty());
    ASSERT_EQ(report.breached.size(), 1u);
    // An entry on its own.
    ASSERT_EQ(build_audit_report(root, *root.find("Shop"), nullptr, report, error), BreachStatus::kOk);
    ASSERT_EQ(report.entries.size(), 1u);
    EXPECT_EQ(format_audit_report(report), "1 entry checked: 0 reused in 0 groups, 0 breached, 0 weak, 0 old.\n");
}

// Two entries of one path without a user line are told apart by their line numbers;
// with a user line, by the user name.
TEST(AuditReport, SharedPathsWithoutAUserNamedByLine)
{
    const Tree root = parse_tree("Router\r\n\tpassword: admin\r\n"
                                 "Notes\r\n\tsome\r\n\t\tlines\r\n"
                                 "router\r\n\tpassword: admin\r\n"
                                 "Bank\r\n\tuser: ann\r\n\tpassword: 123456\r\n"
                                 "Bank\r\n\tpassword: 123456\r\n");
    AuditReport report;
    std::string error;
    ASSERT_EQ(build_audit_report(root, root, nullptr, report, error), BreachStatus::kOk);
    ASSERT_EQ(report.entries.size(), 4u);
    std::vector<std::string> labels;
    for (const AuditEntry& entry : report.entries) labels.push_back(audit_entry_label(entry));
    EXPECT_EQ(labels, (std::vector<std::string>{"Router (line 1)", "router (line 6)", "Bank (ann)", "Bank (line 11)"}));
    EXPECT_EQ(format_audit_report(report),
              "Reused\n"
              "  1  Router (line 1)\n"
              "  1  router (line 6)\n"
              "  2  Bank (ann)\n"
              "  2  Bank (line 11)\n"
              "Weak\n"
              "  Router (line 1): very weak\n"
              "  router (line 6): very weak\n"
              "  Bank (ann): very weak\n"
              "  Bank (line 11): very weak\n"
              "4 entries checked: 4 reused in 2 groups, 0 breached, 4 weak, 0 old.\n");

    // A report of one of them still names it apart from the others, by the same label.
    const struct {
        std::size_t line;  // of the entry the report is asked for
        const char* label;
    } alone[] = {{1, "Router (line 1)"}, {6, "router (line 6)"}, {8, "Bank (ann)"}, {11, "Bank (line 11)"}};
    std::size_t line = 0;
    for_each_below(root, [&](const TreeNode& node, std::size_t, std::size_t) {
        ++line;
        for (const auto& a : alone)
            if (a.line == line) {
                ASSERT_EQ(build_audit_report(root, node, nullptr, report, error), BreachStatus::kOk);
                ASSERT_EQ(report.entries.size(), 1u) << a.label;
                EXPECT_EQ(audit_entry_label(report.entries[0]), a.label);
            }
    });
    // A lone entry keeps its bare path.
    const Tree lone = parse_tree("Bank\r\n\tpassword: 1\r\nShop\r\n\tpassword: 2\r\n");
    ASSERT_EQ(build_audit_report(lone, lone.children[0], nullptr, report, error), BreachStatus::kOk);
    ASSERT_EQ(report.entries.size(), 1u);
    EXPECT_EQ(audit_entry_label(report.entries[0]), "Bank");
}
