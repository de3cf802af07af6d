// The resources linked into the program: icon, pictures, dialog template, version
// record and manifest, read back through the system's own resource functions.
#include "resource.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>

namespace {

HINSTANCE instance()
{
    return GetModuleHandleW(nullptr);
}

// The raw bytes of a resource, or an empty string.
std::string resource_bytes(LPCWSTR type, LPCWSTR name)
{
    HRSRC found = FindResourceW(instance(), name, type);
    if (!found) return std::string();
    HGLOBAL loaded = LoadResource(instance(), found);
    const void* data = loaded ? LockResource(loaded) : nullptr;
    if (!data) return std::string();
    return std::string(static_cast<const char*>(data), SizeofResource(instance(), found));
}

template <typename T>
T read_at(const std::string& bytes, std::size_t offset)
{
    T value{};
    if (offset + sizeof value <= bytes.size()) std::memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
}

}  // namespace

TEST(Resources, PicturesAre32By32TrueColour)
{
    for (int id : {IDB_CREATE_DB, IDB_DECRYPT_DB}) {
        HBITMAP picture = LoadBitmapW(instance(), MAKEINTRESOURCEW(id));
        ASSERT_NE(picture, nullptr) << id;
        BITMAP info = {};
        GetObjectW(picture, sizeof info, &info);
        EXPECT_EQ(info.bmWidth, 32) << id;
        EXPECT_EQ(info.bmHeight, 32) << id;
        DeleteObject(picture);

        // the file itself: 24 bits per pixel, white in the corners, blue somewhere
        const std::string bytes = resource_bytes(RT_BITMAP, MAKEINTRESOURCEW(id));
        ASSERT_GE(bytes.size(), 40u + 32 * 32 * 3) << id;
        EXPECT_EQ(read_at<WORD>(bytes, 14), 24) << id;
        const std::size_t pixels = read_at<DWORD>(bytes, 0);  // header size
        const auto pixel = [&](int x, int y) {  // bottom-up rows of 96 bytes, B G R
            const std::size_t at = pixels + static_cast<std::size_t>(31 - y) * 96 + static_cast<std::size_t>(x) * 3;
            return RGB(static_cast<unsigned char>(bytes[at + 2]), static_cast<unsigned char>(bytes[at + 1]),
                       static_cast<unsigned char>(bytes[at]));
        };
        EXPECT_EQ(pixel(0, 0), RGB(255, 255, 255)) << id;
        EXPECT_EQ(pixel(31, 0), RGB(255, 255, 255)) << id;
        int blue = 0;
        for (int y = 0; y < 32; ++y) {
            for (int x = 0; x < 32; ++x) {
                const COLORREF c = pixel(x, y);
                if (GetBValue(c) > GetRValue(c) + 60 && GetBValue(c) > GetGValue(c) + 30) ++blue;
            }
        }
        EXPECT_GT(blue, 100) << id << ": hardly any blue";
    }
}

TEST(Resources, IconHasSmallMediumAndLargeImages)
{
    for (int size : {16, 32, 48}) {
        HICON icon = static_cast<HICON>(
            LoadImageW(instance(), MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
        ASSERT_NE(icon, nullptr) << size;
        ICONINFO info = {};
        ASSERT_TRUE(GetIconInfo(icon, &info));
        BITMAP colour = {};
        GetObjectW(info.hbmColor, sizeof colour, &colour);
        EXPECT_EQ(colour.bmWidth, size);
        EXPECT_EQ(colour.bmHeight, size);
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
        DestroyIcon(icon);
    }
    // the group lists exactly the three images, each with an alpha channel
    const std::string group = resource_bytes(RT_GROUP_ICON, MAKEINTRESOURCEW(IDI_APP));
    ASSERT_EQ(read_at<WORD>(group, 4), 3);
    for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(read_at<WORD>(group, 6 + i * 14 + 6), 32) << i;
}

TEST(Resources, MessageDialogTemplateIsEmpty)
{
    const std::string t = resource_bytes(RT_DIALOG, MAKEINTRESOURCEW(IDD_MESSAGE));
    ASSERT_GE(t.size(), 26u + 6u);
    EXPECT_EQ(read_at<WORD>(t, 0), 1);  // dlgVer
    EXPECT_EQ(read_at<WORD>(t, 2), 0xFFFF);  // signature: extended template
    EXPECT_EQ(read_at<DWORD>(t, 4), 0u);  // helpID
    EXPECT_EQ(read_at<DWORD>(t, 8), 0u);  // exStyle
    EXPECT_EQ(read_at<DWORD>(t, 12), 0x80C80000u);  // WS_POPUP | WS_CAPTION | WS_SYSMENU, no DS_SETFONT
    EXPECT_EQ(read_at<WORD>(t, 16), 0);  // no controls
    EXPECT_EQ(read_at<short>(t, 18), 0);
    EXPECT_EQ(read_at<short>(t, 20), 0);
    EXPECT_EQ(read_at<short>(t, 22), 50);
    EXPECT_EQ(read_at<short>(t, 24), 50);
    EXPECT_EQ(read_at<WORD>(t, 26), 0);  // no menu
    EXPECT_EQ(read_at<WORD>(t, 28), 0);  // the default dialog class
    EXPECT_EQ(read_at<WORD>(t, 30), 0);  // empty title
}

TEST(Resources, VersionRecordNamesTheProgram)
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
    ASSERT_GT(size, 0u);
    std::string block(size, '\0');
    ASSERT_TRUE(GetFileVersionInfoW(path, 0, size, &block[0]));
    wchar_t* description = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(&block[0], L"\\StringFileInfo\\040904B0\\FileDescription",
                               reinterpret_cast<void**>(&description), &length));
    EXPECT_EQ(std::wstring(description), L"Glimkeep password manager");
    VS_FIXEDFILEINFO* fixed = nullptr;
    ASSERT_TRUE(VerQueryValueW(&block[0], L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010001u);  // 1.1
    EXPECT_EQ(fixed->dwFileVersionLS, 0u);
}

TEST(Resources, ManifestAsksForCommonControls6ForThisArchitecture)
{
    const std::string manifest = resource_bytes(RT_MANIFEST, MAKEINTRESOURCEW(1));
    ASSERT_FALSE(manifest.empty());
#ifdef _WIN64
    const char* architecture = "processorArchitecture=\"amd64\"";
#else
    const char* architecture = "processorArchitecture=\"x86\"";
#endif
    EXPECT_NE(manifest.find(architecture), std::string::npos);
    EXPECT_NE(manifest.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""), std::string::npos);
    EXPECT_NE(manifest.find("<dpiAware"), std::string::npos);
    EXPECT_NE(manifest.find("level=\"asInvoker\" uiAccess=\"false\""), std::string::npos);
    for (const char* system : {"e2011457-1546-43c5-a5fe-008deee3d3f0", "35138b9a-5d96-4fbd-8e2d-a2440225f93a",
                               "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38", "1f676c76-80e1-4239-95bb-83d0f6d0da78",
                               "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"}) {
        EXPECT_NE(manifest.find(system), std::string::npos) << system;
    }
}

TEST(Resources, AcceleratorTableIsPresent)
{
    HACCEL table = LoadAcceleratorsW(instance(), MAKEINTRESOURCEW(IDR_ACCELERATORS));
    ASSERT_NE(table, nullptr);
    ACCEL entries[16];
    const int count = CopyAcceleratorTableW(table, entries, 16);
    DestroyAcceleratorTable(table);
    struct Key {
        WORD key;
        BYTE modifiers;
        WORD command;
    };
    const Key expected[] = {
        {'S', FCONTROL, IDM_SAVE},
        {VK_TAB, FCONTROL, IDA_SWITCH_FOCUS},
        {'1', FALT, IDA_FOCUS_FILTER},
        {'2', FALT, IDA_FOCUS_EDITOR},
        {'L', FCONTROL, IDM_LOCK},
        {'G', FCONTROL, IDM_GENERATE},
        {'G', FCONTROL | FSHIFT, IDM_GENERATE_PASSPHRASE},
        {'F', FCONTROL, IDM_FIND},
        {VK_F3, 0, IDA_FIND_NEXT},
        {'T', FCONTROL, IDM_ONE_TIME_CODE},
        {'H', FCONTROL | FSHIFT, IDM_EARLIER_VALUES},
    };
    ASSERT_EQ(count, 11);
    for (int i = 0; i < count; ++i) {
        EXPECT_EQ(entries[i].key, expected[i].key) << i;
        EXPECT_EQ(entries[i].fVirt & (FCONTROL | FALT | FSHIFT), expected[i].modifiers) << i;
        EXPECT_TRUE(entries[i].fVirt & FVIRTKEY) << i;
        EXPECT_EQ(entries[i].cmd, expected[i].command) << i;
    }
}
