// The checks' own places on the machine they run on, and the guard that keeps them from
// touching anything else.
#include <cstring>

#include "test_support.h"
#include "uninstall_search.h"

const std::vector<ScratchName> kScratchNames = {
    {"{plain}", "Quendal"},
    {"{spaced}", "Orvanex Quendal"},
    {"{tool}", "scratch"},
    {"{interpreter}", "cmd x"},
    // The letter Q in full width (U+FF31), in UTF-8: the ANSI functions of a code page
    // without it read "Quendal".
    {"{full-width}", "\xEF\xBC\xB1uendal"},
    // One character more than a current folder may have below a drive; a name has at most
    // 255.
    {"{long}", std::string(200, 'l') + "\\" + std::string(259 - 3 - 200 - 1, 'l')},
    // A program named like the text before the blank of "{interpreter}\cmd.exe".
    {nullptr, "cmd.exe"},
    // The stand-in product installed at the drive's root, with its copies.
    {nullptr, "quendal.exe"},
    {nullptr, "quendal.dat"},
    {nullptr, "readme.txt"},
    {nullptr, "uninst.ini"},
    {nullptr, "uninst.exe"},
    {nullptr, "Uninstall.exe"},
};

namespace {

const char kDefaultDrive[] = "Q:";
const char kProductName[] = "Quendal";
// Records at the drive's root: the checks installed the product; the drive shows the
// scratch folder.
const char kClaimName[] = "tessarune-checks-installed-quendal";
const char kMarkerName[] = "tessarune-checks-marker";
const char *const kProgramFilesVariables[] = {"ProgramFiles", "ProgramW6432"};

std::string AtRoot(const std::string &name) { return ScratchDrive() + "\\" + name; }

bool IsScratchName(const std::wstring &name) {
    std::vector<std::string> own = {kClaimName, kMarkerName};
    for (const ScratchName &known : kScratchNames) {
        own.push_back(known.name.substr(0, known.name.find('\\')));
    }
    for (const std::string &ownName : own) {
        if (_wcsicmp(WideName(ownName).c_str(), name.c_str()) == 0) {
            return true;
        }
    }
    return false;
}

// What the scratch folder holds that the checks did not put there; "" when nothing. Read
// wide: the checks' own names include letters this process's code page may lack.
std::string StrangerIn(const std::string &scratch) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(WideName(scratch + "\\*").c_str(), &found);
    std::wstring stranger;
    if (search == INVALID_HANDLE_VALUE) {
        return "";
    }
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L".." && !IsScratchName(name)) {
            stranger = name;
        }
    } while (stranger.empty() && FindNextFileW(search, &found));
    FindClose(search);
    char text[MAX_PATH * 3] = {};
    WideCharToMultiByte(CP_UTF8, 0, stranger.c_str(), -1, text, sizeof text - 1, nullptr,
                        nullptr);
    return text;
}

// An entry named Quendal in either registry view that the checks did not write; "" when
// none.
std::string ForeignProductEntry() {
    std::string foreign;
    WalkEntries([&](HKEY list, const char *name, REGSAM) {
        // Of any type, as the tool reads it.
        char displayName[64] = {};
        DWORD size = sizeof displayName - 1;
        if (foreign.empty() && !IsOwnEntry(name) &&
            RegGetValueA(list, name, "DisplayName", RRF_RT_ANY | RRF_NOEXPAND, nullptr,
                         displayName, &size) == ERROR_SUCCESS &&
            strcmp(displayName, kProductName) == 0) {
            foreign = name;
        }
        return true;
    });
    return foreign;
}

// Quendal's folder in either Program Files, unless the checks installed it; "" when none.
std::string ForeignProductFolder() {
    if (PathExists(AtRoot(kClaimName))) {
        return "";
    }
    for (const char *variable : kProgramFilesVariables) {
        const std::string folder = Setting(variable) + "\\Orvanex\\Quendal";
        if (!Setting(variable).empty() && PathExists(folder)) {
            return folder;
        }
    }
    return "";
}

// A file written into the scratch folder must be there at the drive's root.
bool DriveShowsScratch(const std::string &scratch) {
    const std::string marker = scratch + "\\" + kMarkerName;
    HANDLE file = CreateFileA(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    CloseHandle(file);
    const bool shown = PathExists(AtRoot(kMarkerName));
    DeleteFileA(marker.c_str());
    return shown;
}

}  // namespace

std::string Setting(const char *variable, const char *fallback) {
    const char *value = getenv(variable);
    return value && *value ? value : fallback;
}

std::string ScratchDrive() { return Setting(kDriveVariable, kDefaultDrive); }

void RemoveScratchNames() {
    for (const ScratchName &known : kScratchNames) {
        const std::string path = AtRoot(known.name.substr(0, known.name.find('\\')));
        if (known.placeholder) {
            RemoveFolder(path);
        } else {
            DeleteFileA(path.c_str());
        }
    }
}

void ClaimProductFolder() {
    HANDLE file = CreateFileA(AtRoot(kClaimName).c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
    }
}

void RemoveClaimedProduct() {
    if (PathExists(AtRoot(kClaimName))) {
        RemoveFolder(ProductFolder());
        DeleteFileA(AtRoot(kClaimName).c_str());
    }
}

std::string ReasonToRefuse() {
    const std::string scratch = Setting(kScratchVariable);
    std::string found;
    if (scratch.empty()) {
        return std::string(kScratchVariable) + " is not set: start the checks with run-checks.cmd";
    }
    if (!PathExists(scratch)) {
        return "the scratch folder " + scratch + " is not there";
    }
    if (!(found = StrangerIn(scratch)).empty()) {
        return "the scratch folder " + scratch + " holds " + found +
               ", which the checks did not put there";
    }
    if (!(found = ForeignProductEntry()).empty()) {
        return "Quendal is installed (uninstall entry " + found + "): use a machine without it";
    }
    if (!(found = ForeignProductFolder()).empty()) {
        return "Quendal's folder " + found + " is there: use a machine without it";
    }
    if (!DriveShowsScratch(scratch)) {
        return "drive " + ScratchDrive() + " does not show the scratch folder " + scratch;
    }
    return "";
}
