#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cwchar>

#include "files.h"

namespace {

// The "\\?\" form, in which paths longer than MAX_PATH work on Windows as they do on
// Wine; a share's is "\\?\UNC\server\share".
std::wstring LongPath(const std::string &path) {
    const std::wstring wide = WideName(path);
    return wide.compare(0, 2, L"\\\\") == 0 ? L"\\\\?\\UNC" + wide.substr(1)
                                            : L"\\\\?\\" + wide;
}

// Every file and folder this run made, or had a program of its own make, by the name it
// was made under, oldest first: what the run deletes, and all it deletes.
std::vector<std::wstring> gMade;

bool IsBelow(const std::wstring &path, const std::wstring &folder) {
    return path.size() >= folder.size() &&
           _wcsnicmp(path.c_str(), folder.c_str(), folder.size()) == 0 &&
           (path.size() == folder.size() || path[folder.size()] == L'\\');
}

bool IsThere(const std::wstring &path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A junction or a symbolic link.
bool IsLinkAt(const std::wstring &path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Whether a folder on the way to path is a link: what lies behind it is not what the run
// made, whatever the name.
bool IsBehindLink(const std::wstring &path) {
    for (size_t at = path.rfind(L'\\'); at != std::wstring::npos && at > 7;
         at = path.rfind(L'\\', at - 1)) {
        if (IsLinkAt(path.substr(0, at))) {
            return true;
        }
    }
    return false;
}

// A folder only when that leaves nothing in it: RemoveDirectoryW takes no other. A link
// itself goes, never what it leads to.
bool DeleteOne(const std::wstring &path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && IsBehindLink(path)) {
        return false;
    }
    return attributes == INVALID_FILE_ATTRIBUTES ||
           ((attributes & FILE_ATTRIBUTE_DIRECTORY) ? RemoveDirectoryW(path.c_str())
                                                     : DeleteFileW(path.c_str())) != 0;
}

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

std::string ProgramsFolder() {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    const std::string program(path, length < sizeof path ? length : 0);
    return program.substr(0, std::min(program.rfind('\\'), program.size()));
}

bool PathExists(const std::string &path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void NoteMade(const std::string &path) { gMade.push_back(LongPath(path)); }

bool MakeFolder(const std::string &path) {
    if (!CreateDirectoryW(LongPath(path).c_str(), nullptr)) {
        return false;
    }
    NoteMade(path);
    return true;
}

bool CopyNewFile(const std::string &from, const std::string &to) {
    if (!CopyFileW(LongPath(from).c_str(), LongPath(to).c_str(), TRUE)) {
        return false;
    }
    NoteMade(to);
    return true;
}

// What was made below from now goes by the names below to.
bool RenameFolder(const std::string &from, const std::string &to) {
    const std::wstring oldName = LongPath(from);
    const std::wstring newName = LongPath(to);
    if (!MoveFileW(oldName.c_str(), newName.c_str())) {
        return false;
    }
    for (std::wstring &made : gMade) {
        if (IsBelow(made, oldName)) {
            made = newName + made.substr(oldName.size());
        }
    }
    return true;
}

bool PlaceFile(const std::string &path) {
    const std::wstring wide = LongPath(path);
    for (size_t at = wide.find(L'\\', 7); at != std::wstring::npos;
         at = wide.find(L'\\', at + 1)) {
        if (CreateDirectoryW(wide.substr(0, at).c_str(), nullptr)) {
            gMade.push_back(wide.substr(0, at));
        }
    }
    HANDLE file = CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    CloseHandle(file);
    gMade.push_back(wide);
    return true;
}

// Newest first, so that a folder's files go before it. A program that has just closed may
// still hold its files for a moment.
void RemoveMade(const std::string &folder) {
    const std::wstring below = LongPath(folder);
    for (int attempt = 0; attempt < 50; ++attempt) {
        bool left = false;
        for (size_t index = gMade.size(); index-- > 0;) {
            if (!IsBelow(gMade[index], below)) {
                continue;
            }
            if (DeleteOne(gMade[index])) {
                gMade.erase(gMade.begin() + static_cast<std::ptrdiff_t>(index));
            } else {
                left = true;
            }
        }
        if (!left) {
            return;
        }
        Sleep(100);
    }
}

bool IsMade(const std::string &path) {
    const std::wstring wide = LongPath(path);
    for (const std::wstring &made : gMade) {
        if (_wcsicmp(made.c_str(), wide.c_str()) == 0) {
            return true;
        }
    }
    return false;
}

bool IsLink(const std::string &path) { return IsLinkAt(LongPath(path)); }

std::vector<std::string> MadeAndLeft() {
    std::vector<std::string> left;
    for (const std::wstring &made : gMade) {
        if (IsThere(made)) {
            left.push_back(Utf8(made.substr(4)));
        }
    }
    return left;
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
