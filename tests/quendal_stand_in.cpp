// A stand-in for the product "Quendal", built as installer engines build their products:
//   quendal_stand_in.exe /install FOLDER [/entry=KEY] [/relaunch] [/work=MS] [/log=FILE]
// installs the product (files, its uninstaller uninst.exe, its uninstall entry), and
//   uninst.exe ... /uninst
// removes it: with /relaunch the uninstaller first copies itself to %TEMP%, starts the copy
// (with /breakaway, asking to leave the job it runs in) and exits, and the copy does the
// work. While it works it shows its window for MS milliseconds. Each instance appends to
// FILE how it was started and what it did.
//   quendal_stand_in.exe /linger=MS
// stays MS milliseconds and logs when it began and ended, in the log where tests look: a
// program an uninstaller leaves running. Named cmd.exe it is an interpreter that runs
// nothing and logs its folder, its command line and which standard handles it was given.
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "test_support.h"
#include "uninstall_search.h"

namespace {

const char kWindowTitle[] = "Orvanex Quendal Uninstall ";
const char kSilentSwitch[] = "/uninst";
const char kSettingsSection[] = "Uninstall";
const char kInterpreterName[] = "cmd.exe";

const size_t kPathSize = 1024;
const DWORD kRelaunchStartTimeoutMs = 10000;

struct Settings {
    char entry[256];
    char log[kPathSize];
    bool relaunch;
    bool breakaway;
    DWORD workMs;
};

Settings gSettings = {"Quendal", "", false, false, 1000};

void Log(const char *format, ...) {
    FILE *file = gSettings.log[0] ? fopen(gSettings.log, "a") : nullptr;
    if (!file) {
        return;
    }
    va_list args;
    va_start(args, format);
    vfprintf(file, format, args);
    va_end(args);
    fputc('\n', file);
    fclose(file);
}

unsigned long long Now() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

void JoinPath(char *out, const char *folder, const char *name) {
    const size_t length = strlen(folder);
    const bool separated = length > 0 && folder[length - 1] == '\\';
    snprintf(out, kPathSize, "%s%s%s", folder, separated ? "" : "\\", name);
}

void WriteSetting(const char *file, const char *key, const char *value) {
    WritePrivateProfileStringA(kSettingsSection, key, value, file);
}

// Where the tests read the log.
void DefaultLogPath(char *out, DWORD size) {
    const DWORD length = GetTempPathA(size, out);
    snprintf(out + length, size - length, "%s", kStandInLogName);
}

void ReadSettings(const char *folder) {
    char file[kPathSize];
    JoinPath(file, folder, kStandInSettings);
    GetPrivateProfileStringA(kSettingsSection, "Entry", gSettings.entry, gSettings.entry,
                             sizeof gSettings.entry, file);
    // Without its settings (Wine reads none from a network share) it logs where tests look.
    char fallbackLog[kPathSize];
    DefaultLogPath(fallbackLog, sizeof fallbackLog);
    GetPrivateProfileStringA(kSettingsSection, "Log", fallbackLog, gSettings.log,
                             sizeof gSettings.log, file);
    gSettings.relaunch = GetPrivateProfileIntA(kSettingsSection, "Relaunch", 0, file) != 0;
    gSettings.breakaway = GetPrivateProfileIntA(kSettingsSection, "Breakaway", 0, file) != 0;
    gSettings.workMs = GetPrivateProfileIntA(kSettingsSection, "WorkMs", 1000, file);
}

void SetText(HKEY key, const char *name, const char *text) {
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(text),
                   static_cast<DWORD>(strlen(text) + 1));
}

void SetNumber(HKEY key, const char *name, DWORD number) {
    RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&number),
                   sizeof number);
}

bool RegisterProduct(const char *folder, const char *uninstaller) {
    char path[kPathSize];
    JoinPath(path, kUninstallKeyPath, gSettings.entry);
    HKEY entry;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &entry,
                        nullptr) != ERROR_SUCCESS) {
        return false;
    }
    char command[kPathSize];
    snprintf(command, sizeof command, "\"%s\"", uninstaller);
    SetText(entry, "DisplayName", "Quendal");
    SetText(entry, "UninstallString", command);
    SetText(entry, "DisplayIcon", uninstaller);
    SetText(entry, "DisplayVersion", "4.2.0");
    SetText(entry, "Publisher", "Orvanex");
    SetText(entry, "InstallLocation", folder);
    SetNumber(entry, "EstimatedSize", 2048);
    SetNumber(entry, "NoModify", 1);
    SetNumber(entry, "NoRepair", 1);
    RegCloseKey(entry);
    return true;
}

bool CreateFolders(const char *folder) {
    char partial[kPathSize];
    snprintf(partial, sizeof partial, "%s", folder);
    for (char *at = partial + 3; *at; ++at) {
        if (*at == '\\') {
            *at = '\0';
            CreateDirectoryA(partial, nullptr);
            *at = '\\';
        }
    }
    CreateDirectoryA(partial, nullptr);
    const DWORD attributes = GetFileAttributesA(folder);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

int Install(const char *self, const char *folder) {
    char path[kPathSize];
    if (!CreateFolders(folder)) {
        return 1;
    }
    for (const char *name : kStandInProductFiles) {
        JoinPath(path, folder, name);
        FILE *file = fopen(path, "w");
        if (!file) {
            return 1;
        }
        fprintf(file, "Quendal %s\n", name);
        fclose(file);
    }
    JoinPath(path, folder, kStandInSettings);
    char number[16];
    WriteSetting(path, "Entry", gSettings.entry);
    WriteSetting(path, "Log", gSettings.log);
    WriteSetting(path, "Relaunch", gSettings.relaunch ? "1" : "0");
    WriteSetting(path, "Breakaway", gSettings.breakaway ? "1" : "0");
    snprintf(number, sizeof number, "%lu", gSettings.workMs);
    WriteSetting(path, "WorkMs", number);
    JoinPath(path, folder, kStandInUninstaller);
    if (!CopyFileA(self, path, FALSE) || !RegisterProduct(folder, path)) {
        return 1;
    }
    return 0;
}

// The copy must not hold the product's folder as its current directory, or it could not
// remove it. Waits until the copy shows its window, so that the removal is under way when
// this instance ends.
// The copy goes into a folder of the checks' own, which they delete when they clean up: a
// delete-on-reboot record would read as "reboot pending" to deployment tools.
int Relaunch(const char *self, const char *folder) {
    char temp[MAX_PATH];
    char copies[kPathSize];
    char copy[MAX_PATH];
    if (!GetTempPathA(sizeof temp, temp)) {
        return 1;
    }
    JoinPath(copies, temp, kStandInCopiesName);
    CreateDirectoryA(copies, nullptr);
    if (!GetTempFileNameA(copies, "qun", 0, copy) || !CopyFileA(self, copy, FALSE)) {
        return 1;
    }
    char commandLine[kPathSize * 2];
    snprintf(commandLine, sizeof commandLine, "\"%s\" \"/origin=%s\" %s", copy, folder,
             kSilentSwitch);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    const DWORD flags = gSettings.breakaway ? CREATE_BREAKAWAY_FROM_JOB : 0;
    if (!CreateProcessA(copy, commandLine, nullptr, nullptr, FALSE, flags, nullptr, temp,
                        &startup, &process)) {
        Log("relaunch-failed|%lu", GetLastError());
        return 1;
    }
    WaitForInputIdle(process.hProcess, kRelaunchStartTimeoutMs);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 0;
}

void ShowWindowFor(DWORD ms) {
    const DWORD start = GetTickCount();
    for (DWORD elapsed = 0; elapsed < ms; elapsed = GetTickCount() - start) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - elapsed, QS_ALLINPUT);
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageA(&message);
        }
    }
}

void RemoveProduct(const char *self, const char *folder) {
    char path[kPathSize];
    int deleted = 0;
    for (const char *name : kStandInProductFiles) {
        JoinPath(path, folder, name);
        deleted += DeleteFileA(path) ? 1 : 0;
    }
    JoinPath(path, folder, kStandInSettings);
    deleted += DeleteFileA(path) ? 1 : 0;
    JoinPath(path, folder, kStandInUninstaller);
    if (_stricmp(path, self) != 0) {
        deleted += DeleteFileA(path) ? 1 : 0;
    }
    const bool folderRemoved = RemoveDirectoryA(folder) != 0;
    const DWORD folderError = folderRemoved ? 0 : GetLastError();
    JoinPath(path, kUninstallKeyPath, gSettings.entry);
    const bool entryRemoved = RegDeleteKeyA(HKEY_LOCAL_MACHINE, path) == ERROR_SUCCESS;
    Log("removed|files=%d|folder=%d|folder-error=%lu|entry=%d", deleted, folderRemoved ? 1 : 0,
        folderError, entryRemoved ? 1 : 0);
}

int Uninstall(const char *self, const char *folder, bool isCopy) {
    char directory[kPathSize];
    GetCurrentDirectoryA(sizeof directory, directory);
    Log("started|%s|%s", directory, GetCommandLineA());
    if (gSettings.relaunch && !isCopy) {
        return Relaunch(self, folder);
    }
    HWND window = CreateWindowA("STATIC", kWindowTitle, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                                320, 120, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    Log("window-open|%llu", Now());
    ShowWindowFor(gSettings.workMs);
    RemoveProduct(self, folder);
    DestroyWindow(window);
    Log("window-closed|%llu", Now());
    return 0;
}

int Linger(DWORD ms) {
    DefaultLogPath(gSettings.log, sizeof gSettings.log);
    Log("lingering|%llu", Now());
    Sleep(ms);
    Log("lingered|%llu", Now());
    return 0;
}

int Interpret() {
    DefaultLogPath(gSettings.log, sizeof gSettings.log);
    char directory[kPathSize];
    GetCurrentDirectoryA(sizeof directory, directory);
    Log("interpreter|%s|%s|%d %d %d", directory, GetCommandLineA(),
        GetStdHandle(STD_INPUT_HANDLE) != nullptr, GetStdHandle(STD_OUTPUT_HANDLE) != nullptr,
        GetStdHandle(STD_ERROR_HANDLE) != nullptr);
    return 0;
}

const char *OptionValue(const char *argument, const char *option) {
    const size_t length = strlen(option);
    return strncmp(argument, option, length) == 0 ? argument + length : nullptr;
}

}  // namespace

int main(int argc, char **argv) {
    char self[kPathSize];
    GetModuleFileNameA(nullptr, self, sizeof self);
    if (_stricmp(strrchr(self, '\\') + 1, kInterpreterName) == 0) {
        return Interpret();
    }
    const char *folder = nullptr;
    bool install = false;
    for (int index = 1; index < argc; ++index) {
        const char *value = nullptr;
        if (strcmp(argv[index], "/install") == 0 && index + 1 < argc) {
            install = true;
            folder = argv[++index];
        } else if ((value = OptionValue(argv[index], "/origin="))) {
            folder = value;
        } else if ((value = OptionValue(argv[index], "/entry="))) {
            snprintf(gSettings.entry, sizeof gSettings.entry, "%s", value);
        } else if ((value = OptionValue(argv[index], "/log="))) {
            snprintf(gSettings.log, sizeof gSettings.log, "%s", value);
        } else if ((value = OptionValue(argv[index], "/work="))) {
            gSettings.workMs = strtoul(value, nullptr, 10);
        } else if (strcmp(argv[index], "/relaunch") == 0) {
            gSettings.relaunch = true;
        } else if (strcmp(argv[index], "/breakaway") == 0) {
            gSettings.breakaway = true;
        } else if ((value = OptionValue(argv[index], "/linger="))) {
            return Linger(strtoul(value, nullptr, 10));
        }
    }
    if (install) {
        return Install(self, folder);
    }
    const bool isCopy = folder != nullptr;
    char ownFolder[kPathSize];
    if (!isCopy) {
        snprintf(ownFolder, sizeof ownFolder, "%s", self);
        *strrchr(ownFolder, '\\') = '\0';
        folder = ownFolder;
    }
    ReadSettings(folder);
    if (argc < 2 || strcmp(argv[argc - 1], kSilentSwitch) != 0) {
        Log("refused|%s", GetCommandLineA());
        return 2;
    }
    return Uninstall(self, folder, isCopy);
}
