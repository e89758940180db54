#include <direct.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

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

const char kInterpreterVariable[] = "COMSPEC";
const char kSwitchPiece[] = " /c \".\\";
const char kSilentSwitch[] = " /uninst";
const char kClosingPiece[] = "\"";
const char kUninstallerWindowTitle[] = "Orvanex Quendal Uninstall ";

const DWORD kPauseAfterSearchMs = 200;
const DWORD kPauseAfterUninstallerMs = 300;
const DWORD kPauseBeforeEndMs = 200;
const DWORD kWindowPollMs = 50;
const DWORD kPauseGranularityMs = 10;

const size_t kCommandSize = 1024;

// stdout is a text stream: each "\n" goes out as "\r\n", so every line ends in 0D 0D 0A.
void PrintBanner() {
    printf("\r\n");
    printf(kBannerFormat, kVersion);
    for (const char *line : kHelpLines) {
        printf("%s", line);
    }
}

void PauseMilliseconds(DWORD ms) {
    const DWORD start = GetTickCount();
    // The unsigned difference keeps a pause whole across the tick count's wrap.
    while (GetTickCount() - start < ms) {
        Sleep(kPauseGranularityMs);
    }
}

// Copies text[0, length) into holder; false when it does not fit.
bool CopyPiece(char *holder, size_t holderSize, const char *text, size_t length) {
    if (length >= holderSize) {
        return false;
    }
    memcpy(holder, text, length);
    holder[length] = '\0';
    return true;
}

const char *FindLastBackslash(const char *begin, const char *end) {
    for (const char *at = end; at != begin; --at) {
        if (at[-1] == '\\') {
            return at - 1;
        }
    }
    return nullptr;
}

// Splits the command at the last backslash of the program's path into the directory and the
// rest: file name and any arguments. A path in double quotes is split between its quotes and
// loses them; text after the closing quote stays with the file name. Byte-wise search: a
// backslash byte is taken as one even inside a multi-byte character.
bool SplitUninstallCommand(const char *command, char *directory, char *fileName, size_t size) {
    const char *pathBegin = command;
    const char *pathEnd = command + strlen(command);
    const char *closingQuote = command[0] == '"' ? strchr(command + 1, '"') : nullptr;
    if (closingQuote) {
        pathBegin = command + 1;
        pathEnd = closingQuote;
    }
    const char *backslash = FindLastBackslash(pathBegin, pathEnd);
    if (!backslash) {
        return false;
    }
    // Below a drive the directory keeps its backslash: "C:" alone would name the drive's
    // current directory, not its root.
    const char *directoryEnd = backslash;
    if (backslash - pathBegin == 2 && pathBegin[1] == ':') {
        ++directoryEnd;
    }
    if (!CopyPiece(directory, size, pathBegin, directoryEnd - pathBegin)) {
        return false;
    }
    const size_t nameLength = pathEnd - (backslash + 1);
    const char *rest = closingQuote ? closingQuote + 1 : pathEnd;
    return CopyPiece(fileName, size, backslash + 1, nameLength) &&
           CopyPiece(fileName + nameLength, size - nameLength, rest, strlen(rest));
}

// cmd /c drops the first and the last double quote of its command and runs the rest, so
// quotes inside the file name or its arguments survive.
bool BuildCommandText(char *text, size_t size, const char *interpreter, const char *fileName) {
    const int length = snprintf(text, size, "%s%s%s%s%s", interpreter, kSwitchPiece, fileName,
                                kSilentSwitch, kClosingPiece);
    return length >= 0 && static_cast<size_t>(length) < size;
}

void WaitForUninstallerWindow() {
    while (FindWindowA(nullptr, kUninstallerWindowTitle)) {
        Sleep(kWindowPollMs);
    }
}

// Runs the uninstaller from its own directory and waits until its window has gone. Runs
// nothing when the command cannot be run as registered.
void RunUninstaller(const char *command) {
    const char *interpreter = getenv(kInterpreterVariable);
    if (!interpreter) {
        return;
    }
    char directory[kCommandSize];
    char fileName[kCommandSize];
    char commandText[kCommandSize];
    char previousDirectory[kCommandSize];
    if (!SplitUninstallCommand(command, directory, fileName, sizeof directory) ||
        !BuildCommandText(commandText, sizeof commandText, interpreter, fileName) ||
        !_getcwd(previousDirectory, sizeof previousDirectory)) {
        return;
    }
    // ".\" in the command text means this directory: from anywhere else it would start
    // another program of the same name.
    if (_chdir(directory) != 0) {
        return;
    }
    system(commandText);
    // Windows will not delete a directory that is a process's current directory: let go of
    // the uninstaller's folder so that it can remove it while we wait.
    _chdir(previousDirectory);
    PauseMilliseconds(kPauseAfterUninstallerMs);
    WaitForUninstallerWindow();
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
