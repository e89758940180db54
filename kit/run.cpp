#include <windows.h>

#include <cstdio>
#include <vector>

#include "files.h"
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

bool ClaimRunFolder() {
    NoteRebootRecordsAtStart();
    return CreateDirectoryA(RunFolder().c_str(), nullptr) &&
           SetEnvironmentVariableA("TEMP", RunFolder().c_str()) &&
           SetEnvironmentVariableA("TMP", RunFolder().c_str());
}

bool ReleaseRunFolder() {
    const bool forgotten = ForgetRebootRecords(RunFolder());
    RemoveFolder(RunFolder());
    return forgotten;
}

std::string TempPath(const char *name) { return RunFolder() + "\\" + name; }
