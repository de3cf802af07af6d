#include "autotype/matching.h"

#include "autotype/text.h"
#include "tree/fields.h"

namespace autotype_text {

char32_t next_code_point(std::string_view text, std::size_t& i) noexcept
{
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned lead = byte(i);
    if (lead < 0x80) {
        ++i;
        return lead;
    }
    std::size_t length = 0;
    unsigned low = 0x80;
    unsigned high = 0xBF;
    char32_t value = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        value = lead & 0x0F;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        value = lead & 0x07;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        ++i;
        return 0xFFFD;
    }
    if (text.size() - i < length) {
        ++i;
        return 0xFFFD;
    }
    for (std::size_t k = 1; k < length; ++k) {
        const unsigned next = byte(i + k);
        if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF)) {
            ++i;
            return 0xFFFD;
        }
        value = (value << 6) | (next & 0x3F);
    }
    i += length;
    return value;
}

char32_t fold(char32_t c) noexcept
{
    if (c >= 'A' && c <= 'Z') return c + 0x20;
    if (c < 0xC0) return c;
    if (c <= 0xDE) return c == 0xD7 ? c : c + 0x20;  // Latin-1
    if (c >= 0x100 && c <= 0x17F) {  // Latin Extended-A: capital and small in pairs
        const bool capital_even = (c <= 0x137) || (c >= 0x14A && c <= 0x177);
        const bool capital_odd = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
        if (capital_even && c % 2 == 0) return c + 1;
        if (capital_odd && c % 2 == 1) return c + 1;
        if (c == 0x178) return 0xFF;
        return c;
    }
    if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return c + 0x20;  // Greek
    if (c >= 0x410 && c <= 0x42F) return c + 0x20;  // Cyrillic
    if (c >= 0x400 && c <= 0x40F) return c + 0x50;
    return c;
}

bool is_word_character(char32_t c) noexcept
{
    if (c < 0x80) return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (c <= 0xBF || c == 0xD7 || c == 0xF7) return false;
    struct Range {
        char32_t first;
        char32_t last;
    };
    static constexpr Range kSeparators[] = {
        {0x2000, 0x206F},  // general punctuation, dashes, spaces
        {0x20A0, 0x20CF},  // currency signs
        {0x2100, 0x2BFF},  // letter-like symbols (TM), number forms, arrows, mathematical and
        // technical signs, boxes, shapes, dingbats
        {0x2E00, 0x2E7F},  // supplemental punctuation
        {0x3000, 0x303F},  // CJK punctuation
        {0xFE00, 0xFE0F},  // variation selectors
        {0xFE30, 0xFE6F},  // CJK compatibility forms, small forms
        {0xFF00, 0xFF0F},  // full-width punctuation
        {0xFF1A, 0xFF20},
        {0xFF3B, 0xFF40},
        {0xFF5B, 0xFF65},
        {0xFFF0, 0xFFFF},  // specials, U+FFFD among them
        {0x1F000, 0x1FAFF},  // game pieces, enclosed characters, emoji, pictographs
    };
    for (const Range& range : kSeparators)
        if (c >= range.first && c <= range.last) return false;
    return true;
}

std::u32string folded(std::string_view text)
{
    std::u32string result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) result.push_back(fold(next_code_point(text, i)));
    return result;
}

std::string_view trimmed(std::string_view text) noexcept
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

}  // namespace autotype_text

using namespace autotype_text;

namespace {

// The classic matcher of one `*` at a time: on a mismatch, the last star takes one
// more character. Time at most the product of the lengths, no stack.
bool glob_matches(const std::u32string& pattern, const std::u32string& text)
{
    std::size_t p = 0;
    std::size_t t = 0;
    std::size_t star = std::u32string::npos;
    std::size_t star_text = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == U'*') {
            star = p++;
            star_text = t;
        } else if (p < pattern.size() && pattern[p] == text[t]) {
            ++p;
            ++t;
        } else if (star != std::u32string::npos) {
            p = star + 1;
            t = ++star_text;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == U'*') ++p;
    return p == pattern.size();
}

bool word_in(const std::u32string& word, const std::u32string& title)
{
    if (word.empty()) return false;
    for (std::size_t at = title.find(word); at != std::u32string::npos; at = title.find(word, at + 1)) {
        const bool free_before = at == 0 || !is_word_character(title[at - 1]);
        const std::size_t end = at + word.size();
        const bool free_after = end == title.size() || !is_word_character(title[end]);
        if (free_before && free_after) return true;
    }
    return false;
}

bool named(const TreeNode& node, const char* name)
{
    return names_equal_nocase(node.name, name);
}

// Calls visit(node, position, path) for every node below the root, in document
// order.
template <class Visit>
void walk(const Tree& root, Visit visit)
{
    std::vector<std::uint32_t> position;
    std::vector<std::size_t> path_lengths;  // [d]: of the path up to and with the open node at depth d
    SecretString path;
    for_each_below(root, [&](const TreeNode& child, std::size_t depth, std::size_t index) {
        position.resize(depth);
        path_lengths.resize(depth);
        path.truncate(depth == 0 ? 0 : path_lengths[depth - 1]);
        if (!path.empty()) path.append(" ", 1);
        path.append(child.name.data(), child.name.size());
        position.push_back(static_cast<std::uint32_t>(index));
        path_lengths.push_back(path.size());
        visit(child, position, path);
    });
}

AutoTypeRow row_of(const std::vector<std::uint32_t>& position, const SecretString& path, bool by_window)
{
    AutoTypeRow row;
    row.position = position;
    row.path.append(path.data(), path.size());
    row.by_window = by_window;
    return row;
}

}  // namespace

std::string_view capped_title(std::string_view title) noexcept
{
    std::size_t i = 0;
    for (std::size_t count = 0; count < kMaxTitleLength && i < title.size(); ++count) next_code_point(title, i);
    return title.substr(0, i);
}

bool window_pattern_matches(std::string_view pattern, std::string_view title)
{
    pattern = trimmed(pattern);
    if (pattern.empty()) return false;
    return glob_matches(folded(pattern), folded(capped_title(title)));
}

bool matches_every_title(std::string_view pattern) noexcept
{
    pattern = trimmed(pattern);
    return !pattern.empty() && pattern.find_first_not_of("* \t") == std::string_view::npos;
}

bool occurs_as_word(std::string_view word, std::string_view title)
{
    return word_in(folded(trimmed(word)), folded(capped_title(title)));
}

std::string url_host(std::string_view url)
{
    url = trimmed(url);
    const std::size_t scheme = url.find("://");
    if (scheme != std::string_view::npos) url.remove_prefix(scheme + 3);
    url = url.substr(0, url.find_first_of("/?#"));
    const std::size_t at = url.rfind('@');
    if (at != std::string_view::npos) url.remove_prefix(at + 1);
    if (!url.empty() && url.front() == '[') {
        url = url.substr(0, url.find(']') == std::string_view::npos ? url.size() : url.find(']') + 1);
    } else {
        url = url.substr(0, url.find(':'));
    }
    if (url.size() > 4 && names_equal_nocase(url.substr(0, 4), "www.")) url.remove_prefix(4);
    return std::string(url);
}

bool is_auto_type_candidate(const TreeNode& node)
{
    if (has_password_line(node)) return true;
    for (const TreeNode& child : node.children)
        if (named(child, kAutoTypeLineName)) return true;
    return false;
}

std::vector<AutoTypeRow> all_candidates(const Tree& root)
{
    std::vector<AutoTypeRow> rows;
    walk(root, [&](const TreeNode& node, const std::vector<std::uint32_t>& position, const SecretString& path) {
        if (is_auto_type_candidate(node)) rows.push_back(row_of(position, path, false));
    });
    return rows;
}

TitleMatches match_title(const Tree& root, std::string_view title)
{
    const std::u32string wanted = folded(capped_title(title));
    TitleMatches matches;
    std::vector<AutoTypeRow> by_name;
    walk(root, [&](const TreeNode& node, const std::vector<std::uint32_t>& position, const SecretString& path) {
        if (!is_auto_type_candidate(node)) return;
        bool has_pattern = false;
        bool pattern_matches = false;
        bool matches_all = false;
        for (const TreeNode& child : node.children) {
            if (!named(child, kWindowLineName)) continue;
            has_pattern = true;
            const std::string_view pattern = trimmed(child.content);
            if (matches_every_title(pattern))
                matches_all = true;
            else if (!pattern.empty() && glob_matches(folded(pattern), wanted))
                pattern_matches = true;
        }
        if (has_pattern) {
            // A pattern that matches every window only offers the entry in the picker.
            if (pattern_matches)
                matches.rows.push_back(row_of(position, path, true));
            else if (matches_all)
                by_name.push_back(row_of(position, path, false));
            return;
        }
        bool name_matches = word_in(folded(trimmed(node.name)), wanted);
        if (!name_matches) {
            if (const TreeNode* url = first_field(node, FieldKind::kUrl))
                name_matches = word_in(folded(url_host(url->content)), wanted);
        }
        if (name_matches) by_name.push_back(row_of(position, path, false));
    });
    matches.window_matches = matches.rows.size();
    for (AutoTypeRow& row : by_name) matches.rows.push_back(std::move(row));
    return matches;
}

const TreeNode* node_at(const Tree& root, const std::vector<std::uint32_t>& position, const SecretString& path)
{
    const TreeNode* node = &root;
    SecretString seen;
    for (const std::uint32_t index : position) {
        if (index >= node->children.size()) return nullptr;
        node = &node->children[index];
        if (!seen.empty()) seen.append(" ", 1);
        seen.append(node->name.data(), node->name.size());
    }
    return node != &root && seen.equals(path) ? node : nullptr;
}

bool path_starts_with(const std::string& path, const std::string& query)
{
    if (query.size() > path.size()) return false;
    for (std::size_t i = 0; i < query.size(); ++i)
        if ((static_cast<unsigned char>(path[i]) & 0xDF) != (static_cast<unsigned char>(query[i]) & 0xDF)) return false;
    return true;
}
