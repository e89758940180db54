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
const char kShareVariable[] = "TESSARUNE_SHARE";
// run-checks.cmd's scratch folder, when none is given, is made below this drive's root.
const char kSystemDriveVariable[] = "SystemDrive";
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
// The digits of a run's id in the names of its entries and its folder.
const size_t kRunIdLength = 16;
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
std::string ShownSetting(const char *variable) {
    std::wstring value = WideSetting(variable);
    std::replace_if(value.begin(), value.end(), [](wchar_t c) { return c < 0x20; }, L'?');
    return std::string(variable) + " is \"" + Utf8(value) + "\"";
}

// The folder that is to hold the scratch folder; the scratch folder's own form first.
std::string ReasonToRefuseScratch(bool beforeDefaults, std::wstring *parent) {
    const std::wstring scratch = WideSetting(kScratchVariable);
    const std::wstring systemDrive = WideSetting(kSystemDriveVariable);
    if (scratch.empty() && !WideSetting(kDriveVariable).empty()) {
        return std::string(kDriveVariable) + " is set without " + kScratchVariable +
               ": set both, the drive mapped to that folder, or neither";
    }
    if (scratch.empty() && !beforeDefaults) {
        return std::string(kScratchVariable) + " is not set: start the checks with run-checks.cmd";
    }
    if (scratch.empty()) {
        *parent = systemDrive + L"\\";
        return IsDrive(systemDrive) && IsOnLocalDrive(*parent)
                   ? ""
                   : ShownSetting(kSystemDriveVariable) + ": give the scratch folder as " +
                         kScratchVariable;
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

// The temporary folder as its variable gives it: Windows makes a relative one whole, below
// whatever folder is current.
bool IsTempFolderWhole() {
    std::wstring given = WideSetting("TMP");
    given = given.empty() ? WideSetting("TEMP") : given;
    const std::wstring run = WideName(RunFolder());
    return (given.empty() || IsAtDriveRoot(given)) && IsAtDriveRoot(run) &&
           run.size() + kRunFolderRoom < MAX_PATH && IsOnLocalDrive(run);
}

// Each setting in its form, whoever started the checks, and the folders they need there.
std::string ReasonToRefuseSettings(bool beforeDefaults) {
    std::wstring parent;
    wchar_t program[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, program, MAX_PATH);
    const std::wstring kit(program, length < MAX_PATH ? length : 0);
    if (!IsKitFolder(kit.substr(0, kit.rfind(L'\\')))) {
        return "they cannot work in their own folder " + Utf8(kit.substr(0, kit.rfind(L'\\'))) +
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
    if (!IsTempFolderWhole()) {
        return "their temporary folder (%TMP%, else %TEMP%) is \"" + StartTempFolder() +
               "\": they need a whole path on a local drive of at most " +
               std::to_string(MAX_PATH - 1 - kRunFolderRoom - (RunFolder().size() -
                                                                StartTempFolder().size())) +
               " characters";
    }
    if (!parent.empty() && GetFileAttributesW(parent.c_str()) == INVALID_FILE_ATTRIBUTES) {
        return "the folder that is to hold the scratch folder, " + Utf8(parent) +
               ", is not there";
    }
    return "";
}

bool IsRunId(const std::string &text, size_t at) {
    return text.size() >= at + kRunIdLength &&
           std::all_of(text.begin() + at, text.begin() + at + kRunIdLength,
                       [](char c) { return isxdigit(static_cast<unsigned char>(c)) != 0; });
}

// An entry named as a run names its own, "TessaruneTest <id> ...", the rest of letters,
// digits and blanks: the refusal puts the name into a command to copy.
bool IsRunEntryName(const std::string &name) {
    const size_t start = strlen(kEntryNameStart);
    return name.compare(0, start, kEntryNameStart) == 0 && IsRunId(name, start) &&
           name.size() > start + kRunIdLength && name[start + kRunIdLength] == ' ' &&
           std::all_of(name.begin() + start, name.end(),
                       [](char c) { return isalnum(static_cast<unsigned char>(c)) || c == ' '; });
}

// The id of an earlier run's entry, or of its folder in %TEMP%; "" when none is there.
std::string EarlierRunId(std::string *entry, REGSAM *view) {
    WalkEntries([&](HKEY, const char *name, REGSAM entryView) {
        if (entry->empty() && IsRunEntryName(name)) {
            *entry = name;
            *view = entryView;
        }
        return true;
    });
    if (!entry->empty()) {
        return entry->substr(strlen(kEntryNameStart), kRunIdLength);
    }
    const size_t start = strlen(kRunFolderStart);
    for (const std::wstring &wide : NamesIn(WideName(StartTempFolder()))) {
        const std::string name = Utf8(wide);
        if (name.size() == start + kRunIdLength && name.compare(0, start, kRunFolderStart) == 0 &&
            IsRunId(name, start)) {
            return name.substr(start);
        }
    }
    return "";
}

// What a run stopped part way left, and how to remove it, or "". Nothing is removed here:
// a name is all that says whose it is, and anyone may give an entry or a folder such a name.
std::string EarlierRunLeft() {
    std::string entry;
    REGSAM view = 0;
    const std::string id = EarlierRunId(&entry, &view);
    if (id.empty()) {
        return "";
    }
    std::string left;
    std::string removal;
    if (!entry.empty()) {
        left = ", uninstall entries named \"" + std::string(kEntryNameStart) + id + " ...\"";
        removal = ", reg delete \"HKLM\\" + std::string(kUninstallKeyPath) + "\\" + entry +
                  "\" /f /reg:" + (view == KEY_WOW64_32KEY ? "32" : "64") + " for each entry";
    }
    const std::string runFolder = StartTempFolder() + kRunFolderStart + id;
    for (const std::string &folder : {entry.empty() ? "" : ProductFolderThere(), runFolder}) {
        if (!folder.empty() && PathExists(folder)) {
            left += ", " + folder;
            removal += ", rmdir /s /q \"" + folder + "\"";
        }
    }
    return "an earlier run of the checks, stopped part way, left" + left.substr(1) +
           ": remove them (" + removal.substr(2) + ") and start again";
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

std::string ReasonToRefuseSettings() { return ReasonToRefuseSettings(true); }

std::string ReasonToRefuse() {
    std::string reason = ReasonToRefuseSettings(false);
    const std::string scratch = Setting(kScratchVariable);
    std::vector<std::wstring> names;
    std::string found;
    if (!reason.empty()) {
        return reason;
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
    if (!(found = EarlierRunLeft()).empty()) {
        return found;
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
