// The checks' own places on the machine they run on, and the guard that keeps them from
// touching anything else.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "test_support.h"
#include "uninstall_search.h"

const std::vector<ScratchName> kScratchNames = {
    {"{plain}", "Quendal"},
    {"{spaced}", "Orvanex Quendal"},
    {"{tool}", "scratch"},
    {"{interpreter}", "cmd x"},
    {"{R&D}", "R&D ^Quendal"},
    // The letter Q in full width (U+FF31), in UTF-8: the ANSI functions of a code page
    // without it read "Quendal".
    {"{full-width}", "\xEF\xBC\xB1uendal"},
    // One character more than a current folder may have below a drive; a name has at most
    // 255.
    {"{long}", std::string(200, 'l') + "\\" + std::string(259 - 3 - 200 - 1, 'l')},
};

namespace {

const char kDefaultDrive[] = "Q:";
const char *const kProgramFilesVariables[] = {"ProgramFiles", "ProgramW6432"};
// Held while a run lasts: a second run refuses.
const wchar_t kRunMutexName[] = L"Global\\TessaruneChecksRun";
const REGSAM kRegistryViews[] = {KEY_WOW64_32KEY, KEY_WOW64_64KEY};

// What the run installed into the product's folder, and whether its parent was there.
std::vector<std::wstring> gInstalledFiles;
bool gProductParentExisted = true;

std::string AtRoot(const std::string &name) { return ScratchDrive() + "\\" + name; }

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

bool IsAdministrator() {
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof sid;
    BOOL member = FALSE;
    return CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &size) &&
           CheckTokenMembership(nullptr, sid, &member) && member;
}

bool IsOnlyRun() {
    static HANDLE held = nullptr;
    if (!held) {
        held = CreateMutexW(nullptr, TRUE, kRunMutexName);
        if (held && GetLastError() == ERROR_ALREADY_EXISTS) {
            CloseHandle(held);
            held = nullptr;
        }
    }
    return held != nullptr;
}

// A Quendal the tool would find, in either registry view: the tool's own search.
std::string ProductCommand() {
    for (REGSAM view : kRegistryViews) {
        char command[1024];
        if (FindUninstallCommand(command, sizeof command, view)) {
            return command;
        }
    }
    return "";
}

// Quendal's folder in either Program Files; "" when none.
std::string ProductFolderThere() {
    for (const char *variable : kProgramFilesVariables) {
        const std::string folder = Setting(variable) + "\\Orvanex\\Quendal";
        if (!Setting(variable).empty() && PathExists(folder)) {
            return folder;
        }
    }
    return "";
}

// What this run has just written into the scratch folder, which only it knows, must be
// there at the drive's root: a file that was there before proves nothing.
bool DriveShowsScratch(const std::string &scratch) {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    const std::string name = "TessaruneTest-" + RunId() + ".marker";
    const std::string content = RunId() + " " + std::to_string(now.QuadPart);
    const std::string marker = scratch + "\\" + name;
    HANDLE file = CreateFileA(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(file);
    const bool shown = FileContents(AtRoot(name)) == content;
    DeleteFileA(marker.c_str());
    return shown;
}

bool IsLetter(char c) { return (c | 0x20) >= 'a' && (c | 0x20) <= 'z'; }

// "X:", as subst and run-checks.cmd take a drive.
bool IsDrive(const std::string &drive) {
    return drive.size() == 2 && IsLetter(drive[0]) && drive[1] == ':';
}

// "X:\..." or "X:/...": a whole path on a drive, not a share.
bool IsWholeLocalPath(const std::string &path) {
    return path.size() > 3 && IsLetter(path[0]) && path[1] == ':' &&
           (path[2] == '\\' || path[2] == '/');
}

std::wstring ProductParent() {
    const std::wstring folder = WideName(ProductFolder());
    return folder.substr(0, folder.rfind(L'\\'));
}

}  // namespace

std::string Setting(const char *variable, const char *fallback) {
    const char *value = getenv(variable);
    return value && *value ? value : fallback;
}

std::string ScratchDrive() { return Setting(kDriveVariable, kDefaultDrive); }

// Through the drive, which the guard saw showing the scratch folder: the variable may name
// the folder with forward slashes, which the long-path form of RemoveFolder does not take.
void RemoveScratchContents() {
    for (const std::wstring &name : NamesIn(WideName(Setting(kScratchVariable)))) {
        const std::string path = AtRoot(Utf8(name));
        if (!DeleteFileW(WideName(path).c_str())) {
            RemoveFolder(path);
        }
    }
}

bool BeginProductInstall() {
    gProductParentExisted = PathExists(Utf8(ProductParent()));
    return !PathExists(ProductFolder());
}

void EndProductInstall() { gInstalledFiles = NamesIn(WideName(ProductFolder())); }

void RemoveInstalledProduct() {
    for (const std::wstring &name : NamesIn(WideName(ProductFolder()))) {
        if (std::find(gInstalledFiles.begin(), gInstalledFiles.end(), name) ==
            gInstalledFiles.end()) {
            printf("Quendal's folder %s holds %s, which this run did not install: it is left.\n",
                   ProductFolder().c_str(), Utf8(name).c_str());
            return;
        }
    }
    RemoveFolder(ProductFolder());
    if (!gProductParentExisted) {
        RemoveDirectoryW(ProductParent().c_str());
    }
    gInstalledFiles.clear();
}

std::string ReasonToRefuse() {
    const std::string scratch = Setting(kScratchVariable);
    std::vector<std::wstring> names;
    std::string found;
    if (scratch.empty()) {
        return std::string(kScratchVariable) + " is not set: start the checks with run-checks.cmd";
    }
    if (!IsDrive(ScratchDrive())) {
        return std::string(kDriveVariable) + " is \"" + ScratchDrive() +
               "\": give a drive letter and a colon, such as T:";
    }
    if (!IsWholeLocalPath(scratch)) {
        return std::string(kScratchVariable) + " is \"" + scratch +
               "\": give a whole path on a local drive, such as C:\\TessaruneChecks";
    }
    if (!IsAdministrator()) {
        return "they need an administrator's rights: start run-checks.cmd as an administrator";
    }
    if (!IsOnlyRun()) {
        return "another run of the checks is under way";
    }
    if (!PathExists(scratch)) {
        return "the scratch folder " + scratch + " is not there";
    }
    if (!(names = NamesIn(WideName(scratch))).empty()) {
        return "the scratch folder " + scratch + " holds " + Utf8(names[0]) +
               ", which this run did not put there";
    }
    if (!(found = ProductCommand()).empty()) {
        return "Quendal is installed (its uninstall command is " + found +
               "): use a machine without it";
    }
    if (!(found = ProductFolderThere()).empty()) {
        return "Quendal's folder " + found + " is there: use a machine without it";
    }
    if (!DriveShowsScratch(scratch)) {
        return "drive " + ScratchDrive() + " does not show the scratch folder " + scratch;
    }
    if (!ClaimRunFolder()) {
        return "their own folder " + RunFolder() + " cannot be made";
    }
    return "";
}
