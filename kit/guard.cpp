#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <vector>

#include "entries.h"
#include "files.h"
#include "guard.h"
#include "product.h"
#include "reboot_records.h"
#include "run.h"
#include "scratch.h"
#include "settings.h"
#include "uninstall_search.h"

namespace {

const char *const kProgramFilesVariables[] = {"ProgramFiles", "ProgramW6432"};
// Held while a run lasts: a second run refuses.
const wchar_t kRunMutexName[] = L"Global\\TessaruneChecksRun";
const REGSAM kRegistryViews[] = {KEY_WOW64_32KEY, KEY_WOW64_64KEY};

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
    const bool shown = FileContents(AtScratchRoot(name)) == content;
    DeleteFileA(marker.c_str());
    return shown;
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

// A folder as the refusal names it: whether it is surely an earlier run's, and then how
// to remove it.
std::string FolderVerdict(const std::string &folder, bool runs, const std::string &whose) {
    return folder + (runs ? ", " + whose + " (rmdir /s /q \"" + folder + "\")"
                          : ", which holds what " + whose + " does not: not theirs to remove");
}

// What a run stopped part way may have left, and how to remove what is surely its own, or
// "". Nothing is removed here: a name is all that says whose an entry is, and anyone may
// give an entry or a folder such a name; a folder is the run's only when it holds nothing
// but what the run puts there.
std::string EarlierRunLeft() {
    std::string entry;
    REGSAM view = 0;
    const std::string id = EarlierRunId(&entry, &view);
    if (id.empty()) {
        return "";
    }
    std::vector<std::string> left;
    const std::string product = entry.empty() ? "" : ProductFolderThere();
    if (!entry.empty()) {
        left.push_back("uninstall entries named as a run names its own, such as \"" + entry +
                       "\" (" + (view == KEY_WOW64_32KEY ? "32" : "64") +
                       "-bit view), which the checks cannot tell from anyone else's");
    }
    if (!product.empty()) {
        left.push_back(FolderVerdict(
            product, HoldsOnlyTestProduct(product, kEntryNameStart + id + " "),
            "the test Quendal that run installed"));
    }
    const std::string runFolder = StartTempFolder() + kRunFolderStart + id;
    if (PathExists(runFolder)) {
        left.push_back(
            FolderVerdict(runFolder, HoldsOnlyRunsFiles(runFolder), "that run's folder"));
    }
    std::string line;
    for (const std::string &part : left) {
        line += "; " + part;
    }
    return "an earlier run of the checks may have stopped part way: " + line.substr(2) +
           "; remove what is theirs and start again";
}

}  // namespace

std::string ReasonToRefuse() {
    std::string reason = ReasonToRefuseSettingsSet();
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
    if (!RebootRecordsReadable()) {
        return "the delete-on-reboot records, PendingFileRenameOperations in HKLM\\" +
               std::string(kSessionManagerKeyPath) +
               ", cannot be read as pairs of names ended by an empty string: the records the "
               "run's programs add could change others'";
    }
    if (!ClaimRunFolder()) {
        return "their own folder " + RunFolder() + " cannot be made";
    }
    return "";
}
