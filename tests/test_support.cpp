#include "test_support.h"

#include "uninstall_search.h"

#include <cstring>

const std::string &RunId() {
    static const std::string id = [] {
        char text[32];
        snprintf(text, sizeof text, "%08lX%08lX", GetCurrentProcessId(), GetTickCount());
        return std::string(text);
    }();
    return id;
}

const std::string &EntryPrefix() {
    static const std::string prefix = "TessaruneTest " + RunId() + " ";
    return prefix;
}

// Below the %TEMP% the run started with; a name ends in no blank, which Windows drops.
const std::string &RunFolder() {
    static const std::string folder = [] {
        char temp[MAX_PATH];
        const DWORD length = GetTempPathA(sizeof temp, temp);
        return std::string(temp, length < sizeof temp ? length : 0) + "TessaruneTest-" + RunId();
    }();
    return folder;
}

bool ClaimRunFolder() {
    const std::string folder = RunFolder();
    return CreateDirectoryA(folder.c_str(), nullptr) &&
           SetEnvironmentVariableA("TEMP", folder.c_str()) &&
           SetEnvironmentVariableA("TMP", folder.c_str());
}

const std::string &ProductEntry() {
    static const std::string entry = EntryPrefix() + "Quendal";
    return entry;
}

namespace {

const DWORD kRunTimeoutMs = 60000;
const DWORD kRemovalPollMs = 100;
const DWORD kOutputPollMs = 10;
// How long the output may stay open after the program has ended.
const DWORD kOutputGraceMs = 3000;
// Files to delete when Windows next starts (MoveFileEx with MOVEFILE_DELAY_UNTIL_REBOOT):
// pairs of names, the path and where it goes (empty: deleted), each path after "\??\".
const char kSessionManagerKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const wchar_t kRebootRecordsValue[] = L"PendingFileRenameOperations";

std::string EntryPath(const std::string &name) {
    return std::string(kUninstallKeyPath) + "\\" + name;
}

unsigned long long Ticks(const FILETIME &time) {
    return (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

bool SameName(const char *entry, const char *name) {
    const size_t length = strlen(name);
    return _strnicmp(entry, name, length) == 0 && entry[length] == '=';
}

// An environment block of this process's variables with the changes made.
std::string BuildEnvironment(const std::vector<EnvironmentChange> &changes) {
    std::string block;
    char *strings = GetEnvironmentStringsA();
    for (const char *entry = strings; *entry; entry += strlen(entry) + 1) {
        bool changed = false;
        for (const EnvironmentChange &change : changes) {
            changed = changed || SameName(entry, change.name);
        }
        if (!changed) {
            block.append(entry).push_back('\0');
        }
    }
    FreeEnvironmentStringsA(strings);
    for (const EnvironmentChange &change : changes) {
        if (change.value) {
            block.append(change.name).append("=").append(change.value).push_back('\0');
        }
    }
    block.push_back('\0');
    return block;
}

// The "\\\\?\\" form, in which paths longer than MAX_PATH work on Windows as they do on
// Wine.
std::wstring LongPath(const std::string &path) { return L"\\\\?\\" + WideName(path); }

bool RemoveTree(const std::wstring &folder) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            const std::wstring path = folder + L"\\" + name;
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                DeleteFileW(path.c_str());
            } else if (name != L"." && name != L"..") {
                RemoveTree(path);
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    return RemoveDirectoryW(folder.c_str()) != 0;
}

// The program's output until its last writer has closed it, and when that was; 0 when it
// was still open a while after the program had ended (a program it started, or one of
// Wine's services started on the way, may hold it) or at the time limit.
std::string ReadToEnd(HANDLE pipe, HANDLE process, unsigned long long *endTime) {
    std::string output;
    *endTime = 0;
    DWORD ended = 0;
    for (const DWORD start = GetTickCount(); GetTickCount() - start < kRunTimeoutMs;) {
        DWORD available = 0;
        if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) {
            FILETIME now;
            GetSystemTimeAsFileTime(&now);
            *endTime = Ticks(now);
            break;
        }
        char chunk[4096];
        DWORD read = 0;
        if (available > 0 && ReadFile(pipe, chunk, sizeof chunk, &read, nullptr)) {
            output.append(chunk, read);
            continue;
        }
        if (!ended && WaitForSingleObject(process, 0) == WAIT_OBJECT_0) {
            ended = GetTickCount();
        }
        if (ended && GetTickCount() - ended > kOutputGraceMs) {
            break;
        }
        Sleep(kOutputPollMs);
    }
    return output;
}

// The records without those of files in the run's folder; "" when none is left.
std::wstring OthersRecords(const std::wstring &records) {
    const std::wstring own = L"\\??\\" + WideName(RunFolder()) + L"\\";
    std::wstring kept;
    for (size_t at = 0; at < records.size() && records[at] != L'\0';) {
        const size_t pathEnd = records.find(L'\0', at);
        const size_t pairEnd = records.find(L'\0', pathEnd + 1);
        if (pathEnd == std::wstring::npos || pairEnd == std::wstring::npos) {
            return records;  // not a list of pairs: not the run's to change
        }
        if (_wcsnicmp(records.c_str() + at, own.c_str(), own.size()) != 0) {
            kept.append(records, at, pairEnd + 1 - at);
        }
        at = pairEnd + 1;
    }
    return kept;
}

// Deployment tools read any such record as a reboot pending: the run leaves none of its own.
void ForgetRebootRecords() {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                      &key) != ERROR_SUCCESS) {
        return;
    }
    DWORD type = 0;
    DWORD size = 0;
    std::wstring records;
    if (RegQueryValueExW(key, kRebootRecordsValue, nullptr, &type, nullptr, &size) ==
            ERROR_SUCCESS &&
        type == REG_MULTI_SZ) {
        records.resize(size / sizeof(wchar_t) + 1);
        RegQueryValueExW(key, kRebootRecordsValue, nullptr, &type,
                         reinterpret_cast<BYTE *>(&records[0]), &size);
        records.resize(size / sizeof(wchar_t));
        const std::wstring kept = OthersRecords(records);
        const DWORD keptSize = static_cast<DWORD>((kept.size() + 1) * sizeof(wchar_t));
        const bool anyOfTheRun = kept.size() + 1 < records.size();
        if (anyOfTheRun && kept.empty()) {
            RegDeleteValueW(key, kRebootRecordsValue);
        } else if (anyOfTheRun) {
            RegSetValueExW(key, kRebootRecordsValue, 0, REG_MULTI_SZ,
                           reinterpret_cast<const BYTE *>(kept.c_str()), keptSize);
        }
    }
    RegCloseKey(key);
}

}  // namespace

void ReleaseRunFolder() {
    ForgetRebootRecords();
    RemoveFolder(RunFolder());
}

RegistryValue Text(const char *name, const std::string &text) {
    return {name, REG_SZ, text + '\0'};
}

RegistryValue Wide(const char *name, const std::u16string &text) {
    return {name, REG_SZ,
            std::string(reinterpret_cast<const char *>(text.c_str()),
                        (text.size() + 1) * sizeof(char16_t)),
            true};
}

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

std::string Replace(std::string text, const std::string &from, const std::string &to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + 1)) {
        text.replace(at, from.size(), to);
    }
    return text;
}

std::u16string Utf16(const std::string &utf8) {
    std::u16string wide(utf8.size(), u'\0');
    wide.resize(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                    reinterpret_cast<wchar_t *>(&wide[0]),
                                    static_cast<int>(wide.size())));
    return wide;
}

bool WriteEntry(const std::string &name, const std::vector<RegistryValue> &values,
                REGSAM view) {
    // Created below the opened list: Wine's ANSI registry calls refuse whole paths longer
    // than 260 characters, which entry names of 255 make.
    HKEY uninstall;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kUninstallKeyPath, 0, nullptr, 0,
                        KEY_CREATE_SUB_KEY | view, nullptr, &uninstall, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    HKEY entry;
    const LONG created = RegCreateKeyExA(uninstall, name.c_str(), 0, nullptr, 0,
                                         KEY_SET_VALUE | view, nullptr, &entry, nullptr);
    RegCloseKey(uninstall);
    bool written = created == ERROR_SUCCESS;
    for (size_t index = 0; written && index < values.size(); ++index) {
        const RegistryValue &value = values[index];
        const BYTE *data = reinterpret_cast<const BYTE *>(value.data.data());
        const DWORD size = static_cast<DWORD>(value.data.size());
        const std::wstring wideName(value.name, value.name + strlen(value.name));
        written = (value.wide ? RegSetValueExW(entry, wideName.c_str(), 0, value.type, data, size)
                              : RegSetValueExA(entry, value.name, 0, value.type, data, size)) ==
                  ERROR_SUCCESS;
    }
    if (created == ERROR_SUCCESS) {
        RegCloseKey(entry);
    }
    return written;
}

bool EntryExists(const std::string &name) {
    HKEY entry;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, EntryPath(name).c_str(), 0, KEY_READ, &entry) !=
        ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(entry);
    return true;
}

bool IsOwnEntry(const char *name) {
    return strncmp(name, EntryPrefix().c_str(), EntryPrefix().size()) == 0;
}

void WalkEntries(const std::function<bool(HKEY, const char *, REGSAM)> &visit) {
    for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
        HKEY uninstall;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUninstallKeyPath, 0, KEY_READ | view,
                          &uninstall) != ERROR_SUCCESS) {
            continue;
        }
        char name[256];
        for (DWORD index = 0;;) {
            DWORD length = sizeof name;
            if (RegEnumKeyExA(uninstall, index, name, &length, nullptr, nullptr, nullptr,
                              nullptr) != ERROR_SUCCESS) {
                break;
            }
            index += visit(uninstall, name, view) ? 1 : 0;
        }
        RegCloseKey(uninstall);
    }
}

void RemoveTestEntries() {
    // Deleting shifts the indices: the walk stays at a deleted entry's index.
    WalkEntries([](HKEY list, const char *name, REGSAM view) {
        return !IsOwnEntry(name) || RegDeleteKeyExA(list, name, view, 0) != ERROR_SUCCESS;
    });
}

std::string CaseName(const char *title) {
    std::string name;
    for (const char *at = title; *at; ++at) {
        name += isalnum(static_cast<unsigned char>(*at)) ? *at : '_';
    }
    return name;
}

std::string TestDirectory() {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string directory(path, length);
    return directory.substr(0, directory.rfind('\\'));
}

std::string TempPath(const char *name) { return RunFolder() + "\\" + name; }

ProgramRun RunProgram(const std::string &commandLine, const std::string &directory,
                      const std::vector<EnvironmentChange> &changes, const char *desktop) {
    ProgramRun run = {kNotRun, "", 0, 0, 0};
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE reader;
    HANDLE writer;
    if (!CreatePipe(&reader, &writer, &inherit, 0)) {
        return run;
    }
    SetHandleInformation(reader, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.lpDesktop = const_cast<char *>(desktop);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = writer;
    startup.hStdError = writer;
    std::string environment = BuildEnvironment(changes);
    std::vector<char> command(commandLine.begin(), commandLine.end());
    command.push_back('\0');
    PROCESS_INFORMATION process;
    const BOOL started = CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0,
                                        environment.data(), directory.c_str(), &startup,
                                        &process);
    CloseHandle(writer);
    if (started) {
        run.output = ReadToEnd(reader, process.hProcess, &run.outputEndTime);
    }
    CloseHandle(reader);
    if (!started) {
        return run;
    }
    if (WaitForSingleObject(process.hProcess, kRunTimeoutMs) == WAIT_OBJECT_0) {
        GetExitCodeProcess(process.hProcess, &run.exitCode);
    }
    FILETIME created, exited, kernel, user;
    GetProcessTimes(process.hProcess, &created, &exited, &kernel, &user);
    run.exitTime = Ticks(exited);
    run.elapsedMs = (Ticks(exited) - Ticks(created)) / 10000;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return run;
}

std::string ProductFolder() {
    char programFiles[MAX_PATH];
    GetEnvironmentVariableA("ProgramFiles", programFiles, sizeof programFiles);
    return std::string(programFiles) + "\\Orvanex\\Quendal";
}

std::string StandInLogPath() { return TempPath(kStandInLogName); }

bool InstallProduct(const std::string &folder, const std::string &options,
                    const std::string &directory) {
    if (folder == ProductFolder() && !BeginProductInstall()) {
        return false;
    }
    const ProgramRun run = RunProgram(Quoted(TestDirectory() + "\\quendal_stand_in.exe") +
                                          " /install " + Quoted(folder) + " " +
                                          Quoted(std::string("/entry=") + ProductEntry()) +
                                          " " + Quoted("/log=" + StandInLogPath()) + " " +
                                          options,
                                      directory);
    EndProductInstall();
    return run.exitCode == 0 && EntryExists(ProductEntry());
}

// The engine reads an option's value up to the next " /", blanks and all, and takes /D=,
// the folder, last: none of them in quotes.
bool InstallRealProduct(const std::string &options) {
    if (!BeginProductInstall()) {
        return false;
    }
    const ProgramRun run = RunProgram(Quoted(TestDirectory() + "\\quendal_setup.exe") +
                                          " /S /ENTRY=" + ProductEntry() + " " + options +
                                          " /D=" + ProductFolder(),
                                      TestDirectory());
    EndProductInstall();
    return run.exitCode == 0 && EntryExists(ProductEntry());
}

bool AwaitRemoval(const std::string &folder) {
    for (DWORD waited = 0; waited < kRunTimeoutMs; waited += kRemovalPollMs) {
        if (!EntryExists(ProductEntry()) && !PathExists(folder)) {
            return true;
        }
        Sleep(kRemovalPollMs);
    }
    return false;
}

std::vector<std::string> LogLines(const std::string &what) {
    std::vector<std::string> lines;
    const std::string log = FileContents(StandInLogPath());
    for (size_t begin = 0, end; begin < log.size(); begin = end + 1) {
        end = log.find('\n', begin);
        std::string line = log.substr(begin, end - begin);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.compare(0, what.size() + 1, what + "|") == 0) {
            lines.push_back(line.substr(what.size() + 1));
        }
    }
    return lines;
}

unsigned long long LoggedTime(const char *what) {
    const std::vector<std::string> lines = LogLines(what);
    return lines.empty() ? 0 : std::stoull(lines.back());
}

ProgramRun RunTessarune(const std::string &arguments, const std::string &directory,
                        const std::vector<EnvironmentChange> &changes, const char *desktop) {
    return RunProgram(Quoted(TestDirectory() + "\\tessarune.exe") + arguments, directory,
                      changes, desktop);
}

// A backslash before the closing quote would escape it: trailing ones are doubled.
std::string Quoted(const std::string &text) {
    const size_t trailing = text.size() - (text.find_last_not_of('\\') + 1);
    return "\"" + text + std::string(trailing, '\\') + "\"";
}

bool PathExists(const std::string &path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A program that has just closed may still hold its files for a moment.
void RemoveFolder(const std::string &folder) {
    const std::wstring path = LongPath(folder);
    for (int attempt = 0; attempt < 50 && GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
         ++attempt) {
        if (!RemoveTree(path)) {
            Sleep(100);
        }
    }
}

bool RenameFolder(const std::string &from, const std::string &to) {
    return MoveFileW(LongPath(from).c_str(), LongPath(to).c_str()) != 0;
}

bool PlaceFile(const std::string &path) {
    const std::wstring wide = LongPath(path);
    for (size_t at = wide.find(L'\\', 7); at != std::wstring::npos;
         at = wide.find(L'\\', at + 1)) {
        CreateDirectoryW(wide.substr(0, at).c_str(), nullptr);
    }
    HANDLE file = CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    CloseHandle(file);
    return true;
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
