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

const char kUninstallerWindowTitle[] = "Orvanex Quendal Uninstall ";

const DWORD kPauseAfterSearchMs = 200;
const DWORD kPauseAfterUninstallerMs = 300;
const DWORD kPauseBeforeEndMs = 200;
const DWORD kWindowPollMs = 50;
const DWORD kPauseGranularityMs = 10;
const DWORD kJobWaitLimitMs = 10 * 60 * 1000;

const size_t kCommandSize = 1024;
// The interpreter's path, its switches and the command: within 1024 characters each.
const size_t kCommandLineSize = 2048;

// stdout is a text stream: each "\n" goes out as "\r\n", so every line ends in 0D 0D 0A.
// msvcrt's own printf: the C++ library's headers make printf mingw's C99 one, whose
// formatter (floating point and all) would be a third of the exe, for a "%s".
void PrintBanner() {
    __ms_printf("\r\n");
    __ms_printf(kBannerFormat, kVersion);
    for (const char *line : kHelpLines) {
        __ms_printf("%s", line);
    }
}

void PauseMilliseconds(DWORD ms) {
    const DWORD start = GetTickCount();
    // The unsigned difference keeps a pause whole across the tick count's wrap.
    while (GetTickCount() - start < ms) {
        Sleep(kPauseGranularityMs);
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

// Windows will not delete a folder that is any process's current folder: a tool started in
// the uninstaller's folder, or below it, would keep the uninstaller from removing it. The
// system folder is where deployment engines start programs, and no uninstaller removes it.
void LeaveStartFolder() {
    wchar_t systemFolder[MAX_PATH];
    const UINT length = GetSystemDirectoryW(systemFolder, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
        SetCurrentDirectoryW(systemFolder);
    }
}

// Runs the uninstaller from its own directory and waits until it has finished. Runs
// nothing when the command cannot be run as registered.
void RunUninstaller(const char *command) {
    wchar_t interpreter[MAX_PATH];
    wchar_t folder[MAX_PATH];
    wchar_t commandLine[kCommandLineSize];
    if (!ReadInterpreter(interpreter, MAX_PATH) ||
        !BuildUninstallCommand(command, interpreter, folder, MAX_PATH, commandLine,
                               kCommandLineSize)) {
        return;
    }
    LeaveStartFolder();
    // Wine starts its desktop (explorer.exe /desktop) on demand, as a child of the first
    // program that asks for the desktop window, and a child inherits its parent's job:
    // started by the uninstaller, the desktop would be a program of the job, running until
    // the 10-minute limit. Asked for here, before the job, it is started outside it, and the
    // tool, a program of that desktop until it ends, keeps it from closing. Windows always
    // has its desktop.
    GetDesktopWindow();
    HANDLE job = JoinOwnJob();
    HANDLE started = StartInterpreter(interpreter, commandLine, folder);
    if (started) {
        WaitForSingleObject(started, INFINITE);
        CloseHandle(started);
    }
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
