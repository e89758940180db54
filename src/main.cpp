#include <direct.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "uninstall_search.h"
#include "version.h"

namespace {

const char kVersion[] = TESSARUNE_VERSION;
const char kBannerFormat[] = "Tessarune -- Version V%s\r\n";
const char *const kHelpLines[] = {
    "   This program searches the  Windows Registry for the\r\n",
    "   appropriate command  to remove the  Orvanex\r\n",
    "   Quendal and executes the un-installer silently.\r\n",
};

const char kInterpreterVariable[] = "COMSPEC";
const char kSwitchPiece[] = " /c \"";
const char kCurrentDirectoryPrefix[] = ".\\";
const char kNameQuote[] = "\"";
const char kSilentSwitch[] = " /uninst";
const char kClosingPiece[] = "\"";
const char kUninstallerWindowTitle[] = "Orvanex Quendal Uninstall ";

const DWORD kPauseAfterSearchMs = 200;
const DWORD kPauseAfterUninstallerMs = 300;
const DWORD kPauseBeforeEndMs = 200;
const DWORD kWindowPollMs = 50;
const DWORD kPauseGranularityMs = 10;
const DWORD kJobWaitLimitMs = 10 * 60 * 1000;

const size_t kCommandSize = 1024;

// stdout is a text stream: each "\n" goes out as "\r\n", so every line ends in 0D 0D 0A.
void PrintBanner() {
    printf("\r\n");
    printf(kBannerFormat, kVersion);
    for (const char *line : kHelpLines) {
        printf("%s", line);
    }
}

void PauseMilliseconds(DWORD ms) {
    const DWORD start = GetTickCount();
    // The unsigned difference keeps a pause whole across the tick count's wrap.
    while (GetTickCount() - start < ms) {
        Sleep(kPauseGranularityMs);
    }
}

// Copies text[0, length) into holder; false when it does not fit.
bool CopyPiece(char *holder, size_t holderSize, const char *text, size_t length) {
    if (length >= holderSize) {
        return false;
    }
    memcpy(holder, text, length);
    holder[length] = '\0';
    return true;
}

const char *FindLastBackslash(const char *begin, const char *end) {
    for (const char *at = end; at != begin; --at) {
        if (at[-1] == '\\') {
            return at - 1;
        }
    }
    return nullptr;
}

bool HasBlank(const char *text, size_t length) { return memchr(text, ' ', length) != nullptr; }

bool IsFileIn(const char *directory, const char *name, size_t nameLength) {
    char path[kCommandSize];
    const bool rooted = directory[strlen(directory) - 1] == '\\';
    const int length = snprintf(path, sizeof path, "%s%s%.*s", directory, rooted ? "" : "\\",
                                static_cast<int>(nameLength), name);
    if (length < 0 || static_cast<size_t>(length) >= sizeof path) {
        return false;
    }
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Splits the command at the last backslash of the program's path into the directory and the
// program as it is run from there: ".\", the file name and any arguments. A path in double
// quotes is split between its quotes and loses them; text after the closing quote follows
// the file name. A file name with a blank gets quotes of its own, or cmd would run the text
// before the blank: registered in quotes, the file must exist; registered bare, it is taken
// whole only when a file of that whole name exists, else the blank separates arguments.
// Byte-wise search: a backslash byte is taken as one even inside a multi-byte character.
bool SplitUninstallCommand(const char *command, char *directory, char *program, size_t size) {
    const char *pathBegin = command;
    const char *pathEnd = command + strlen(command);
    const char *closingQuote = command[0] == '"' ? strchr(command + 1, '"') : nullptr;
    if (closingQuote) {
        pathBegin = command + 1;
        pathEnd = closingQuote;
    }
    const char *backslash = FindLastBackslash(pathBegin, pathEnd);
    if (!backslash) {
        return false;
    }
    // Below a drive the directory keeps its backslash: "C:" alone would name the drive's
    // current directory, not its root.
    const char *directoryEnd = backslash;
    if (backslash - pathBegin == 2 && pathBegin[1] == ':') {
        ++directoryEnd;
    }
    const char *name = backslash + 1;
    const size_t nameLength = pathEnd - name;
    if (directoryEnd == pathBegin || nameLength == 0 || name[0] == ' ' ||
        !CopyPiece(directory, size, pathBegin, directoryEnd - pathBegin)) {
        return false;
    }
    const bool blank = HasBlank(name, nameLength);
    const bool exists = blank && IsFileIn(directory, name, nameLength);
    if (closingQuote && blank && !exists) {
        return false;
    }
    const char *quote = exists ? kNameQuote : "";
    const char *rest = closingQuote ? closingQuote + 1 : pathEnd;
    const int length = snprintf(program, size, "%s%s%.*s%s%s", quote, kCurrentDirectoryPrefix,
                                static_cast<int>(nameLength), name, quote, rest);
    return length >= 0 && static_cast<size_t>(length) < size;
}

// cmd refuses a UNC path as its current directory: it warns and starts in the Windows folder,
// where ".\" names another program or none.
bool IsUncPath(const char *directory) { return directory[0] == '\\' && directory[1] == '\\'; }

// cmd /c drops the first and the last double quote of its command and runs the rest, so
// quotes around the file name or inside its arguments survive.
bool BuildCommandText(char *text, size_t size, const char *interpreter, const char *program) {
    const int length = snprintf(text, size, "%s%s%s%s%s", interpreter, kSwitchPiece, program,
                                kSilentSwitch, kClosingPiece);
    return length >= 0 && static_cast<size_t>(length) < size;
}

bool IsSameOrBelow(const char *path, const char *directory) {
    const size_t length = strlen(directory);
    return _strnicmp(path, directory, length) == 0 &&
           (path[length] == '\0' || path[length] == '\\' || directory[length - 1] == '\\');
}

// Windows will not delete a directory that is any process's current directory: let go of
// the uninstaller's folder, the current one, to the folder the tool was started from, or to
// the system folder (where deployment engines start programs) when that one is the
// uninstaller's folder, lies below it, or is gone.
void LeaveUninstallerFolder(const char *startFolder) {
    char uninstallerFolder[kCommandSize];
    if (_getcwd(uninstallerFolder, sizeof uninstallerFolder) &&
        !IsSameOrBelow(startFolder, uninstallerFolder) && _chdir(startFolder) == 0) {
        return;
    }
    char systemFolder[MAX_PATH];
    const UINT length = GetSystemDirectoryA(systemFolder, sizeof systemFolder);
    if (length > 0 && length < sizeof systemFolder) {
        _chdir(systemFolder);
    }
}

// A job of the tool's own holds the interpreter, the uninstaller and whatever they start,
// so that the tool can tell whether any of them still runs after the interpreter has
// returned. It ends nothing when its last handle closes (no kill-on-close), and a program
// that asks to leave it may. nullptr where no job can be had: Windows 7 puts a process in
// one job only, and refuses a second when the first allows no breakaway.
HANDLE JoinOwnJob() {
    HANDLE job = CreateJobObjectA(nullptr, nullptr);
    if (!job) {
        return nullptr;
    }
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_BREAKAWAY_OK;
    if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits,
                                 sizeof limits) ||
        !AssignProcessToJobObject(job, GetCurrentProcess())) {
        CloseHandle(job);
        return nullptr;
    }
    return job;
}

// Whether a process of the job other than the tool itself still runs.
bool OthersRunIn(HANDLE job) {
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting;
    return job &&
           QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &accounting,
                                     sizeof accounting, nullptr) &&
           accounting.ActiveProcesses > 1;
}

// Waits while the uninstaller's window is there and, until it has been seen, while the
// uninstaller's processes still run: an uninstaller that hands its work to a copy of itself
// may show the copy's window late, or none. Once the window has closed, programs the
// uninstaller left running are not waited for.
void WaitForUninstaller(HANDLE job) {
    const DWORD start = GetTickCount();
    for (bool seen = false;; Sleep(kWindowPollMs)) {
        if (FindWindowA(nullptr, kUninstallerWindowTitle)) {
            seen = true;
        } else if (seen || !OthersRunIn(job) || GetTickCount() - start >= kJobWaitLimitMs) {
            return;
        }
    }
}

// Runs the uninstaller from its own directory and waits until it has finished. Runs
// nothing when the command cannot be run as registered.
void RunUninstaller(const char *command) {
    const char *interpreter = getenv(kInterpreterVariable);
    if (!interpreter) {
        return;
    }
    char directory[kCommandSize];
    char program[kCommandSize];
    char commandText[kCommandSize];
    char startFolder[kCommandSize];
    if (!SplitUninstallCommand(command, directory, program, sizeof directory) ||
        IsUncPath(directory) ||
        !BuildCommandText(commandText, sizeof commandText, interpreter, program) ||
        !_getcwd(startFolder, sizeof startFolder)) {
        return;
    }
    // ".\" in the command text means this directory: from anywhere else it would start
    // another program of the same name.
    if (_chdir(directory) != 0) {
        return;
    }
    HANDLE job = JoinOwnJob();
    system(commandText);
    LeaveUninstallerFolder(startFolder);
    PauseMilliseconds(kPauseAfterUninstallerMs);
    WaitForUninstaller(job);
    if (job) {
        CloseHandle(job);
    }
}

}  // namespace

int main(int argc, char **) {
    if (argc > 1) {
        PrintBanner();
        exit(0);
    }
    char command[kCommandSize];
    if (!FindUninstallCommand(command, sizeof command)) {
        return 0;
    }
    PauseMilliseconds(kPauseAfterSearchMs);
    RunUninstaller(command);
    PauseMilliseconds(kPauseBeforeEndMs);
    return 0;
}
