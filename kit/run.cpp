#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <vector>

#include "files.h"
#include "product.h"
#include "reboot_records.h"
#include "run.h"

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

namespace {

// What the run's programs make in its folder, by the names they make it under: the
// stand-in's log, the folder of its copies (GetTempFileName's names), the copy of itself
// the engine's uninstaller starts (~nsuA.tmp\Un_A.exe); and the command tests' folder.
// "*" stands for any text. A copy is the run's only where its bytes are those of a program
// the run installed: another program may put files of those names there too.
struct ProgramsName {
    const char *name;
    const char *inside;  // the copies in it, for a folder; nullptr: a file, or nothing in it
};
const ProgramsName kProgramsNames[] = {
    {kStandInLogName, nullptr},
    {kStandInCopiesName, "qun*.tmp"},
    {"~nsu*.tmp", "Un*.exe"},
    {kCommandTestsFolder, nullptr},
};

bool Matches(const std::wstring &name, const char *pattern) {
    const std::wstring wide = WideName(pattern);
    const size_t star = wide.find(L'*');
    if (star == std::wstring::npos) {
        return _wcsicmp(name.c_str(), wide.c_str()) == 0;
    }
    const size_t after = wide.size() - star - 1;
    return name.size() >= star + after && _wcsnicmp(name.c_str(), wide.c_str(), star) == 0 &&
           _wcsicmp(name.c_str() + name.size() - after, wide.c_str() + star + 1) == 0;
}

const ProgramsName *KnownName(const std::wstring &name) {
    const ProgramsName *known =
        std::find_if(std::begin(kProgramsNames), std::end(kProgramsNames),
                     [&](const ProgramsName &program) { return Matches(name, program.name); });
    return known == std::end(kProgramsNames) ? nullptr : known;
}

// The copies in a folder of a known name, by their names and bytes; none behind a link.
std::vector<std::string> CopiesIn(const std::string &folder, const ProgramsName &known) {
    std::vector<std::string> copies;
    if (!known.inside || IsLink(folder)) {
        return copies;
    }
    for (const std::wstring &name : NamesIn(WideName(folder))) {
        const std::string path = folder + "\\" + Utf8(name);
        if (Matches(name, known.inside) && !IsLink(path) && IsInstalledProgram(path)) {
            copies.push_back(path);
        }
    }
    return copies;
}

// Those of them that are there, and nothing else, are noted as made; the paths at the
// folder's top. A folder goes only when that empties it.
std::vector<std::string> NoteProgramsFiles() {
    std::vector<std::string> noted;
    for (const std::wstring &name : NamesIn(WideName(RunFolder()))) {
        const ProgramsName *known = KnownName(name);
        if (!known) {
            continue;
        }
        const std::string path = RunFolder() + "\\" + Utf8(name);
        NoteMade(path);
        noted.push_back(path);
        for (const std::string &copy : CopiesIn(path, *known)) {
            NoteMade(copy);
        }
    }
    return noted;
}

// Written by the thread that runs the rows, read by the one that watches them.
void *volatile gWatchedProgram = nullptr;

}  // namespace

void WatchProgram(void *process) { InterlockedExchangePointer(&gWatchedProgram, process); }

void *WatchedProgram() {
    return InterlockedCompareExchangePointer(&gWatchedProgram, nullptr, nullptr);
}

bool ClaimRunFolder() {
    NoteRebootRecordsAtStart();
    return MakeFolder(RunFolder()) &&
           SetEnvironmentVariableA("TEMP", RunFolder().c_str()) &&
           SetEnvironmentVariableA("TMP", RunFolder().c_str());
}

bool ReleaseRunFolder() {
    const bool forgotten = ForgetRebootRecords(RunFolder());
    RemoveProgramsFiles();
    RemoveMade(RunFolder());
    return forgotten;
}

bool HoldsOnlyRunsFiles(const std::string &folder) {
    const std::vector<std::wstring> names = NamesIn(WideName(folder));
    return std::all_of(names.begin(), names.end(), [&](const std::wstring &name) {
        const ProgramsName *known = KnownName(name);
        const std::string path = folder + "\\" + Utf8(name);
        return known && !IsLink(path) &&
               NamesIn(WideName(path)).size() == CopiesIn(path, *known).size();
    });
}

void RemoveProgramsFiles() {
    for (const std::string &path : NoteProgramsFiles()) {
        RemoveMade(path);
    }
}

std::string TempPath(const char *name) { return RunFolder() + "\\" + name; }
