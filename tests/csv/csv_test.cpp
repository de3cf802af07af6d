// The CSV reader case by case, one small realistic export of every layout read
// through the tree, the merge into a vault's text that keeps its bytes, the export
// and its round trip, and the refusals.

#include "csv/csv.h"
#include "tests/support/files.h"
#include "tree/tree.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

using namespace std::string_literals;

namespace {

using Records = std::vector<std::vector<std::string>>;

Records read_records(const std::string& text)
{
    CsvTable table;
    std::size_t line = 0;
    EXPECT_TRUE(table.read(text, line)) << escaped(text);
    Records records;
    for (std::size_t r = 0; r < table.records(); ++r) {
        records.emplace_back();
        for (std::size_t f = 0; f < table.fields(r); ++f) records.back().emplace_back(table.field(r, f));
    }
    return records;
}

std::string import_text(const std::string& vault, const std::string& csv, std::size_t* rows = nullptr)
{
    CsvImport result;
    EXPECT_TRUE(import_csv(vault, csv, result)) << result.error;
    if (rows) *rows = result.rows;
    return result.text.str();
}

std::string shown(const Tree& tree, const std::string& path)
{
    const TreeNode* node = tree.find(path);
    return node ? shown_text(*node, "\n") : "<nothing named '" + path + "'>";
}

}  // namespace

TEST(CsvRead, Records)
{
    const struct {
        const char* what;
        std::string text;
        Records expected;
    } table[] = {
        {"empty text", "", {}},
        {"CR LF, LF and no line end at the end", "a,b\r\nc,d\ne,f", {{"a", "b"}, {"c", "d"}, {"e", "f"}}},
        {"a lone CR ends a record", "a\rb\r\n", {{"a"}, {"b"}}},
        {"byte-order mark skipped", "\xEF\xBB\xBFname,url\n", {{"name", "url"}}},
        {"quoted commas, doubled quotes", "\"a,b\",\"say \"\"hi\"\"\",\"\"\n", {{"a,b", "say \"hi\"", ""}}},
        {"line breaks inside quotes kept as they are",
         "\"one\r\ntwo\nthree\",x\r\ny\n",
         {{"one\r\ntwo\nthree", "x"}, {"y"}}},
        {"empty fields and an empty line", "a,,\n\n,b\n", {{"a", "", ""}, {""}, {"", "b"}}},
        {"a quote inside an unquoted field is a byte", "ab\"c,d\n", {{"ab\"c", "d"}}},
        {"text after a closing quote stays in the field", "\"ab\"cd,e\n", {{"abcd", "e"}}},
        {"a comma at the end gives an empty last field", "a,\n", {{"a", ""}}},
        {"non-ASCII bytes untouched", "Z\xC3\xBCrich,\xE4\xBE\x8B\n", {{"Z\xC3\xBCrich", "\xE4\xBE\x8B"}}},
    };
    for (const auto& row : table) EXPECT_EQ(row.expected, read_records(row.text)) << row.what;
}

TEST(CsvRead, AnOpenQuoteIsRefusedNamingItsLine)
{
    const struct {
        std::string text;
        std::size_t line;
    } table[] = {
        {"\"", 1},
        {"a,b\r\nc,\"d\r\ne\r\n", 2},
        {"a\n\"x\ny\"\nz,\"w\"\"\n", 4},
    };
    for (const auto& row : table) {
        CsvTable csv;
        std::size_t line = 0;
        EXPECT_FALSE(csv.read(row.text, line)) << escaped(row.text);
        EXPECT_EQ(row.line, line) << escaped(row.text);
        EXPECT_EQ(0u, csv.records());
    }
}

TEST(CsvNames, TitlesAndHosts)
{
    const std::pair<std::string, std::string> names[] = {
        {"Bank: savings", "Bank:savings"},
        {"a:  b: c", "a:b:c"},
        {"\t\tIndented", "Indented"},
        {"two\r\nlines\nthree", "two lines three"},
        {"x:\ny", "x:y"},
        {"10:30 a:b", "10:30 a:b"},
        {"mid\ttab", "mid\ttab"},
    };
    for (const auto& [title, name] : names) EXPECT_EQ(name, csv_name(title)) << escaped(title);
    const std::pair<std::string, std::string> hosts[] = {
        {"https://login.example.com/path?q=1", "login.example.com"},
        {"https://user:pw@shop.example:8443/", "shop.example"},
        {"example.org/login", "example.org"},
        {"http://[::1]:8080/x", "[::1]"},
        {"  ftp://files.example.net#top", "files.example.net"},
        {"", ""},
    };
    for (const auto& [url, host] : hosts) EXPECT_EQ(host, url_host(url)) << url;
}

// One small export of each layout as the program writes it (non-ASCII titles,
// groups, empty fields, several lines in a note), checked through the tree.
TEST(CsvImport, EveryLayout)
{
    const struct {
        CsvLayout layout;
        std::string csv;
        std::size_t rows;
        std::vector<std::pair<std::string, std::string>> shown;  // path, what it shows
    } table[] = {
        {CsvLayout::kChromium,
         "name,url,username,password,note\r\n"
         "login.example.com,https://login.example.com/signin,alice@example.com,Tr0ub4dor&3,\r\n"
         "Caf\xC3\xA9 Z\xC3\xBCrich,https://caf\xC3\xA9.example/,,s3cr\xC3\xA9t,\"Table 7\r\nask for J\xC3\xBCrg\"\r\n"
         ",https://shop.example:8443/cart?x=1,bob,hunter2,\r\n",
         3,
         {{"login.example.com",
           "user: alice@example.com\npassword: Tr0ub4dor&3\n"
           "url: https://login.example.com/signin\n"},
          {"Caf\xC3\xA9 Z\xC3\xBCrich notes", "Table 7\nask for J\xC3\xBCrg\n"},
          {"Caf\xC3\xA9 Z\xC3\xBCrich user", "<nothing named 'Caf\xC3\xA9 Z\xC3\xBCrich user'>"},
          {"shop.example password", "hunter2"}}},
        {CsvLayout::kChromium,  // before late 2023: no note column
         "name,url,username,password\nexample.org,https://example.org,u,p\n",
         1,
         {{"example.org", "user: u\npassword: p\nurl: https://example.org\n"}}},
        {CsvLayout::kFirefox,
         "\"url\",\"username\",\"password\",\"httpRealm\",\"formActionOrigin\",\"guid\",\"timeCreated\","
         "\"timeLastUsed\",\"timePasswordChanged\"\r\n"
         "\"https://accounts.example.org\",\"carol\",\"pa\"\"ss\",\"\",\"https://accounts.example.org\",\"{0a1b}\","
         "\"1700000000000\",\"1700000000000\",\"1700000000000\"\r\n"
         "\"https://www.\xE4\xBE\x8B\xE3\x81\x88.jp\",\"\xE5\xA4\xAA\xE9\x83\x8E\",\"\xE7\xA7\x98\",\"\",\"\","
         "\"{2c3d}\",\"1\",\"1\",\"1\"",
         2,
         {{"accounts.example.org password", "pa\"ss"},
          {"www.\xE4\xBE\x8B\xE3\x81\x88.jp",
           "user: \xE5\xA4\xAA\xE9\x83\x8E\npassword: \xE7\xA7\x98\n"
           "url: https://www.\xE4\xBE\x8B\xE3\x81\x88.jp\n"}}},
        {CsvLayout::kBitwarden,
         "folder,favorite,type,name,notes,fields,reprompt,login_uri,login_username,login_password,login_totp\n"
         "Work/Mail,1,login,Outlook,,\"pin: 1234\",0,\"https://outlook.example.com,https://login.example.com\","
         "dave,Pa$$w0rd,JBSWY3DPEHPK3PXP\n"
         "Work/Mail,,login,\xC3\x9Cn\xC3\xAF,,,0,,eve,pw2,\n"
         ",,note,Wi-Fi,\"SSID: home\nkey: wlan-secret\",,0,,,,\n",
         3,
         {{"work mail outlook",
           "user: dave\npassword: Pa$$w0rd\nurl: https://outlook.example.com\n"
           "url: https://login.example.com\notp: JBSWY3DPEHPK3PXP\npin: 1234\n"},
          {"Work Mail \xC3\x9Cn\xC3\xAF password", "pw2"},
          {"Wi-Fi", "notes\n\tSSID: home\n\tkey: wlan-secret\n"}}},
        {CsvLayout::kKeePassXC,
         "\"Group\",\"Title\",\"Username\",\"Password\",\"URL\",\"Notes\",\"TOTP\",\"Icon\",\"Last Modified\","
         "\"Created\"\n"
         "\"Passwords\",\"Router\",\"admin\",\"r0uter\",\"http://192.168.1.1\",\"\",\"\",\"0\",\"\",\"\"\n"
         "\"Passwords/Bank/Savings\",\"B\xC3\xA4nk: savings\",\"frank\",\"b@nk\",\"\",\"PIN in the safe\","
         "\"otpauth://totp/Bank:frank?secret=GEZDGNBV\",\"0\",\"\",\"\"\n"
         "\"Passwords/Bank\",\"Card\",\"\",\"4111\",\"\",\"\",\"\",\"0\",\"\",\"\"",
         3,
         {{"Router password", "r0uter"},
          {"Bank",
           "Savings\n\tB\xC3\xA4nk:savings\n\t\tuser: frank\n\t\tpassword: b@nk\n"
           "\t\totp: otpauth://totp/Bank:frank?secret=GEZDGNBV\n\t\tnotes: PIN in the safe\n"
           "Card\n\tpassword: 4111\n"}}},
        {CsvLayout::kKeePass2,
         "\"Account\",\"Login Name\",\"Password\",\"Web Site\",\"Comments\"\r\n"
         "\"Forum \xE2\x80\x93 F\xC3\xBChrung\",\"grace\",\"f0rum\",\"https://forum.example\",\"one\r\ntwo\"\r\n"
         "\"\",\"henry\",\"only-pw\",\"https://mail.example.org/inbox\",\"\"\r\n",
         2,
         {{"Forum \xE2\x80\x93 F\xC3\xBChrung notes", "one\ntwo\n"}, {"mail.example.org user", "henry"}}},
        {CsvLayout::kLastPass,  // totp in the middle
         "url,username,totp,password,extra,name,grouping,fav\r\n"
         "https://github.com/login,ivan,JBSWY3DP,gh-pw,,GitHub,Dev\\Code,0\r\n"
         "http://sn,,,,\"NoteType:Server\r\nHostname:db1\",DB server,Dev\\Ops,0\r\n"
         "https://news.example,judy,,n3ws,,News,(none),1\r\n",
         3,
         {{"dev code github otp", "JBSWY3DP"},
          {"Dev Ops DB server", "notes\n\tNoteType:Server\n\tHostname:db1\n"},
          {"News url", "https://news.example"}}},
        {CsvLayout::kLastPass,  // totp at the end
         "url,username,password,extra,name,grouping,fav,totp\nhttps://a.example,u,p,,A \xC3\xA5,,0,T\n",
         1,
         {{"A \xC3\xA5", "user: u\npassword: p\nurl: https://a.example\notp: T\n"}}},
        {CsvLayout::kLastPass,  // no totp
         "url,username,password,extra,name,grouping,fav\nhttps://b.example,,p,,,G,0\n",
         1,
         {{"G b.example", "password: p\nurl: https://b.example\n"}}},
        {CsvLayout::kOnePassword,
         "Title,Url,Username,Password,OTPAuth,Favorite,Archived,Tags,Notes\n"
         "\"Steuer \xE2\x82\xAC\",https://elster.example,kim,st3uer,,false,false,tax,\n"
         "Dropbox,https://www.dropbox.example,lee,dr0p,otpauth://totp/Dropbox?secret=ABCD,true,false,,\"shared\"\n",
         2,
         {{"Steuer \xE2\x82\xAC", "user: kim\npassword: st3uer\nurl: https://elster.example\n"},
          {"Dropbox",
           "user: lee\npassword: dr0p\nurl: https://www.dropbox.example\n"
           "otp: otpauth://totp/Dropbox?secret=ABCD\nnotes: shared\n"}}},
        {CsvLayout::kGlimkeep,
         "group,title,username,password,url,notes,otp\r\n"
         "email,gmx,bob,\"x\"\"y\",,one: line,otpauth://totp/x\r\n"
         ",B\xC3\xA4nk,me,\"p,w\",https://bank.example,\"two\r\nlines\",\r\n",
         2,
         {{"email gmx", "user: bob\npassword: x\"y\notp: otpauth://totp/x\nnotes: one: line\n"},
          {"B\xC3\xA4nk notes", "two\nlines\n"}}},
    };
    for (const auto& row : table) {
        CsvImport result;
        ASSERT_TRUE(import_csv("", row.csv, result)) << csv_layout_name(row.layout) << ": " << result.error;
        EXPECT_EQ(csv_layout_name(row.layout), std::string(csv_layout_name(result.layout)));
        EXPECT_EQ(row.rows, result.rows) << csv_layout_name(row.layout);
        const Tree tree = parse_tree(result.text.str());
        for (const auto& [path, text] : row.shown)
            EXPECT_EQ(text, shown(tree, path)) << csv_layout_name(row.layout) << ": " << path;
    }
}

// The vault's own bytes stay as they are, line ends and all; a group of the vault
// takes the rows of its name at its level, after its own lines.
TEST(CsvImport, KeepsTheVaultTextAndJoinsItsEntries)
{
    const std::string vault = "email\n\tgmail\r\n\t\tuser: a\r\nbank: 1234\r\n\t\t\tdeep\nlast";
    const std::string csv = "group,title,username,password,url,notes,otp\r\n"
                            "email,gmx,bob,pw,,,\r\n"
                            "email/gmail,old,,pw2,,,\r\n"
                            "bank,x,,pw3,,,\r\n"
                            "new,y,,pw4,,,\r\n"
                            ",last,,pw5,,,\r\n";
    std::size_t rows = 0;
    EXPECT_EQ("email\n\tgmail\r\n\t\tuser: a\r\n\t\told\r\n\t\t\tpassword: pw2\r\n"
              "\tgmx\r\n\t\tuser: bob\r\n\t\tpassword: pw\r\n"
              "bank: 1234\r\n\t\t\tdeep\n\tx\r\n\t\tpassword: pw3\r\n"
              "last\r\nnew\r\n\ty\r\n\t\tpassword: pw4\r\nlast\r\n\tpassword: pw5\r\n",
              import_text(vault, csv, &rows));
    EXPECT_EQ(5u, rows);
    // Rows of the same title are both kept; a later row's group finds the first.
    const std::string twice = "name,url,username,password\r\nsame,,u1,p1\r\nsame,,u2,p2\r\n";
    EXPECT_EQ("same\r\n\tuser: u1\r\n\tpassword: p1\r\nsame\r\n\tuser: u2\r\n\tpassword: p2\r\n",
              import_text("", twice));
}

TEST(CsvExport, RowsAndRoundTrip)
{
    const Tree tree = parse_tree("email\r\n\tgmail\r\n\t\tUser: alice\r\n\t\tpass: s3cr,\"t\r\n"
                                 "\t\twebsite: https://mail.example\r\n\t\tTOTP: ABC\r\n"
                                 "\t\tnotes\r\n\t\t\tline 1\r\n\t\t\t\tindented\r\n"
                                 "\t\tsub\r\n\t\t\tpassword: inner\r\n"
                                 "\tno password\r\n\t\tuser: x\r\n"
                                 "bank: 1234\r\n"
                                 "plain\r\n\tline\r\n");
    CsvExport result;
    export_csv(tree, result);
    EXPECT_EQ("group,title,username,password,url,notes,otp\r\n"
              "email,gmail,alice,\"s3cr,\"\"t\",https://mail.example,\"line 1\r\n\tindented\",ABC\r\n"
              "email/gmail,sub,,inner,,,\r\n",
              result.text.str());
    EXPECT_EQ(2u, result.rows);
    EXPECT_EQ(2u, result.left_out);  // "no password" and "plain"

    // What an import writes, exported and imported into an empty vault, is the same text.
    const std::string csv = "\xEF\xBB\xBF\"Group\",\"Title\",\"Username\",\"Password\",\"URL\",\"Notes\",\"TOTP\"\n"
                            "\"Root/A/B\",\"x: y\",\"u\",\"p\"\"q\",\"https://h.example\",\"n1\nn2\r\n\tn3\",\"T\"\n"
                            "\"Root/A\",\"B\",\"\",\"pb\",\"\",\"\",\"\"\n"
                            "\"Root\",\"\xE4\xBE\x8B\",\"\",\"p,2\",\"\",\"one\",\"\"\n";
    const std::string first = import_text("", csv);
    CsvExport exported;
    export_csv(parse_tree(first), exported);
    EXPECT_EQ(3u, exported.rows);
    EXPECT_EQ(first, import_text("", exported.text.str()));
}

TEST(CsvImport, RefusesWithTheLine)
{
    const struct {
        std::string csv;
        std::string error;
    } table[] = {
        {"title,user,secret\r\na,b,c\r\n",
         "line 1: the header is of no known layout (columns found: title, user, secret)"},
        {"", "line 1: no header row"},
        {"\r\n,\n\"\"\nsite;login,\"pass\nword\"\n",
         "line 4: the header is of no known layout (columns found: site;login, pass word)"},
        {"name,url,username,password\r\na,b,c,\"d\r\ne,f\r\n", "line 2: a quoted field is not closed"},
        {"group,title,username,password,url,notes,otp\n" + std::string(70, '/').insert(0, "a/b") + "/x,t,,p,,,\n" +
             [] {
                 std::string path;
                 for (int i = 0; i < 65; ++i) path += "g/";
                 return path;
             }() +
             ",t,,p,,,\n",
         "line 3: the group path is deeper than 64 levels"},
    };
    for (const auto& row : table) {
        CsvImport result;
        EXPECT_FALSE(import_csv("vault\r\n", row.csv, result));
        EXPECT_EQ(row.error, result.error);
        EXPECT_TRUE(result.text.empty());
    }
}

// Hostile files: random bytes under every header never crash, and what comes out
// stays in proportion to what went in.
TEST(CsvImport, HostileInputStaysBounded)
{
    const char* headers[] = {"group,title,username,password,url,notes,otp\n",
                             "folder,type,name,login_uri,login_username,login_password,fields,notes\n",
                             "url,username,password,extra,name,grouping\n", "name,url,username,password,note\n"};
    const char alphabet[] = "ab,\"\r\n\t:/\\ ";
    std::mt19937 random(22);
    for (int round = 0; round < 400; ++round) {
        std::string csv = headers[round % 4];
        const std::size_t size = random() % 300;
        for (std::size_t i = 0; i < size; ++i) csv += alphabet[random() % (sizeof alphabet - 1)];
        CsvImport result;
        if (!import_csv("v\r\n", csv, result)) continue;
        EXPECT_LT(result.text.size(), 200 * csv.size() + 100) << escaped(csv);
        const Tree tree = parse_tree(result.text.str());
        EXPECT_EQ("v", tree.children.at(0).name);
    }
}
