#pragma once
// Functions of system DLLs that not every supported version of Windows has.

#include <windows.h>

#include <cstddef>

// A function of a system DLL by name, cast to its type; null when it is missing.
template <class Function>
Function system_function(HMODULE module, const char* name)
{
    if (!module) return nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// A DLL of the system folder, by its full path, so that no other folder is searched.
inline HMODULE load_system_dll(const wchar_t* name)
{
    wchar_t path[MAX_PATH];
    const UINT length = GetSystemDirectoryW(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return nullptr;
    std::size_t at = length;
    if (path[at - 1] != L'\\') path[at++] = L'\\';
    for (const wchar_t* c = name; *c; ++c) {
        if (at + 1 >= MAX_PATH) return nullptr;
        path[at++] = *c;
    }
    path[at] = L'\0';
    return LoadLibraryW(path);
}
