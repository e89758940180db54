#include <windows.h>

#include <cstdio>

#include "files.h"

namespace {

// The "\\\\?\\" form, in which paths longer than MAX_PATH work on Windows as they do on
// Wine.
std::wstring LongPath(const std::string &path) { return L"\\\\?\\" + WideName(path); }

bool RemoveTree(const std::wstring &folder) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            const std::wstring path = folder + L"\\" + name;
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                DeleteFileW(path.c_str());
            } else if (name != L"." && name != L"..") {
                RemoveTree(path);
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    return RemoveDirectoryW(folder.c_str()) != 0;
}

// The program's output until its last writer has closed it, and when that was; 0 when it
// was still open a while after the program had ended (a program it started, or one of

}  // namespace

std::wstring WideName(const std::string &name) {
    std::wstring wide(name.size(), L'\0');
    int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name.data(),
                                     static_cast<int>(name.size()), &wide[0],
                                     static_cast<int>(wide.size()));
    if (length == 0) {
        length = MultiByteToWideChar(CP_ACP, 0, name.data(), static_cast<int>(name.size()),
                                     &wide[0], static_cast<int>(wide.size()));
    }
    wide.resize(length);
    return wide;
}

std::string Utf8(const std::wstring &wide) {
    char text[MAX_PATH * 3] = {};
    WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, text, sizeof text - 1, nullptr, nullptr);
    return text;
}

// The names in a folder, "." and ".." aside; read wide, as names in any script may be there.
std::vector<std::wstring> NamesIn(const std::wstring &folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return names;
    }
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") {
            names.push_back(name);
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
}

bool PathExists(const std::string &path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A program that has just closed may still hold its files for a moment.
void RemoveFolder(const std::string &folder) {
    const std::wstring path = LongPath(folder);
    for (int attempt = 0; attempt < 50 && GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
         ++attempt) {
        if (!RemoveTree(path)) {
            Sleep(100);
        }
    }
}

bool RenameFolder(const std::string &from, const std::string &to) {
    return MoveFileW(LongPath(from).c_str(), LongPath(to).c_str()) != 0;
}

bool PlaceFile(const std::string &path) {
    const std::wstring wide = LongPath(path);
    for (size_t at = wide.find(L'\\', 7); at != std::wstring::npos;
         at = wide.find(L'\\', at + 1)) {
        CreateDirectoryW(wide.substr(0, at).c_str(), nullptr);
    }
    HANDLE file = CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    CloseHandle(file);
    return true;
}

std::string FileContents(const std::string &path) {
    std::string contents;
    FILE *file = fopen(path.c_str(), "rb");
    if (!file) {
        return contents;
    }
    char chunk[4096];
    for (size_t read; (read = fread(chunk, 1, sizeof chunk, file)) > 0;) {
        contents.append(chunk, read);
    }
    fclose(file);
    return contents;
}
