#include "test_support.h"

#include "uninstall_search.h"

#include <algorithm>
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
    static const std::string prefix = kEntryNameStart + RunId() + " ";
    return prefix;
}

// The temporary folder the run started with (%TMP%, else %TEMP%), read whole however long.
const std::string &StartTempFolder() {
    static const std::string folder = [] {
        std::vector<char> temp(32768);
        const DWORD length = GetTempPathA(static_cast<DWORD>(temp.size()), temp.data());
        return std::string(temp.data(), length < temp.size() ? length : 0);
    }();
    return folder;
}

// A name ends in no blank, which Windows drops.
const std::string &RunFolder() {
    static const std::string folder = StartTempFolder() + kRunFolderStart + RunId();
    return folder;
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

// Whether the records' value was there when the run began, and could be read as pairs:
// Windows adds a record to the value as it finds it, so that a record added to a list that
// cannot be read may be glued to a stranger's.
bool gRecordsExisted = false;
bool gRecordsReadable = true;

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

// The value as stored, and whether it is there.
std::string RebootRecords(bool *there) {
    std::string value;
    HKEY key;
    *there = false;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS) {
        return value;
    }
    DWORD type = 0;
    DWORD size = 0;
    // An empty value is there too, and cannot be read as pairs: Wine adds a record to it
    // without the path's first character.
    *there = RegQueryValueExW(key, kRebootRecordsValue, nullptr, &type, nullptr, &size) ==
                 ERROR_SUCCESS &&
             type == REG_MULTI_SZ;
    value.resize(*there ? size : 0);
    if (size > 0 && *there &&
        RegQueryValueExW(key, kRebootRecordsValue, nullptr, &type,
                         reinterpret_cast<BYTE *>(&value[0]), &size) != ERROR_SUCCESS) {
        value.clear();
    }
    value.resize(std::min<size_t>(value.size(), size));
    RegCloseKey(key);
    return value;
}

// Every form in which a record may name the run's folder: as the run has it, long and short.
std::vector<std::wstring> RunFolderForms() {
    const std::wstring folder = WideName(RunFolder());
    std::vector<std::wstring> forms = {folder};
    for (auto convert : {GetLongPathNameW, GetShortPathNameW}) {
        wchar_t form[MAX_PATH];
        const DWORD length = convert(folder.c_str(), form, MAX_PATH);
        if (length > 0 && length < MAX_PATH) {
            forms.emplace_back(form, length);
        }
    }
    return forms;
}

// Deployment tools read any such record as a reboot pending: the run leaves none of its own
// where it can tell them from others'. False when its own may remain.
bool ForgetRebootRecords() {
    bool there = false;
    const std::string records = RebootRecords(&there);
    std::string kept;
    if (!there) {
        return true;
    }
    if (!gRecordsReadable || !OthersRebootRecords(records, RunFolderForms(), &kept)) {
        return false;
    }
    HKEY key;
    if (kept.size() == records.size() ||
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0, KEY_SET_VALUE, &key) !=
            ERROR_SUCCESS) {
        return true;
    }
    // Only the terminator left of a value the run made: the run made it, and it goes.
    bool forgotten = kept.size() == sizeof(wchar_t) && !gRecordsExisted
                         ? RegDeleteValueW(key, kRebootRecordsValue) == ERROR_SUCCESS
                         : RegSetValueExW(key, kRebootRecordsValue, 0, REG_MULTI_SZ,
                                          reinterpret_cast<const BYTE *>(kept.data()),
                                          static_cast<DWORD>(kept.size())) == ERROR_SUCCESS;
    RegCloseKey(key);
    return forgotten;
}

}  // namespace

bool OthersRebootRecords(const std::string &records, const std::vector<std::wstring> &ownFolders,
                         std::string *kept) {
    const size_t count = records.size() / sizeof(wchar_t);
    std::wstring text(count, L'\0');
    memcpy(&text[0], records.data(), count * sizeof(wchar_t));
    kept->clear();
    if (records.size() % sizeof(wchar_t) != 0) {
        return false;
    }
    // Pairs, each a path and where it goes (empty: deleted), then one empty string: an empty
    // path anywhere else, or a missing terminator, makes every reading of the rest a guess.
    size_t at = 0;
    while (at < count && text[at] != L'\0') {
        const size_t pathEnd = text.find(L'\0', at);
        const size_t pairEnd =
            pathEnd == std::wstring::npos ? pathEnd : text.find(L'\0', pathEnd + 1);
        if (pairEnd == std::wstring::npos) {
            return false;
        }
        bool own = false;
        for (const std::wstring &folder : ownFolders) {
            const std::wstring prefix = L"\\??\\" + folder + L"\\";
            own = own || _wcsnicmp(text.c_str() + at, prefix.c_str(), prefix.size()) == 0;
        }
        if (!own) {
            kept->append(records, at * sizeof(wchar_t), (pairEnd + 1 - at) * sizeof(wchar_t));
        }
        at = pairEnd + 1;
    }
    if (at + 1 != count) {
        return false;
    }
    kept->append(sizeof(wchar_t), '\0');
    return true;
}

bool ClaimRunFolder() {
    std::string ignored;
    const std::string records = RebootRecords(&gRecordsExisted);
    gRecordsReadable = !gRecordsExisted || OthersRebootRecords(records, {}, &ignored);
    return CreateDirectoryA(RunFolder().c_str(), nullptr) &&
           SetEnvironmentVariableA("TEMP", RunFolder().c_str()) &&
           SetEnvironmentVariableA("TMP", RunFolder().c_str());
}

bool ReleaseRunFolder() {
    const bool forgotten = ForgetRebootRecords();
    RemoveFolder(RunFolder());
    return forgotten;
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
