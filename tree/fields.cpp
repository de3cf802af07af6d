#include "tree/fields.h"

namespace {

struct Alias {
    const char* name;
    FieldKind kind;
};

constexpr Alias kAliases[] = {
    {"password", FieldKind::kPassword}, {"pass", FieldKind::kPassword},  {"user", FieldKind::kUserName},
    {"username", FieldKind::kUserName}, {"login", FieldKind::kUserName}, {"email", FieldKind::kUserName},
    {"url", FieldKind::kUrl},           {"website", FieldKind::kUrl},
};

char lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

bool names_equal_nocase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

FieldKind field_kind(std::string_view name)
{
    for (const Alias& alias : kAliases)
        if (names_equal_nocase(name, alias.name)) return alias.kind;
    return FieldKind::kOther;
}

bool is_masked_line(std::string_view name)
{
    return is_password_line(name) || names_equal_nocase(name, "pin");
}

const TreeNode* first_field(const TreeNode& entry, FieldKind kind)
{
    for (const TreeNode& child : entry.children)
        if (field_kind(child.name) == kind) return &child;
    return nullptr;
}

bool has_password_line(const TreeNode& node)
{
    return first_field(node, FieldKind::kPassword) != nullptr;
}
