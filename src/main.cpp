#include <direct.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "uninstall_command.h"
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
// one job only, so a tool started inside another job gets none there.
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
    char commandText[kCommandSize];
    char startFolder[kCommandSize];
    if (!BuildUninstallCommand(command, interpreter, directory, sizeof directory, commandText,
                               sizeof commandText) ||
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
