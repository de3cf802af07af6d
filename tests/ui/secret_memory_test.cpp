// What a lock leaves in memory: a marker typed into the editor box (as an entry that
// the password report, opened before the lock, lists), one typed as a
// wrong password into the open window, one typed as a new password into the change
// window (whose strength is estimated as it is typed) and one that another program's
// save brought in through a merge must be nowhere in the process's committed memory
// once the editor has locked and the vault's container is gone, in UTF-16 or UTF-8.
// The markers exist in the test only masked (XOR), so that the scan cannot find
// the test's own copies.
#include "ui/window_entry_points.h"

#include "db/database.h"
#include "resource.h"
#include "tests/support/files.h"
#include "tests/support/vaults.h"
#include "ui/passwords/quick_unlock.h"
#include "window_driver.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

namespace {

constexpr unsigned char kMask = 0x5A;

// The marker's bytes masked, in one of its two encodings (ASCII: UTF-8 is one byte
// per character, UTF-16 adds a zero byte after each), without its first two
// characters: emptying an edit control may overwrite just the first (a NUL).
std::vector<unsigned char> masked(const char* masked_ascii, bool utf16)
{
    std::vector<unsigned char> bytes;
    for (const char* c = masked_ascii + 2; *c; ++c) {
        bytes.push_back(static_cast<unsigned char>(*c));
        if (utf16) bytes.push_back(kMask);
    }
    return bytes;
}

// The marker as typed; the caller wipes it.
std::wstring unmasked(const char* masked_ascii)
{
    std::wstring text;
    for (const char* c = masked_ascii; *c; ++c)
        text.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*c) ^ kMask));
    return text;
}

void wipe(std::wstring& text)
{
    SecureZeroMemory(&text[0], text.size() * sizeof(wchar_t));
}

// Where the needle occurs in the committed, readable memory of this process
// (VirtualQuery over the whole address space).
std::vector<const void*> occurrences(const std::vector<unsigned char>& needle)
{
    std::vector<const void*> found;
    SYSTEM_INFO system = {};
    GetSystemInfo(&system);
    const auto* at = static_cast<const unsigned char*>(system.lpMinimumApplicationAddress);
    const auto* end = static_cast<const unsigned char*>(system.lpMaximumApplicationAddress);
    const DWORD readable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
        PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    while (at < end) {
        MEMORY_BASIC_INFORMATION region = {};
        if (VirtualQuery(at, &region, sizeof region) == 0) break;
        const auto* base = static_cast<const unsigned char*>(region.BaseAddress);
        if (region.State == MEM_COMMIT && (region.Protect & readable) != 0 &&
            (region.Protect & (PAGE_GUARD | PAGE_NOACCESS)) == 0 && region.RegionSize >= needle.size()) {
            for (std::size_t i = 0; i + needle.size() <= region.RegionSize; ++i) {
                if (static_cast<unsigned char>(base[i] ^ kMask) != needle[0]) continue;
                std::size_t k = 1;
                while (k < needle.size() && static_cast<unsigned char>(base[i + k] ^ kMask) == needle[k]) ++k;
                if (k == needle.size()) found.push_back(base + i);
            }
        }
        at = base + region.RegionSize;
    }
    return found;
}

// "EdMark7QzvXpW2", "PwMark4JkuYtR9" and "MgMark5HrwYqT8", masked with 0x5A.
const char kEditorMarker[] = "\x1f\x3e\x17\x3b\x28\x31\x6d\x0b\x20\x2c\x02\x2a\x0d\x68";
const char kPasswordMarker[] = "\x0a\x2d\x17\x3b\x28\x31\x6e\x10\x31\x2f\x03\x2e\x08\x63";
const char kMergedMarker[] = "\x17\x3d\x17\x3b\x28\x31\x6f\x12\x28\x2d\x03\x2b\x0e\x62";
// "NwMark5HqeYsT8", masked likewise.
const char kNewPasswordMarker[] = "\x14\x2d\x17\x3b\x28\x31\x6f\x12\x2b\x3f\x03\x29\x0e\x62";

// "QkMark6TyuWeR3" (in a master password) and "DqMark3LopZxV7" (in a document), masked likewise.
const char kQuickPasswordMarker[] = "\x0b\x31\x17\x3b\x28\x31\x6c\x0e\x23\x2f\x0d\x3f\x08\x69";
const char kQuickDocumentMarker[] = "\x1e\x2b\x17\x3b\x28\x31\x69\x16\x35\x2a\x00\x22\x0c\x6d";

std::string ascii_bytes(const std::wstring& ascii)
{
    std::string text;
    for (wchar_t c : ascii) text.push_back(static_cast<char>(c));
    return text;
}

// The open window over `db` (loaded) with `typed` entered; true when it opened.
bool open_with(Database& db, const std::wstring& typed)
{
    bool opened = false;
    auto failures = drive([&] { opened = run_decrypt_db_window(GetModuleHandleW(nullptr), SW_SHOWNORMAL, db); },
                          [&](WindowDriver& d) {
                              const HWND window = d.wait_top_level(L"decrypt_db");
                              const HWND box = FindWindowExW(window, nullptr, L"EDIT", nullptr);
                              d.type(box, typed);
                              d.press(box, VK_RETURN);
                          });
    for (const std::string& failure : failures) ADD_FAILURE() << failure;
    return opened;
}

}  // namespace

// With quick unlock on, a lock keeps the vault's keys encrypted: neither the master
// password, nor the document, nor the keys themselves are in memory while locked, and
// the last four characters then open the vault.
TEST(SecretMemory, QuickUnlockKeepsNoPasswordDocumentOrKeysWhileLocked)
{
    TempWorkingDir folder;
    write_file("glimkeep.ini", "[lock]\r\nquick-unlock=last 4\r\n");
    std::wstring password = std::wstring(20, L'q') + unmasked(kQuickPasswordMarker) + L"wxyz";
    {
        std::wstring document = unmasked(kQuickDocumentMarker);
        std::string text = "mail\r\n\tuser: " + std::string(40, 'd') + ascii_bytes(document) + "\r\n";
        std::string narrow_password = ascii_bytes(password);
        ASSERT_TRUE(write_vault(text, narrow_password, format_v2::kIterations));
        SecureZeroMemory(&text[0], text.size());
        SecureZeroMemory(&narrow_password[0], narrow_password.size());
        wipe(document);
    }
    load_lock_settings();
    register_decrypt_db_window(GetModuleHandleW(nullptr));
    std::vector<unsigned char> masked_keys(format_v2::kKeysSize);
    {
        Database db;
        ASSERT_EQ(db.load(kDatabaseFileName), DB_OK);
        ASSERT_TRUE(open_with(db, password));
        wipe(password);
        std::uint8_t keys[format_v2::kKeysSize];
        ASSERT_TRUE(db.copy_session_keys(keys));
        for (std::size_t i = 0; i < sizeof keys; ++i) masked_keys[i] = static_cast<unsigned char>(keys[i] ^ kMask);
        SecureZeroMemory(keys, sizeof keys);
        // The scan's own check: the container holds the keys while the vault is open.
        EXPECT_FALSE(occurrences(masked_keys).empty()) << "the scan finds the open vault's keys";
        const bool locked = run_editor_checked(db, [&](WindowDriver& d) {
            d.press('L', {VK_CONTROL});
            d.check(d.wait_closed(5000), "the editor locks");
        });
        EXPECT_TRUE(locked);
        note_editor_locked(db);
    }
    EXPECT_TRUE(occurrences(masked_keys).empty()) << "the vault's keys are in memory";
    for (const char* marker : {kQuickPasswordMarker, kQuickDocumentMarker}) {
        for (bool utf16 : {true, false}) {
            EXPECT_TRUE(occurrences(masked(marker, utf16)).empty())
                << (marker == kQuickPasswordMarker ? "password" : "document") << " marker in "
                << (utf16 ? "UTF-16" : "UTF-8");
        }
    }
    // What was kept opens the vault with the last four characters, once.
    Database db;
    ASSERT_EQ(db.load(kDatabaseFileName), DB_OK);
    ASSERT_TRUE(open_with(db, L"wxyz"));
    EXPECT_NE(std::string::npos, db.plaintext().find("user: dddd"));
    end_quick_unlock(nullptr);
}

TEST(SecretMemory, NothingTypedOutlivesTheLock)
{
    TempWorkingDir folder;
    ASSERT_TRUE(write_vault("mail\r\n\tuser: bob\r\n", "right"));
    register_decrypt_db_window(GetModuleHandleW(nullptr));
    {
        Database db;
        ASSERT_EQ(db.load(kDatabaseFileName), DB_OK);
        bool opened = false;
        auto failures = drive([&] { opened = run_decrypt_db_window(GetModuleHandleW(nullptr), SW_SHOWNORMAL, db); },
                              [&](WindowDriver& d) {
                                  const HWND window = d.wait_top_level(L"decrypt_db");
                                  const HWND box = FindWindowExW(window, nullptr, L"EDIT", nullptr);
                                  // Behind other characters: a freed block's first bytes
                                  // are overwritten by the heap's own bookkeeping.
                                  std::wstring typed = std::wstring(40, L'p') + unmasked(kPasswordMarker);
                                  d.type(box, typed);
                                  wipe(typed);
                                  d.press(box, VK_RETURN);
                                  d.answer_dialog(L"Wrong password", IDOK);
                                  d.type(box, L"right");
                                  d.press(box, VK_RETURN);
                              });
        for (const std::string& failure : failures) ADD_FAILURE() << failure;
        ASSERT_TRUE(opened);

        std::vector<std::string> problems;
        const bool locked = run_editor_with(
            db,
            [&](WindowDriver& d) {
                // A new password typed into the change window, which then closes.
                PostMessageW(d.main, WM_COMMAND, IDM_CHANGE_PASSWORD, 0);
                const HWND change = d.wait_top_level(L"change_password");
                const HWND new_box = FindWindowExW(change, nullptr, L"EDIT", nullptr);
                std::wstring new_password = std::wstring(40, L'n') + unmasked(kNewPasswordMarker);
                d.type(new_box, new_password);
                wipe(new_password);
                d.check(d.wait_for(
                            [&] { return !window_text(FindWindowExW(change, nullptr, L"STATIC", nullptr)).empty(); }),
                        "the change window shows the new password's strength");
                PostMessageW(change, WM_CLOSE, 0, 0);
                d.check(d.wait_for([] { return FindWindowW(L"change_password", nullptr) == nullptr; }),
                        "the change window closes");
                d.focus_editor();
                d.set_selection(d.editor, 0x7FFFFFFF, 0x7FFFFFFF);  // at the end of the document
                // The marker names an entry with a password: the report lists it.
                std::wstring typed = unmasked(kEditorMarker) + L"\r\n\tpassword: 123456";
                d.type(d.editor, typed);
                wipe(typed);
                // The scan's own check: what the box holds is found.
                d.check(d.wait_for([] { return !occurrences(masked(kEditorMarker, true)).empty(); }),
                        "the scan finds the marker in the box");
                // The report, whose rows name the entry, and the earlier values,
                // opened and closed before the lock.
                PostMessageW(d.main, WM_COMMAND, IDM_PASSWORD_REPORT, 0);
                const HWND report = d.wait_top_level(L"password_report");
                d.check(SendMessageW(FindWindowExW(report, nullptr, L"LISTBOX", nullptr), LB_GETCOUNT, 0, 0) >= 3,
                        "the report lists the marker's entry");
                PostMessageW(report, WM_CLOSE, 0, 0);
                d.check(d.wait_for([] { return FindWindowW(L"password_report", nullptr) == nullptr; }),
                        "the report closes");
                PostMessageW(d.main, WM_COMMAND, IDM_EARLIER_VALUES, 0);
                const HWND earlier = d.wait_top_level(L"earlier_values");
                PostMessageW(earlier, WM_CLOSE, 0, 0);
                d.check(d.wait_for([] { return FindWindowW(L"earlier_values", nullptr) == nullptr; }),
                        "the earlier values close");
                d.focus_editor();
                // Another program writes the vault meanwhile: the save merges its
                // document, decrypted on the way, into the editor's.
                {
                    std::wstring wide = unmasked(kMergedMarker);
                    std::string theirs = "mail\r\n\tuser: bob\r\nsite: " + std::string(40, 'm');
                    for (wchar_t c : wide) theirs.push_back(static_cast<char>(c));
                    theirs += "\r\n";
                    d.check(write_vault(theirs, "right"), "the other program's save");
                    SecureZeroMemory(&theirs[0], theirs.size());
                    wipe(wide);
                }
                d.press('L', {VK_CONTROL});
                d.answer_dialog(L"Save changes and lock?", IDYES);
                d.answer_dialog(L"Data successfully saved", IDOK);
                d.check(d.wait_closed(5000), "the editor locks");
            },
            problems);
        for (const std::string& problem : problems) ADD_FAILURE() << problem;
        EXPECT_TRUE(locked);
    }
    for (const char* marker : {kEditorMarker, kPasswordMarker, kMergedMarker, kNewPasswordMarker}) {
        for (bool utf16 : {true, false}) {
            const std::vector<const void*> found = occurrences(masked(marker, utf16));
            EXPECT_TRUE(found.empty()) << (marker == kEditorMarker         ? "editor"
                                               : marker == kPasswordMarker ? "password"
                                               : marker == kMergedMarker   ? "merged"
                                                                           : "new password")
                                       << " marker in " << (utf16 ? "UTF-16" : "UTF-8") << " found " << found.size()
                                       << " times, first at " << (found.empty() ? nullptr : found[0]);
        }
    }
}
