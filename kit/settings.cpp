#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <cwchar>
#include <vector>

#include "files.h"
#include "run.h"
#include "settings.h"

namespace {

const char kDefaultDrive[] = "Q:";
// What run-checks.cmd puts before the scratch folder's drive letter for its default share.
const char kDerivedShareStart[] = "\\\\localhost\\";
// What a name in a path of the settings may hold besides letters and digits of any script:
// what the interpreter reads as itself between quotes, on Windows and under Wine alike.
const wchar_t kNamePunctuation[] = L" -_.()&^!'+,;=@#$~[]{}";
const char kFormOfPaths[] =
    "its names of letters, digits, blanks and -_.()&^!'+,;=@#$~[]{}, each after a backslash";
// The drives that are the machine's own: a network drive is not.
const UINT kLocalDriveTypes[] = {DRIVE_FIXED, DRIVE_REMOVABLE, DRIVE_RAMDISK};
// The longest path the run puts below its folder in %TEMP%: the engine's uninstaller copy
// (~nsuA.tmp\Un_A.exe), the stand-in's copies folder with a copy.
const size_t kRunFolderRoom = 48;

bool IsLetter(wchar_t c) { return (c | 0x20) >= 'a' && (c | 0x20) <= 'z'; }

// "X:", as subst and run-checks.cmd take a drive.
bool IsDrive(const std::wstring &drive) {
    return drive.size() == 2 && IsLetter(drive[0]) && drive[1] == L':';
}

// "X:\...": begins at the root of a drive, not a share, not relative.
bool IsAtDriveRoot(const std::wstring &path) {
    return path.size() > 2 && IsDrive(path.substr(0, 2)) && path[2] == L'\\';
}

// A letter or digit of another script, which this process, reading its settings in the
// system's code page where that is not UTF-8, reads as it is and not as a look-alike.
bool IsOtherScriptsLetter(wchar_t c) {
    WORD type = 0;
    BOOL lookAlike = FALSE;
    char bytes[8];
    const UINT codePage = GetACP();
    return GetStringTypeW(CT_CTYPE1, &c, 1, &type) && (type & (C1_ALPHA | C1_DIGIT)) &&
           (codePage == CP_UTF8 ||
            (WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, &c, 1, bytes, sizeof bytes,
                                 nullptr, &lookAlike) > 0 &&
             !lookAlike));
}

bool IsNameCharacter(wchar_t c) {
    return c >= 0xA0 ? IsOtherScriptsLetter(c)
                     : IsLetter(c) || (c >= '0' && c <= '9') || wcschr(kNamePunctuation, c);
}

// Names after backslashes, from at to the end: none empty, "." or "..", or ending in a dot
// or a blank, which Windows drops.
bool AreNames(const std::wstring &path, size_t at) {
    for (size_t end; at < path.size(); at = end + 1) {
        end = std::min(path.find(L'\\', at), path.size());
        const std::wstring name = path.substr(at, end - at);
        if (name.empty() || name.back() == L'.' || name.back() == L' ' ||
            !std::all_of(name.begin(), name.end(), IsNameCharacter)) {
            return false;
        }
    }
    return path.back() != L'\\';
}

bool IsOnLocalDrive(const std::wstring &path) {
    const UINT type = GetDriveTypeW(path.substr(0, 3).c_str());
    return std::find(std::begin(kLocalDriveTypes), std::end(kLocalDriveTypes), type) !=
           std::end(kLocalDriveTypes);
}

// "X:\name\...": a whole path on a drive of this machine, in the form of the settings.
bool IsLocalPath(const std::wstring &path) {
    return path.size() > 3 && IsAtDriveRoot(path) && AreNames(path, 3) &&
           path.size() < MAX_PATH && IsOnLocalDrive(path);
}

// "\\server\share\...": the scratch folder as the checks reach it through the network.
bool IsSharePath(const std::wstring &path) {
    return path.compare(0, 2, L"\\\\") == 0 && path.find(L'\\', 2) != std::wstring::npos &&
           AreNames(path, 2) && path.size() < MAX_PATH;
}

std::wstring WideSetting(const char *variable) {
    std::vector<wchar_t> value(32768);
    const DWORD length = GetEnvironmentVariableW(WideName(variable).c_str(), value.data(),
                                                 static_cast<DWORD>(value.size()));
    return std::wstring(value.data(), length < value.size() ? length : 0);
}

// A setting as the refusal quotes it, on its one line: control characters as "?".
std::string ShownSetting(const char *variable, const char *shownAs = nullptr) {
    std::wstring value = WideSetting(variable);
    std::replace_if(value.begin(), value.end(), [](wchar_t c) { return c < 0x20; }, L'?');
    return std::string(shownAs ? shownAs : variable) + " is \"" + Utf8(value) + "\"";
}

// The test program's own folder, which is the kit's.
std::wstring KitFolder() {
    wchar_t program[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, program, MAX_PATH);
    const std::wstring path(program, length < MAX_PATH ? length : 0);
    return path.substr(0, std::min(path.rfind(L'\\'), path.size()));
}

// The folder that is to hold the scratch folder; the scratch folder's own form first.
std::string ReasonToRefuseScratch(bool beforeDefaults, std::wstring *parent) {
    const std::wstring scratch = WideSetting(kScratchVariable);
    if (scratch.empty() && !WideSetting(kDriveVariable).empty()) {
        return std::string(kDriveVariable) + " is set without " + kScratchVariable +
               ": set both, the drive mapped to that folder, or neither";
    }
    if (scratch.empty() && !beforeDefaults) {
        return std::string(kScratchVariable) + " is not set: start the checks with run-checks.cmd";
    }
    if (scratch.empty()) {
        // run-checks.cmd makes it at the root of the kit's own drive, which is checked first.
        *parent = KitFolder().substr(0, 3);
        return "";
    }
    // run-checks.cmd reaches it as \\localhost\X$\... too, unless a share is given.
    const bool shareGiven = !WideSetting(kShareVariable).empty();
    const size_t longest = MAX_PATH - 1 - (shareGiven ? 0 : strlen(kDerivedShareStart));
    if (scratch.size() > longest) {
        return ShownSetting(kScratchVariable) + ": give one of at most " +
               std::to_string(longest) + " characters" +
               (shareGiven ? ""
                           : ", as the checks reach it as the share \\\\localhost\\X$\\... too");
    }
    if (!IsLocalPath(scratch)) {
        return ShownSetting(kScratchVariable) + ": give a whole path on a local drive, X:\\..., " +
               kFormOfPaths;
    }
    *parent = scratch.substr(0, std::max<size_t>(scratch.rfind(L'\\'), 2)) + L"\\";
    return "";
}

// Their own folder: Windows' cmd takes no share as its current folder, while Wine's enters
// it; and Wine's cmd expands the value of run-checks.cmd's own folder again, so that a
// path holding % may name another folder.
bool IsKitFolder(const std::wstring &folder) {
    return IsAtDriveRoot(folder) && folder.find(L'%') == std::wstring::npos &&
           IsOnLocalDrive(folder);
}

// The temporary folder as its variable gives it, which the refusal shows as it is: Windows
// makes a relative one whole, below whatever folder is current, and shortens one past
// MAX_PATH to nothing.
std::string ReasonToRefuseTemp() {
    const char *variable = WideSetting("TMP").empty() ? "TEMP" : "TMP";
    const std::wstring given = WideSetting(variable);
    const std::wstring run = WideName(RunFolder());
    const size_t longest =
        MAX_PATH - 1 - kRunFolderRoom - (strlen(kRunFolderStart) + kRunIdLength + 1);
    std::string reason;
    if (!given.empty() && !IsAtDriveRoot(given)) {
        reason = "is not a whole path on a local drive, X:\\..., with backslashes";
    } else if (given.size() - (given.empty() || given.back() != L'\\' ? 0 : 1) > longest ||
               run.size() + kRunFolderRoom >= MAX_PATH) {
        reason = "is longer than the " + std::to_string(longest) + " characters they can take";
    } else if (!IsAtDriveRoot(run) || !IsOnLocalDrive(run)) {
        reason = "is not on a local drive";
    } else {
        return "";
    }
    return "their temporary folder, " + ShownSetting(variable) + ", " + reason;
}

// Each setting in its form, whoever started the checks, and the folders they need there.
std::string ReasonToRefuseSettings(bool beforeDefaults) {
    std::wstring parent;
    if (!IsKitFolder(KitFolder())) {
        return "they cannot work in their own folder " + Utf8(KitFolder()) +
               ": unpack them to a folder on a local drive whose path holds no %";
    }
    std::string reason = ReasonToRefuseScratch(beforeDefaults, &parent);
    if (!reason.empty()) {
        return reason;
    }
    if (!WideSetting(kDriveVariable).empty() && !IsDrive(WideSetting(kDriveVariable))) {
        return ShownSetting(kDriveVariable) + ": give a drive letter and a colon, such as T:";
    }
    if (!WideSetting(kShareVariable).empty() && !IsSharePath(WideSetting(kShareVariable))) {
        return ShownSetting(kShareVariable) + ": give a share, \\\\server\\share\\..., " +
               kFormOfPaths;
    }
    if (!(reason = ReasonToRefuseTemp()).empty()) {
        return reason;
    }
    if (!parent.empty() && GetFileAttributesW(parent.c_str()) == INVALID_FILE_ATTRIBUTES) {
        return "the folder that is to hold the scratch folder, " + Utf8(parent) +
               ", is not there";
    }
    return "";
}

}  // namespace

std::string Setting(const char *variable, const char *fallback) {
    const char *value = getenv(variable);
    return value && *value ? value : fallback;
}

std::string ScratchDrive() { return Setting(kDriveVariable, kDefaultDrive); }

std::string ReasonToRefuseSettings() { return ReasonToRefuseSettings(true); }

std::string ReasonToRefuseSettingsSet() { return ReasonToRefuseSettings(false); }
