#pragma once
// Which lines of an entry hold what. One definition for everything that reads an
// entry's user name, password or address (the CSV export, the backups' history,
// the password report, auto-type) and for what windows show masked. Names are
// compared in any case (ASCII letters only; other bytes must be equal).

#include <string_view>

#include "tree/tree.h"

enum class FieldKind {
    kPassword,  // password, pass
    kUserName,  // user, username, login, email
    kUrl,  // url, website
    kOther,
};

// The kind of a line by its name.
FieldKind field_kind(std::string_view name);

inline bool is_password_line(std::string_view name)
{
    return field_kind(name) == FieldKind::kPassword;
}

// Lines whose values windows show as dots: the password lines and "pin".
bool is_masked_line(std::string_view name);

// The first child of `entry` of that kind, or null. Any child counts, single-line
// or not; the caller decides what a multi-line value means to it.
const TreeNode* first_field(const TreeNode& entry, FieldKind kind);

// True when `node` has a password line among its children.
bool has_password_line(const TreeNode& node);

// ASCII case-insensitive equality of two names.
bool names_equal_nocase(std::string_view a, std::string_view b);
