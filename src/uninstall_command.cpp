#include "uninstall_command.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <iterator>

namespace {

const char kSwitchPiece[] = " /c \"";
const char kCurrentDirectoryPrefix[] = ".\\";
const char kSilentSwitch[] = " /uninst";
const char kClosingPiece[] = "\"";
const char kQuote[] = "\"";
const char kAddedExtension[] = ".exe";
// The command passes through two interpreters: these start other programs, redirect
// output or change what follows them, wherever they stand.
const char kInterpreterCharacters[] = "&|<>^";
// ... and this expands variables: in a file name it would change the name.
const char kVariableCharacter = '%';
// cmd ends a word at any of these: a name holding one is quoted.
const char kWordSeparators[] = " ;,=\t";
// SetCurrentDirectory takes MAX_PATH - 2 characters: the folder, then its backslash.
const int kCurrentDirectoryLimit = MAX_PATH - 2;
const size_t kPathSize = 1024;

bool IsFolderSeparator(char c) { return c == '\\' || c == '/'; }

// "X:\" or "X:/": a drive's root, not a folder relative to a drive's current one.
bool IsOnLocalDrive(const char *path) {
    const char letter = static_cast<char>(path[0] | 0x20);
    return letter >= 'a' && letter <= 'z' && path[1] == ':' && IsFolderSeparator(path[2]);
}

// Byte by byte: no UTF-8 character holds the byte of '\' or '/'. In a double-byte code page
// a character's second byte may; the folder cut there is none that can be entered, and
// nothing runs.
const char *FileNameOf(const char *path) {
    const char *name = path;
    for (const char *at = path; *at; ++at) {
        if (IsFolderSeparator(*at)) {
            name = at + 1;
        }
    }
    return name;
}

bool IsFile(const char *path) {
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Copies path[0, length) into found when it names a program file exactly. Windows drops a
// name's trailing dots and blanks, so such a name stands for another file. A name without
// an extension is completed by the interpreter (.com before .exe, .bat): only one standing
// alone names a file, with ".exe" added, as Windows starts programs.
bool FindProgram(const char *path, size_t length, bool alone, char *found, size_t size) {
    if (length == 0 || length >= size) {
        return false;
    }
    memcpy(found, path, length);
    found[length] = '\0';
    const char *name = FileNameOf(found);
    const char last = found[length - 1];
    if (!IsOnLocalDrive(found) || *name == '\0' || last == '.' || last == ' ') {
        return false;
    }
    if (strchr(name, '.')) {
        return IsFile(found);
    }
    if (!alone || length + strlen(kAddedExtension) >= size) {
        return false;
    }
    strcat(found, kAddedExtension);
    return IsFile(found);
}

// The program and where its arguments begin in the command: a quoted path, or else the
// longest beginning, up to a blank or the end, that names a program file.
bool SplitProgram(const char *command, char *program, size_t size, const char **arguments) {
    if (command[0] == '"') {
        const char *closingQuote = strchr(command + 1, '"');
        *arguments = closingQuote ? closingQuote + 1 : nullptr;
        return closingQuote &&
               FindProgram(command + 1, closingQuote - command - 1, true, program, size);
    }
    for (const char *end = command + strlen(command); end != command; --end) {
        if ((*end == '\0' || *end == ' ') &&
            FindProgram(command, end - command, *end == '\0', program, size)) {
            *arguments = end;
            return true;
        }
    }
    return false;
}

// The program's folder; a drive's root keeps its separator, since "C:" alone names the
// drive's current folder.
bool CopyFolder(const char *program, const char *name, char *folder, size_t size) {
    size_t length = name - program - 1;
    if (length == 2) {
        ++length;
    }
    if (length >= size) {
        return false;
    }
    memcpy(folder, program, length);
    folder[length] = '\0';
    return MultiByteToWideChar(CP_ACP, 0, folder, -1, nullptr, 0) - 1 <= kCurrentDirectoryLimit;
}

// Appends piece to the text in the holder; false when it does not fit.
bool Append(char *text, size_t size, const char *piece) {
    const size_t length = strlen(text);
    const size_t pieceLength = strlen(piece);
    if (length + pieceLength >= size) {
        return false;
    }
    memcpy(text + length, piece, pieceLength + 1);
    return true;
}

// cmd /c drops the first and the last double quote of its command and runs the rest: an
// interpreter path with a blank (or a character cmd acts on) gets quotes of its own, and
// the whole a pair around them.
bool JoinCommandText(char *text, size_t size, const char *interpreter, const char *name,
                     const char *arguments) {
    const bool quoted = strpbrk(interpreter, kWordSeparators) ||
                        strpbrk(interpreter, kInterpreterCharacters);
    const char *outer = quoted ? kQuote : "";
    const char *nameQuote = strpbrk(name, kWordSeparators) ? kQuote : "";
    const char *const pieces[] = {outer, outer, interpreter, outer, kSwitchPiece,
                                  nameQuote, kCurrentDirectoryPrefix, name, nameQuote,
                                  arguments, kSilentSwitch, kClosingPiece, outer};
    text[0] = '\0';
    return std::all_of(std::begin(pieces), std::end(pieces),
                       [&](const char *piece) { return Append(text, size, piece); });
}

}  // namespace

bool BuildUninstallCommand(const char *command, const char *interpreter, char *folder,
                           size_t folderSize, char *text, size_t textSize) {
    char program[kPathSize];
    const char *arguments = nullptr;
    if (strpbrk(command, kInterpreterCharacters) ||
        !SplitProgram(command, program, sizeof program, &arguments)) {
        return false;
    }
    const char *name = FileNameOf(program);
    return !strchr(name, kVariableCharacter) && CopyFolder(program, name, folder, folderSize) &&
           JoinCommandText(text, textSize, interpreter, name, arguments);
}
