// The program as a whole process: started in a fresh folder, watched and driven from
// outside through its windows, judged by what it shows, what it leaves on disk and
// its exit code.
#include "app/application.h"
#include "db/database.h"

#include "../ui/window_driver.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

// The program under test, as a Windows path (the build writes a Unix path).
std::wstring program_path()
{
    std::wstring path = L"Z:";
    for (const char* c = GLIMKEEP_EXE; *c; ++c) path += static_cast<wchar_t>(*c == '/' ? '\\' : *c);
    return path;
}

struct WindowsOf {
    DWORD process;
    std::vector<HWND> found;
};

BOOL CALLBACK collect_window(HWND window, LPARAM param)
{
    auto* search = reinterpret_cast<WindowsOf*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->process && IsWindowVisible(window)) search->found.push_back(window);
    return TRUE;
}

BOOL CALLBACK collect_child(HWND window, LPARAM param)
{
    reinterpret_cast<std::vector<HWND>*>(param)->push_back(window);
    return TRUE;
}

// The program running in the current directory; ended at the latest when this goes.
class Program {
public:
    Program()
    {
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        std::wstring command = L"\"" + program_path() + L"\"";
        started_ = CreateProcessW(program_path().c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                  &startup, &info_) != FALSE;
    }
    ~Program()
    {
        if (!started_) return;
        if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) {
            TerminateProcess(info_.hProcess, 99);
            WaitForSingleObject(info_.hProcess, 10000);
        }
        CloseHandle(info_.hThread);
        CloseHandle(info_.hProcess);
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    bool started() const { return started_; }

    // Visible top-level windows of the program.
    std::vector<HWND> windows() const
    {
        WindowsOf search = {info_.dwProcessId, {}};
        EnumWindows(collect_window, reinterpret_cast<LPARAM>(&search));
        return search.found;
    }

    std::set<std::wstring> window_classes() const
    {
        std::set<std::wstring> classes;
        for (HWND window : windows()) classes.insert(class_of(window));
        return classes;
    }

    // Waits for a visible top-level window of this class (null after the time-out).
    HWND wait_window(const std::wstring& class_name, const std::wstring& caption = L"", int timeout_ms = 60000)
    {
        for (int waited = 0;; waited += 50) {
            for (HWND window : windows()) {
                if (class_of(window) == class_name && (caption.empty() || window_text(window) == caption)) {
                    return window;
                }
            }
            if (waited >= timeout_ms) return nullptr;
            if (WaitForSingleObject(info_.hProcess, 50) == WAIT_OBJECT_0) return nullptr;
        }
    }

    // The exit code, or -1 when the program is still running after the time-out.
    long wait_exit(int timeout_ms = 60000)
    {
        if (WaitForSingleObject(info_.hProcess, static_cast<DWORD>(timeout_ms)) != WAIT_OBJECT_0) return -1;
        DWORD code = 0;
        GetExitCodeProcess(info_.hProcess, &code);
        return static_cast<long>(code);
    }

private:
    PROCESS_INFORMATION info_ = {};
    bool started_ = false;
};

// The text of a message box: its static control that holds text.
std::wstring message_box_text(HWND box)
{
    std::vector<HWND> children;
    EnumChildWindows(box, collect_child, reinterpret_cast<LPARAM>(&children));
    for (HWND child : children) {
        if (_wcsicmp(class_of(child).c_str(), L"Static") == 0 && !window_text(child).empty()) {
            return window_text(child);
        }
    }
    return L"";
}

HWND child_of_class(HWND parent, const wchar_t* class_name)
{
    return FindWindowExW(parent, nullptr, class_name, nullptr);
}

bool vault_exists()
{
    return GetFileAttributesA(kDatabaseFileName) != INVALID_FILE_ATTRIBUTES;
}

class Startup : public ::testing::Test {
protected:
    TempWorkingDir directory_;
};

}  // namespace

TEST_F(Startup, AnEmptyFolderShowsOnlyTheCreateWindowAndClosingItLeavesNothing)
{
    Program program;
    ASSERT_TRUE(program.started()) << narrow(program_path());
    HWND window = program.wait_window(L"create_db");
    ASSERT_NE(window, nullptr) << "no create_db window";
    Sleep(500);
    EXPECT_EQ(program.window_classes(), std::set<std::wstring>{L"create_db"});
    EXPECT_EQ(window_text(window), L"Glimkeep");
    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(program.wait_exit(), 0);
    EXPECT_FALSE(vault_exists());
}

// Anything of the vault's name is there: never a first run that could replace it.
TEST_F(Startup, AFolderInTheVaultsPlaceFailsToLoad)
{
    ASSERT_TRUE(CreateDirectoryA(kDatabaseFileName, nullptr));
    Program program;
    HWND box = program.wait_window(L"#32770", L"Error loading database");
    ASSERT_NE(box, nullptr) << "no load error box";
    EXPECT_EQ(narrow(message_box_text(box)), "Permission denied\r\npasswords.gkv");
    EXPECT_EQ(program.window_classes(), std::set<std::wstring>{L"#32770"}) << "another window is open";
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(program.wait_exit(), 1);
    EXPECT_NE(GetFileAttributesA(kDatabaseFileName) & FILE_ATTRIBUTE_DIRECTORY, 0u);
}

TEST_F(Startup, UnloadableVaultsEndTheProgramWithTheLoadErrorBox)
{
    struct Case {
        const char* name;
        std::string file;
        const wchar_t* text;
    };
    std::string foreign = "NOTAVAULT!1.0" + std::string(80, '\x11');
    std::string version_2 = "GLIMKEEPDB2.1" + std::string(84, '\0');
    const Case cases[] = {
        {"92 bytes", std::string(92, '\0'), L"File has insufficient size (file corrupted?)\r\npasswords.gkv"},
        {"foreign", foreign, L"This file is not database file for this program\r\npasswords.gkv"},
        {"version 2.1", version_2, L"Unsupported file version\r\npasswords.gkv"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        write_file(kDatabaseFileName, c.file);
        Program program;
        HWND box = program.wait_window(L"#32770", L"Error loading database");
        ASSERT_NE(box, nullptr) << "no load error box";
        EXPECT_EQ(narrow(message_box_text(box)), narrow(c.text));
        EXPECT_EQ(program.window_classes(), std::set<std::wstring>{L"#32770"}) << "another window is open";
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        EXPECT_EQ(program.wait_exit(), 1);
        EXPECT_EQ(read_file(kDatabaseFileName), c.file) << "the file was changed";
    }
}

TEST_F(Startup, CreatingAVaultLeadsToThePasswordWindowNotTheEditor)
{
    Program program;
    HWND window = program.wait_window(L"create_db");
    ASSERT_NE(window, nullptr);
    HWND box = child_of_class(window, L"Edit");
    ASSERT_NE(box, nullptr);
    SendMessageW(box, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"first run"));
    PostMessageW(box, WM_KEYDOWN, VK_RETURN, 1);

    HWND message = program.wait_window(L"#32770", L"Database successfully created");
    ASSERT_NE(message, nullptr) << "no success message";
    PostMessageW(message, WM_COMMAND, IDOK, 0);  // a posted click can lose the mouse capture under load

    HWND open = program.wait_window(L"decrypt_db");
    ASSERT_NE(open, nullptr) << "no decrypt_db window after creating the vault";
    Sleep(500);
    EXPECT_EQ(program.window_classes(), std::set<std::wstring>{L"decrypt_db"});
    EXPECT_EQ(read_file(kDatabaseFileName).size(), format_v2::kHeaderSize);  // a new vault is of format 2.0

    Database db;
    ASSERT_EQ(db.load(kDatabaseFileName), DB_OK);
    db.set_password("first run", 9);
    EXPECT_EQ(db.decrypt(), DB_OK);

    PostMessageW(open, WM_CLOSE, 0, 0);
    EXPECT_EQ(program.wait_exit(), 0);
}

TEST_F(Startup, ClosingThePasswordWindowAfterAWrongPasswordEndsWithZero)
{
    {
        Database db;
        db.set_plaintext("entry\r\n", 7);
        db.set_password("right", 5);
        ASSERT_EQ(db.save(kDatabaseFileName), DB_OK);
    }
    const std::string before = read_file(kDatabaseFileName);
    Program program;
    HWND open = program.wait_window(L"decrypt_db");
    ASSERT_NE(open, nullptr);
    HWND box = child_of_class(open, L"Edit");
    SendMessageW(box, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"wrong"));
    PostMessageW(box, WM_KEYDOWN, VK_RETURN, 1);
    HWND message = program.wait_window(L"#32770", L"Wrong password");
    ASSERT_NE(message, nullptr) << "no wrong-password message";
    PostMessageW(message, WM_COMMAND, IDOK, 0);  // a posted click can lose the mouse capture under load
    for (int i = 0; i < 200 && program.wait_window(L"#32770", L"Wrong password", 0); ++i) Sleep(50);
    PostMessageW(open, WM_CLOSE, 0, 0);
    EXPECT_EQ(program.wait_exit(), 0);
    EXPECT_EQ(read_file(kDatabaseFileName), before);
}

TEST_F(Startup, FileExistsForEveryEntryOfThatName)
{
    EXPECT_FALSE(file_exists("missing.gkv"));
    write_file("empty.gkv", "");
    EXPECT_TRUE(file_exists("empty.gkv"));
    ASSERT_TRUE(CreateDirectoryA("folder.gkv", nullptr));
    EXPECT_TRUE(file_exists("folder.gkv"));
    EXPECT_FALSE(file_exists("no-such-folder\\empty.gkv"));

    // a file that another program is writing, sharing it with readers and writers
    HANDLE writer = CreateFileA("busy.gkv", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(file_exists("busy.gkv"));
    CloseHandle(writer);

    // a file that another program holds without sharing is there all the same
    HANDLE locked = CreateFileA("locked.gkv", GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(locked, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(file_exists("locked.gkv"));
    CloseHandle(locked);
}
