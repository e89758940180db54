#ifndef TESSARUNE_UNINSTALL_COMMAND_H
#define TESSARUNE_UNINSTALL_COMMAND_H

#include <cstddef>

// The interpreter that COMSPEC names, as written; false when unset, empty or past size.
bool ReadInterpreter(wchar_t *interpreter, size_t size);

// Turns a registered uninstall command into the folder to start the interpreter in and its
// command line, which runs the uninstaller silently from there:
//   "INTERPRETER" /d /v:off /s /c ".\NAME ARGUMENTS /uninst"
// The program is an existing regular file on a local drive, its path written as Windows
// takes it: the quoted path, or the longest beginning of an unquoted command that names one,
// the rest being its arguments; a path standing alone without an extension names its file
// with ".exe" added. The interpreter is an existing file named by its whole path. Returns
// false, and nothing may run, when any of them cannot be passed on exactly (the character
// rules are a table in the .cpp).
bool BuildUninstallCommand(const char *command, const wchar_t *interpreter, wchar_t *folder,
                           size_t folderSize, wchar_t *commandLine, size_t commandLineSize);

// Starts the interpreter on the command line BuildUninstallCommand made, in the folder it
// gave, with none of this process's handles. Returns the process's handle, or nullptr.
void *StartInterpreter(const wchar_t *interpreter, wchar_t *commandLine, const wchar_t *folder);

#endif
