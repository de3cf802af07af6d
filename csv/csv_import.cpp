// From a CSV export to entries of the vault's text: the header tells the layout, each
// row becomes an entry under its group path, and the new lines are inserted into the
// vault's text without changing a byte of it.

#include "csv/csv.h"

#include <algorithm>
#include <cstdint>
#include <deque>
#include <limits>
#include <unordered_map>
#include <utility>

namespace {

// What a row holds, in the importer's own terms.
enum Column { kGroup, kTitle, kUser, kPassword, kUrl, kNotes, kOtp, kType, kFields, kColumnCount };

constexpr std::size_t kNoColumn = std::numeric_limits<std::size_t>::max();

struct KnownLayout {
    CsvLayout layout;
    const char* name;
    // The header names (lower case) of each Column; null when the layout has none.
    const char* columns[kColumnCount];
    // Header names that must all be there for the layout to be recognised.
    const char* required[8];
    char group_separator;
};

// Tried in this order: a layout whose columns include another's comes first.
constexpr KnownLayout kLayouts[] = {
    {CsvLayout::kGlimkeep,
     "Glimkeep",
     {"group", "title", "username", "password", "url", "notes", "otp", nullptr, nullptr},
     {"group", "title", "username", "password", "url", "notes", "otp", nullptr},
     '/'},
    {CsvLayout::kKeePassXC,
     "KeePassXC",
     {"group", "title", "username", "password", "url", "notes", "totp", nullptr, nullptr},
     {"group", "title", "username", "password", "url", "notes", nullptr, nullptr},
     '/'},
    {CsvLayout::kBitwarden,
     "Bitwarden",
     {"folder", "name", "login_username", "login_password", "login_uri", "notes", "login_totp", "type", "fields"},
     {"folder", "type", "name", "login_uri", "login_username", "login_password", nullptr, nullptr},
     '/'},
    {CsvLayout::kLastPass,
     "LastPass",
     {"grouping", "name", "username", "password", "url", "extra", "totp", nullptr, nullptr},
     {"url", "username", "password", "extra", "name", "grouping", nullptr, nullptr},
     '\\'},
    {CsvLayout::kOnePassword,
     "1Password",
     {nullptr, "title", "username", "password", "url", "notes", "otpauth", nullptr, nullptr},
     {"title", "url", "username", "password", nullptr, nullptr, nullptr, nullptr},
     0},
    {CsvLayout::kKeePass2,
     "KeePass 2",
     {nullptr, "account", "login name", "password", "web site", "comments", nullptr, nullptr, nullptr},
     {"account", "login name", "password", "web site", "comments", nullptr, nullptr, nullptr},
     0},
    {CsvLayout::kChromium,
     "Chromium",
     {nullptr, "name", "username", "password", "url", "note", nullptr, nullptr, nullptr},
     {"name", "url", "username", "password", nullptr, nullptr, nullptr, nullptr},
     0},
    {CsvLayout::kFirefox,
     "Firefox",
     {nullptr, nullptr, "username", "password", "url", nullptr, nullptr, nullptr, nullptr},
     {"url", "username", "password", "httprealm", nullptr, nullptr, nullptr, nullptr},
     0},
};

constexpr char kLineEnd[] = "\r\n";
constexpr char kNoTitle[] = "(no title)";

bool is_space(char c)
{
    return c == ' ' || c == '\t';
}

// A header name as compared: without surrounding spaces, ASCII letters in lower case.
std::string header_key(std::string_view name)
{
    while (!name.empty() && is_space(name.front())) name.remove_prefix(1);
    while (!name.empty() && is_space(name.back())) name.remove_suffix(1);
    std::string key(name);
    for (char& c : key)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return key;
}

bool equals_nocase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i];
        char y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

// A layout and where its columns are in this file.
struct Bound {
    const KnownLayout* known = nullptr;
    std::size_t index[kColumnCount];
};

bool recognise(const CsvTable& table, std::size_t header, Bound& bound)
{
    std::unordered_map<std::string, std::size_t> found;
    for (std::size_t i = 0; i < table.fields(header); ++i) found.emplace(header_key(table.field(header, i)), i);
    for (const KnownLayout& known : kLayouts) {
        bool all = true;
        for (const char* name : known.required)
            if (name && !found.count(name)) all = false;
        if (!all) continue;
        bound.known = &known;
        for (int c = 0; c < kColumnCount; ++c) {
            const auto it = known.columns[c] ? found.find(known.columns[c]) : found.end();
            bound.index[c] = it == found.end() ? kNoColumn : it->second;
        }
        return true;
    }
    return false;
}

// "line 1: ... the columns found: a, b, c", at most about 200 bytes of names.
std::string unknown_header_text(const CsvTable& table, std::size_t header)
{
    std::string names;
    for (std::size_t i = 0; i < table.fields(header); ++i) {
        if (i) names += ", ";
        names += csv_name(table.field(header, i));
        if (names.size() > 200) {
            std::size_t cut = 200;
            while (cut > 0 && (static_cast<unsigned char>(names[cut]) & 0xC0) == 0x80) --cut;
            names.resize(cut);
            names += "...";
            break;
        }
    }
    return "line " + std::to_string(table.line(header)) +
        ": the header is of no known layout (columns found: " + names + ")";
}

// One row in the importer's terms; the views point into the table.
struct Row {
    std::string_view value[kColumnCount];
    bool secure_note = false;
};

Row read_row(const CsvTable& table, std::size_t record, const Bound& bound)
{
    Row row;
    for (int c = 0; c < kColumnCount; ++c)
        if (bound.index[c] != kNoColumn) row.value[c] = table.field(record, bound.index[c]);
    const CsvLayout layout = bound.known->layout;
    if (layout == CsvLayout::kLastPass && equals_nocase(row.value[kUrl], "http://sn")) row.secure_note = true;
    if (layout == CsvLayout::kBitwarden && equals_nocase(row.value[kType], "note")) row.secure_note = true;
    if (row.secure_note) row.value[kUser] = row.value[kPassword] = row.value[kUrl] = row.value[kOtp] = {};
    return row;
}

bool blank_record(const CsvTable& table, std::size_t record)
{
    for (std::size_t i = 0; i < table.fields(record); ++i)
        if (!table.field(record, i).empty()) return false;
    return true;
}

// The group path of a row as names, outermost first.
std::vector<std::string> group_path(const Row& row, const KnownLayout& known)
{
    std::vector<std::string> path;
    std::string_view group = row.value[kGroup];
    if (known.layout == CsvLayout::kLastPass && group == "(none)") return path;
    bool first = true;
    while (!group.empty() || first) {
        const std::size_t cut = group.find(known.group_separator);
        const std::string_view segment = group.substr(0, cut);
        // KeePassXC writes the database's root group first, whatever it is called.
        if (!(first && known.layout == CsvLayout::kKeePassXC)) {
            std::string name = csv_name(segment);
            if (!name.empty()) path.push_back(std::move(name));
        }
        first = false;
        if (cut == std::string_view::npos) break;
        group.remove_prefix(cut + 1);
    }
    return path;
}

// The row's URLs: Bitwarden joins several with commas.
std::vector<std::string_view> row_urls(const Row& row, const KnownLayout& known)
{
    std::vector<std::string_view> urls;
    std::string_view rest = row.value[kUrl];
    if (known.layout != CsvLayout::kBitwarden) {
        if (!rest.empty()) urls.push_back(rest);
        return urls;
    }
    while (!rest.empty()) {
        const std::size_t cut = rest.find(',');
        std::string_view url = rest.substr(0, cut);
        while (!url.empty() && is_space(url.front())) url.remove_prefix(1);
        while (!url.empty() && is_space(url.back())) url.remove_suffix(1);
        if (!url.empty()) urls.push_back(url);
        if (cut == std::string_view::npos) break;
        rest.remove_prefix(cut + 1);
    }
    return urls;
}

std::string entry_name(const Row& row, const KnownLayout& known)
{
    std::string name = csv_name(row.value[kTitle]);
    if (name.empty()) {
        const std::vector<std::string_view> urls = row_urls(row, known);
        if (!urls.empty()) name = csv_name(url_host(urls.front()));
    }
    if (name.empty()) name = kNoTitle;
    return name;
}

// The lines of a value, split as the tree splits its text: at LF, a CR right before
// it belonging to the line end; a line end at the very end opens no further line.
std::vector<std::string_view> value_lines(std::string_view value)
{
    std::vector<std::string_view> lines;
    while (!value.empty()) {
        const std::size_t lf = value.find('\n');
        std::string_view line = value.substr(0, lf);
        if (lf != std::string_view::npos && !line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        if (lf == std::string_view::npos) break;
        value.remove_prefix(lf + 1);
    }
    return lines;
}

void append(SecretString& out, std::string_view text)
{
    out.append(text.data(), text.size());
}

void append_tabs(SecretString& out, std::size_t count)
{
    static const char tabs[16] = {'\t', '\t', '\t', '\t', '\t', '\t', '\t', '\t',
                                  '\t', '\t', '\t', '\t', '\t', '\t', '\t', '\t'};
    while (count > 0) {
        const std::size_t n = std::min<std::size_t>(count, sizeof tabs);
        out.append(tabs, n);
        count -= n;
    }
}

// `name: value` on one line, or, for a value of several lines, `name` with one line
// under it for each of them. Nothing for an empty value.
void append_value(SecretString& out, std::size_t depth, std::string_view name, std::string_view value)
{
    if (value.empty()) return;
    append_tabs(out, depth);
    append(out, name);
    if (value.find('\n') == std::string_view::npos) {
        append(out, ": ");
        append(out, value);
        append(out, kLineEnd);
        return;
    }
    const std::vector<std::string_view> lines = value_lines(value);
    if (lines.size() == 1) {
        append(out, ": ");
        append(out, lines[0]);
        append(out, kLineEnd);
        return;
    }
    append(out, kLineEnd);
    for (std::string_view line : lines) {
        append_tabs(out, depth + 1);
        append(out, line);
        append(out, kLineEnd);
    }
}

// The children of a row's entry, one level under it.
void append_row_lines(SecretString& out, std::size_t depth, const Row& row, const KnownLayout& known)
{
    append_value(out, depth, "user", row.value[kUser]);
    append_value(out, depth, "password", row.value[kPassword]);
    for (std::string_view url : row_urls(row, known)) append_value(out, depth, "url", url);
    append_value(out, depth, "otp", row.value[kOtp]);
    append_value(out, depth, "notes", row.value[kNotes]);
    // Bitwarden's custom fields, already "name: value" lines.
    for (std::string_view line : value_lines(row.value[kFields])) {
        while (!line.empty() && line.front() == '\t') line.remove_prefix(1);
        if (line.empty()) continue;
        append_tabs(out, depth);
        append(out, line);
        append(out, kLineEnd);
    }
}

// The vault's text as lines, read once as the tree reads it.
struct VaultLine {
    std::size_t start;  // first byte of the line
    std::string_view name;
    std::uint32_t level;
    std::size_t subtree_end;  // index of the first line after its subtree
};

std::vector<VaultLine> index_lines(std::string_view text)
{
    std::vector<VaultLine> lines;
    std::vector<std::size_t> open;  // lines whose subtree is still being read
    std::size_t pos = 0;
    std::int64_t previous = -1;
    while (pos < text.size()) {
        const std::size_t start = pos;
        std::size_t lf = text.find('\n', pos);
        if (lf == std::string_view::npos) lf = text.size();
        std::size_t line_end = lf;
        if (lf < text.size() && line_end > start && text[line_end - 1] == '\r') --line_end;
        std::uint32_t tabs = 0;
        while (start + tabs < line_end && text[start + tabs] == '\t' && static_cast<std::int64_t>(tabs) < previous + 1)
            ++tabs;
        const std::size_t name_start = start + tabs;
        std::string_view rest = text.substr(name_start, line_end - name_start);
        const std::size_t colon = rest.find(": ");
        while (!open.empty() && lines[open.back()].level >= tabs) {
            lines[open.back()].subtree_end = lines.size();
            open.pop_back();
        }
        open.push_back(lines.size());
        lines.push_back({start, rest.substr(0, colon), tabs, 0});
        previous = tabs;
        pos = lf < text.size() ? lf + 1 : lf;
    }
    for (std::size_t i : open) lines[i].subtree_end = lines.size();
    return lines;
}

// A place in the merged document that rows can go under: the root, an entry of the
// vault, or an entry this import makes.
struct Place {
    static constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
    std::size_t line = kNone;  // the vault's line, for an entry of the vault
    std::size_t child_level = 0;  // the level of its children
    SecretString name;  // for a new entry
    std::size_t record = kNone;  // for a row's entry: its record
    bool indexed = false;  // children_by_name holds the vault's children
    std::unordered_map<std::string_view, std::size_t> children_by_name;  // first of each name
    std::vector<std::size_t> new_children;
};

class Merge {
public:
    Merge(std::string_view vault_text, const CsvTable& table, const Bound& bound)
        : text_(vault_text), table_(table), bound_(bound), lines_(index_lines(vault_text))
    {
        places_.emplace_back();  // the root
        places_[0].child_level = 0;
    }

    // Adds the row of `record` under its group path.
    bool add_row(std::size_t record, std::string& error)
    {
        const Row row = read_row(table_, record, bound_);
        const std::vector<std::string> path = group_path(row, *bound_.known);
        if (path.size() > kMaxCsvGroupDepth) {
            error = "line " + std::to_string(table_.line(record)) + ": the group path is deeper than " +
                std::to_string(kMaxCsvGroupDepth) + " levels";
            return false;
        }
        std::size_t place = 0;
        for (const std::string& name : path) place = child_named(place, name);
        const std::size_t entry = add_new(place, entry_name(row, *bound_.known));
        places_[entry].record = record;
        return true;
    }

    void write(SecretString& out)
    {
        // Where the new children of the vault's entries go, inner ones first where
        // two subtrees end at the same byte.
        struct Insertion {
            std::size_t offset;
            std::size_t level;
            std::size_t place;
        };
        std::vector<Insertion> insertions;
        for (std::size_t i = 0; i < places_.size(); ++i) {
            const Place& p = places_[i];
            if (p.new_children.empty()) continue;
            if (i == 0) {
                insertions.push_back({text_.size(), 0, i});
            } else if (p.line != Place::kNone) {
                const std::size_t end_line = lines_[p.line].subtree_end;
                insertions.push_back(
                    {end_line < lines_.size() ? lines_[end_line].start : text_.size(), p.child_level, i});
            }
        }
        std::sort(insertions.begin(), insertions.end(), [](const Insertion& a, const Insertion& b) {
            return a.offset != b.offset ? a.offset < b.offset : a.level > b.level;
        });
        std::size_t copied = 0;
        bool end_terminated = false;
        for (const Insertion& insertion : insertions) {
            append(out, text_.substr(copied, insertion.offset - copied));
            copied = insertion.offset;
            if (copied == text_.size() && !end_terminated) {
                // A vault whose last line has no line end gets one before new lines.
                if (!text_.empty() && text_.back() != '\n') append(out, kLineEnd);
                end_terminated = true;
            }
            write_children(out, insertion.place);
        }
        append(out, text_.substr(copied));
    }

private:
    // The first child of `parent` named `name`, made when there is none.
    std::size_t child_named(std::size_t parent, const std::string& name)
    {
        index_children(parent);
        const auto it = places_[parent].children_by_name.find(name);
        if (it != places_[parent].children_by_name.end()) return it->second;
        return add_new(parent, name);
    }

    std::size_t add_new(std::size_t parent, const std::string& name)
    {
        index_children(parent);
        const std::size_t index = places_.size();
        places_.emplace_back();
        Place& place = places_.back();
        place.name.append(name.data(), name.size());
        place.child_level = places_[parent].child_level + 1;
        place.indexed = true;
        places_[parent].new_children.push_back(index);
        places_[parent].children_by_name.emplace(std::string_view(place.name.data(), place.name.size()), index);
        return index;
    }

    // Enters the vault's children of a place into its map (once).
    void index_children(std::size_t parent)
    {
        if (places_[parent].indexed) return;
        places_[parent].indexed = true;
        std::size_t child = parent == 0 ? 0 : places_[parent].line + 1;
        const std::size_t end = parent == 0 ? lines_.size() : lines_[places_[parent].line].subtree_end;
        while (child < end) {
            if (!places_[parent].children_by_name.count(lines_[child].name)) {
                const std::size_t index = places_.size();
                places_.emplace_back();
                places_.back().line = child;
                places_.back().child_level = lines_[child].level + 1;
                places_[parent].children_by_name.emplace(lines_[child].name, index);
            }
            child = lines_[child].subtree_end;
        }
    }

    // The new children of a place, each with its lines and its own new children,
    // depth first; an explicit stack, however deep the groups go.
    void write_children(SecretString& out, std::size_t parent)
    {
        std::vector<std::pair<std::size_t, std::size_t>> stack{{parent, 0}};
        while (!stack.empty()) {
            auto& [place, next] = stack.back();
            if (next == places_[place].new_children.size()) {
                stack.pop_back();
                continue;
            }
            const std::size_t child = places_[place].new_children[next++];
            const Place& p = places_[child];
            append_tabs(out, p.child_level - 1);
            append(out, p.name.str());
            append(out, kLineEnd);
            if (p.record != Place::kNone)
                append_row_lines(out, p.child_level, read_row(table_, p.record, bound_), *bound_.known);
            stack.push_back({child, 0});
        }
    }

    std::string_view text_;
    const CsvTable& table_;
    const Bound& bound_;
    std::vector<VaultLine> lines_;
    std::deque<Place> places_;  // addresses stay: the maps' keys point into names
};

}  // namespace

const char* csv_layout_name(CsvLayout layout) noexcept
{
    for (const KnownLayout& known : kLayouts)
        if (known.layout == layout) return known.name;
    return "";
}

std::string csv_name(std::string_view text)
{
    std::string name;
    name.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            name += ' ';
        } else {
            name += c;
        }
    }
    std::size_t tabs = 0;
    while (tabs < name.size() && name[tabs] == '\t') ++tabs;
    name.erase(0, tabs);
    std::string out;
    out.reserve(name.size());
    for (std::size_t i = 0; i < name.size(); ++i) {
        out += name[i];
        if (name[i] == ':')
            while (i + 1 < name.size() && name[i + 1] == ' ') ++i;
    }
    secure_wipe(&name[0], name.size());
    return out;
}

std::string_view url_host(std::string_view url) noexcept
{
    while (!url.empty() && is_space(url.front())) url.remove_prefix(1);
    const std::size_t scheme = url.find("://");
    if (scheme != std::string_view::npos) url.remove_prefix(scheme + 3);
    url = url.substr(0, url.find_first_of("/?#"));
    const std::size_t at = url.rfind('@');
    if (at != std::string_view::npos) url.remove_prefix(at + 1);
    if (!url.empty() && url.front() == '[') return url.substr(0, url.find(']') + 1);
    return url.substr(0, url.find(':'));
}

bool import_csv(std::string_view vault_text, std::string_view csv, CsvImport& result)
{
    result.text.clear();
    result.rows = 0;
    result.error.clear();
    CsvTable table;
    std::size_t error_line = 0;
    if (!table.read(csv, error_line)) {
        result.error = "line " + std::to_string(error_line) + ": a quoted field is not closed";
        return false;
    }
    std::size_t header = 0;
    while (header < table.records() && blank_record(table, header)) ++header;
    if (header == table.records()) {
        result.error = "line 1: no header row";
        return false;
    }
    Bound bound;
    if (!recognise(table, header, bound)) {
        result.error = unknown_header_text(table, header);
        return false;
    }
    result.layout = bound.known->layout;
    Merge merge(vault_text, table, bound);
    for (std::size_t record = header + 1; record < table.records(); ++record) {
        if (blank_record(table, record)) continue;
        if (!merge.add_row(record, result.error)) return false;
        ++result.rows;
    }
    merge.write(result.text);
    return true;
}
