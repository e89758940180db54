#ifndef TESSARUNE_UNINSTALL_COMMAND_H
#define TESSARUNE_UNINSTALL_COMMAND_H

#include <cstddef>

// Turns a registered uninstall command into the folder to run the uninstaller from and the
// command text that runs it silently through the interpreter:
//   INTERPRETER /c ".\NAME ARGUMENTS /uninst"
// The program is a file on a local drive that exists: the quoted path, or the longest
// beginning of an unquoted command that names a file, the rest being its arguments; a path
// standing alone without an extension names its file with ".exe" added. Returns false,
// when nothing may run: no such file, a path that is relative or on a network, a folder
// too long to be the current one, or characters that the interpreter would act on.
bool BuildUninstallCommand(const char *command, const char *interpreter, char *folder,
                           size_t folderSize, char *text, size_t textSize);

#endif
