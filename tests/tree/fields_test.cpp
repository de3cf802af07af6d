// The one table of line names: which lines hold a password, a user name, an address.

#include <gtest/gtest.h>

#include "tree/fields.h"

TEST(Fields, NamesAreReadInAnyCaseAndOnlyWhole)
{
    const struct {
        const char* name;
        FieldKind kind;
        bool masked;
    } cases[] = {
        {"password", FieldKind::kPassword, true},  {"PASS", FieldKind::kPassword, true},
        {"Password", FieldKind::kPassword, true},  {"passwords", FieldKind::kOther, false},
        {"pass word", FieldKind::kOther, false},   {"user", FieldKind::kUserName, false},
        {"UserName", FieldKind::kUserName, false}, {"login", FieldKind::kUserName, false},
        {"eMail", FieldKind::kUserName, false},    {"url", FieldKind::kUrl, false},
        {"Website", FieldKind::kUrl, false},       {"pin", FieldKind::kOther, true},
        {"PIN", FieldKind::kOther, true},          {"", FieldKind::kOther, false},
        {"p\xC3\xA4ss", FieldKind::kOther, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.kind, field_kind(c.name)) << c.name;
        EXPECT_EQ(c.masked, is_masked_line(c.name)) << c.name;
    }
}

TEST(Fields, TheFirstLineOfAKindIsTheEntrysValue)
{
    const Tree root = parse_tree("Google\n\tnote: x\n\tEmail: a@b\n\tPass: p1\n\tpassword: p2\nMemo\n\tpin: 1234\n");
    const TreeNode& google = root.children[0];
    ASSERT_NE(nullptr, first_field(google, FieldKind::kPassword));
    EXPECT_EQ("p1", first_field(google, FieldKind::kPassword)->content);
    EXPECT_EQ("a@b", first_field(google, FieldKind::kUserName)->content);
    EXPECT_EQ(nullptr, first_field(google, FieldKind::kUrl));
    EXPECT_TRUE(has_password_line(google));
    EXPECT_FALSE(has_password_line(root.children[1]));
}
