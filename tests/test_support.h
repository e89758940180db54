// Helpers for tests that run the real programs against the registry of a scratch Wine prefix.
#ifndef TESSARUNE_TEST_SUPPORT_H
#define TESSARUNE_TEST_SUPPORT_H

#include <windows.h>

#include <string>
#include <vector>

// The checks kit: what a run may touch, and the guard that keeps it from anything else.
#include "entries.h"
#include "files.h"
#include "guard.h"
#include "product.h"
#include "reboot_records.h"
#include "run.h"
#include "scratch.h"
#include "settings.h"

struct RegistryValue {
    const char *name;
    DWORD type;
    std::string data;  // stored as given: add the terminator where the value should have one
    bool wide = false;  // data is UTF-16, stored through the wide function
};

// Text values with their terminator, the way programs normally store them: in this
// process's code page, or as UTF-16, the way the registry keeps text.
RegistryValue Text(const char *name, const std::string &text);
RegistryValue Wide(const char *name, const std::u16string &text);
std::u16string Utf16(const std::string &utf8);
std::string Replace(std::string text, const std::string &from, const std::string &to);

// Writes an uninstall entry; view is 0 for the view a 32-bit program sees by default.
bool WriteEntry(const std::string &name, const std::vector<RegistryValue> &values,
                REGSAM view = 0);

struct EnvironmentChange {
    const char *name;
    const char *value;  // nullptr: the variable is removed
};

const DWORD kNotRun = 0xFFFFFFFF;  // the exit code of a program not started or not ended

struct ProgramRun {
    DWORD exitCode;
    std::string output;            // standard output and standard error
    unsigned long long exitTime;   // FILETIME units
    unsigned long long elapsedMs;  // from process creation to exit
    unsigned long long outputEndTime;  // when its output's last writer closed it; 0: never
};

std::string CaseName(const char *title);  // a table row's title as a test name
// desktop: the name of one in this window station to run on; nullptr: this program's.
ProgramRun RunProgram(const std::string &commandLine, const std::string &directory,
                      const std::vector<EnvironmentChange> &changes = {},
                      const char *desktop = nullptr);

std::string StandInLogPath();
bool InstallProduct(const std::string &folder, const std::string &options,
                    const std::string &directory);
// The product as the installer engine builds it (tests/quendal.nsi), into ProductFolder().
bool InstallRealProduct(const std::string &options);
// Waits until the product's entry and folder are gone; false when they stay a minute.
bool AwaitRemoval(const std::string &folder);
// The lines of the stand-in's log that begin with what and "|", without them.
std::vector<std::string> LogLines(const std::string &what);
unsigned long long LoggedTime(const char *what);  // the last one, FILETIME units; 0: none

ProgramRun RunTessarune(const std::string &arguments, const std::string &directory,
                        const std::vector<EnvironmentChange> &changes = {},
                        const char *desktop = nullptr);
std::string Quoted(const std::string &text);  // as one argument of a command line

#endif
