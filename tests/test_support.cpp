#include "test_support.h"

#include "uninstall_search.h"

#include <algorithm>
#include <cstring>

namespace {

const DWORD kRunTimeoutMs = 60000;
const DWORD kRemovalPollMs = 100;
const DWORD kOutputPollMs = 10;
// How long the output may stay open after the program has ended.
const DWORD kOutputGraceMs = 3000;

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

}  // namespace

RegistryValue Text(const char *name, const std::string &text) {
    return {name, REG_SZ, text + '\0'};
}

RegistryValue Wide(const char *name, const std::u16string &text) {
    return {name, REG_SZ,
            std::string(reinterpret_cast<const char *>(text.c_str()),
                        (text.size() + 1) * sizeof(char16_t)),
            true};
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

std::string CaseName(const char *title) {
    std::string name;
    for (const char *at = title; *at; ++at) {
        name += isalnum(static_cast<unsigned char>(*at)) ? *at : '_';
    }
    return name;
}

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
        WatchProgram(process.hProcess);
        run.output = ReadToEnd(reader, process.hProcess, &run.outputEndTime);
    }
    CloseHandle(reader);
    if (!started) {
        return run;
    }
    if (WaitForSingleObject(process.hProcess, kRunTimeoutMs) == WAIT_OBJECT_0) {
        GetExitCodeProcess(process.hProcess, &run.exitCode);
    }
    WatchProgram(nullptr);
    FILETIME created, exited, kernel, user;
    GetProcessTimes(process.hProcess, &created, &exited, &kernel, &user);
    run.exitTime = Ticks(exited);
    run.elapsedMs = (Ticks(exited) - Ticks(created)) / 10000;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return run;
}

std::string StandInLogPath() { return TempPath(kStandInLogName); }

namespace {

std::vector<std::string> StandInFiles() {
    std::vector<std::string> files = {kStandInSettings, kStandInUninstaller};
    files.insert(files.end(), std::begin(kStandInProductFiles), std::end(kStandInProductFiles));
    return files;
}

// A folder of the run's own to install into: one it made, or made now with the folders on
// the way. A folder another program made, or a link to one, is not the run's to write into.
bool MakeInstallFolder(const std::string &folder) {
    // The scratch drive's root is the run's: the guard found it empty.
    if (folder == ScratchDrive() + "\\") {
        return true;
    }
    if (PathExists(folder)) {
        return IsMade(folder) && !IsLink(folder);
    }
    for (size_t at = folder.find('\\', 3); at != std::string::npos;
         at = folder.find('\\', at + 1)) {
        if (!PathExists(folder.substr(0, at)) && !MakeFolder(folder.substr(0, at))) {
            return false;
        }
    }
    return MakeFolder(folder);
}

// The engine's option's value, up to the next " /" (see below); fallback without one.
std::string EngineOption(const std::string &options, const std::string &name,
                         const std::string &fallback) {
    const size_t at = options.find(name);
    if (at == std::string::npos) {
        return fallback;
    }
    const size_t start = at + name.size();
    return options.substr(start, options.find(" /", start) - start);
}

}  // namespace

bool InstallProduct(const std::string &folder, const std::string &options,
                    const std::string &directory) {
    const bool product = folder == ProductFolder();
    if (product ? !BeginProductInstall() : !MakeInstallFolder(folder)) {
        return false;
    }
    const ProgramRun run = RunProgram(Quoted(ProgramsFolder() + "\\quendal_stand_in.exe") +
                                          " /install " + Quoted(folder) + " " +
                                          Quoted(std::string("/entry=") + ProductEntry()) +
                                          " " + Quoted("/log=" + StandInLogPath()) + " " +
                                          options,
                                      directory);
    if (product) {
        EndProductInstall(StandInFiles());
    } else {
        const std::string separator = folder.back() == '\\' ? "" : "\\";
        for (const std::string &name : StandInFiles()) {
            NoteMade(folder + separator + name);
        }
    }
    return run.exitCode == 0 && EntryExists(ProductEntry());
}

// The engine reads an option's value up to the next " /", blanks and all, and takes /D=,
// the folder, last: none of them in quotes.
bool InstallRealProduct(const std::string &options) {
    if (!BeginProductInstall()) {
        return false;
    }
    const ProgramRun run = RunProgram(Quoted(ProgramsFolder() + "\\quendal_setup.exe") +
                                          " /S /ENTRY=" + ProductEntry() + " " + options +
                                          " /D=" + ProductFolder(),
                                      ProgramsFolder());
    EndProductInstall({"quendal.dat", kEngineSettings,
                       EngineOption(options, "/UNINSTALLER=", kStandInUninstaller)});
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
    return RunProgram(Quoted(ProgramsFolder() + "\\tessarune.exe") + arguments, directory,
                      changes, desktop);
}

// A backslash before the closing quote would escape it: trailing ones are doubled.
std::string Quoted(const std::string &text) {
    const size_t trailing = text.size() - (text.find_last_not_of('\\') + 1);
    return "\"" + text + std::string(trailing, '\\') + "\"";
}

