#include "uninstall_command.h"

#include "interpreter_text.h"

#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <iterator>

namespace {

// cmd /s /c drops the first and the last quote of what follows and runs the rest; /d skips
// the AutoRun commands of the registry, /v:off the expansion of !NAME! it may ask for.
const wchar_t kSwitches[] = L" /d /v:off /s /c \"";
const wchar_t kInterpreterVariable[] = L"COMSPEC";
const wchar_t kQuote[] = L"\"";
const wchar_t kCurrentDirectoryPrefix[] = L".\\";
const wchar_t kSilentSwitch[] = L" /uninst";
const wchar_t kAddedExtension[] = L".exe";
// What ends a path on a command line.
const wchar_t kBlanks[] = L" \t";
// The longest program path that cmd still starts as ".\NAME" from the program's folder
// (measured under Wine; on Windows cmd resolves names within MAX_PATH).
const size_t kProgramPathLimit = 258;
const size_t kPathSize = MAX_PATH;
const size_t kCommandSize = 1024;
// What the command line holds besides the interpreter, the name and the arguments.
const size_t kCommandLinePieces = 40;

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// "X:\" then names, each admitted where it stands (the folders' by folder, the last by last),
// none "." or "..", none ending in a dot or a blank (Windows drops those), the last not
// empty: a path Windows takes as written, checked before Windows has rewritten anything.
// Windows takes separators in a row as one, as installers write them where the folder they
// were given ends in one ("C:\Apps\Quendal\\uninst.exe").
bool IsWrittenExactly(const wchar_t *path, size_t length, TextPlace folder, TextPlace last) {
    const wchar_t letter = static_cast<wchar_t>(path[0] | 0x20);
    if (length < 4 || letter < L'a' || letter > L'z' || path[1] != L':' || !IsSeparator(path[2])) {
        return false;
    }
    for (const wchar_t *name = path + 3, *end = path + length; name <= end;) {
        const wchar_t *nameEnd = std::find_if(name, end, IsSeparator);
        const size_t nameLength = nameEnd - name;
        const wchar_t final = nameLength ? nameEnd[-1] : L'\0';
        if ((nameLength == 0 && nameEnd == end) || final == L'.' || final == L' ' ||
            !AllAdmitted(name, nameLength, nameEnd == end ? last : folder)) {
            return false;
        }
        name = nameEnd + 1;
    }
    return true;
}

// An existing regular file whose full path, as Windows makes it, is the path itself, "/" and
// "\" and letter case aside: no device name ("NUL.exe" is \\.\NUL), no folder.
bool IsExactFile(const wchar_t *path) {
    wchar_t full[kPathSize];
    const DWORD length = GetFullPathNameW(path, kPathSize, full, nullptr);
    if (length == 0 || length >= kPathSize || length != wcslen(path)) {
        return false;
    }
    for (DWORD at = 0; at < length; ++at) {
        const wchar_t c = path[at] == L'/' ? L'\\' : path[at];
        if (CompareStringOrdinal(&c, 1, &full[at], 1, TRUE) != CSTR_EQUAL) {
            return false;
        }
    }
    // Without backup semantics a folder does not open.
    HANDLE file = CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    const bool regular = GetFileType(file) == FILE_TYPE_DISK;
    CloseHandle(file);
    return regular;
}

// Copies path[0, length) into found in its usual form, with one "\" for each run of "\" and
// "/", when it names a program file exactly. A name without an extension is completed by the
// interpreter (.com before .exe, .bat): only one standing alone names a file, with ".exe"
// added, as Windows starts programs.
bool FindProgram(const wchar_t *path, size_t length, bool alone, wchar_t *found) {
    if (length >= kPathSize ||
        !IsWrittenExactly(path, length, kInFolder, kInName)) {
        return false;
    }
    std::replace_copy(path, path + length, found, L'/', L'\\');
    length = std::unique(found, found + length, [](wchar_t a, wchar_t b) {
                 return a == L'\\' && b == L'\\';
             }) - found;
    found[length] = L'\0';
    if (!wcschr(wcsrchr(found, L'\\'), L'.')) {
        if (!alone || length + wcslen(kAddedExtension) >= kPathSize) {
            return false;
        }
        wcscat(found, kAddedExtension);
    }
    return wcslen(found) <= kProgramPathLimit && IsExactFile(found);
}

// The program and where its arguments begin in the command, as Windows parses a command
// line: a quoted path, after any blanks and followed by a blank, a tab or the end, or else
// the longest beginning, up to a blank, a tab or the end, that names a program file.
bool SplitProgram(const wchar_t *command, wchar_t *program, const wchar_t **arguments) {
    const wchar_t *quoted = command + wcsspn(command, kBlanks);
    if (*quoted == L'"') {
        const wchar_t *closingQuote = wcschr(quoted + 1, L'"');
        *arguments = closingQuote ? closingQuote + 1 : nullptr;
        return closingQuote && wcschr(kBlanks, **arguments) &&
               FindProgram(quoted + 1, closingQuote - quoted - 1, true, program);
    }
    for (const wchar_t *end = command + wcslen(command); end != command; --end) {
        // wcschr finds the terminator too: the end may follow the path.
        if (wcschr(kBlanks, *end) &&
            FindProgram(command, end - command, *end == L'\0', program)) {
            *arguments = end;
            return true;
        }
    }
    return false;
}

// The program's folder; a drive's root keeps its separator, since "C:" alone names the
// drive's current folder.
bool CopyFolder(const wchar_t *program, const wchar_t *name, wchar_t *folder, size_t size) {
    size_t length = name - program - 1;
    if (length == 2) {
        ++length;
    }
    if (length >= size) {
        return false;
    }
    wmemcpy(folder, program, length);
    folder[length] = L'\0';
    return true;
}

// Appends piece to the text in the holder; false when it does not fit.
bool Append(wchar_t *text, size_t size, const wchar_t *piece) {
    const size_t length = wcslen(text);
    const size_t pieceLength = wcslen(piece);
    if (length + pieceLength >= size) {
        return false;
    }
    wmemcpy(text + length, piece, pieceLength + 1);
    return true;
}

bool JoinCommandLine(wchar_t *text, size_t size, const wchar_t *interpreter,
                     const wchar_t *name, const wchar_t *arguments) {
    const wchar_t *nameQuote = NeedsQuotes(name) ? kQuote : L"";
    const wchar_t *const pieces[] = {kQuote, interpreter, kQuote, kSwitches,
                                     nameQuote, kCurrentDirectoryPrefix, name, nameQuote,
                                     arguments, kSilentSwitch, kQuote};
    text[0] = L'\0';
    return std::all_of(std::begin(pieces), std::end(pieces),
                       [&](const wchar_t *piece) { return Append(text, size, piece); });
}

// The registry's text as UTF-16, exactly: the process's code page is UTF-8 where Windows
// honours the manifest, and holds every character the search let through elsewhere.
bool ToWide(const char *text, wchar_t *wide, size_t size) {
    const int length = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text, -1, wide,
                                           static_cast<int>(size));
    return length > 0;
}

// The interpreter, named by its whole path on a local drive: a relative name would be looked
// for in the current folder, and an empty one gives the runtime's own search. Written with
// "\" only: Wine's cmd looks for its switches from the start of its whole command line, its
// own path included, so "C:/x/c evil.exe/cmd.exe" would run "evil.exe".
bool IsExactInterpreter(const wchar_t *interpreter) {
    const size_t length = wcslen(interpreter);
    return length < kPathSize && !wcschr(interpreter, L'/') &&
           IsWrittenExactly(interpreter, length, kInInterpreter, kInInterpreter) &&
           IsExactFile(interpreter);
}

// Room for the arguments, once expanded, within what cmd takes.
size_t ArgumentsLimit(const wchar_t *interpreter, const wchar_t *program) {
    return kCommandLineLimit - wcslen(interpreter) - wcslen(program) - kCommandLinePieces;
}

}  // namespace

bool ReadInterpreter(wchar_t *interpreter, size_t size) {
    const DWORD length = GetEnvironmentVariableW(kInterpreterVariable, interpreter,
                                                 static_cast<DWORD>(size));
    if (length == 0 || length >= size) {
        return false;
    }
    std::replace(interpreter, interpreter + length, L'/', L'\\');
    return true;
}

bool BuildUninstallCommand(const char *command, const wchar_t *interpreter, wchar_t *folder,
                           size_t folderSize, wchar_t *commandLine, size_t commandLineSize) {
    wchar_t wideCommand[kCommandSize];
    wchar_t program[kPathSize];
    const wchar_t *arguments = nullptr;
    if (!ToWide(command, wideCommand, kCommandSize) || !IsExactInterpreter(interpreter) ||
        !SplitProgram(wideCommand, program, &arguments) ||
        !ArgumentsAreExact(arguments, ArgumentsLimit(interpreter, program))) {
        return false;
    }
    const wchar_t *name = wcsrchr(program, L'\\') + 1;
    return CopyFolder(program, name, folder, folderSize) &&
           JoinCommandLine(commandLine, commandLineSize, interpreter, name, arguments);
}

// The interpreter starts in the uninstaller's folder, so that ".\" names the uninstaller
// there and the tool itself never holds the folder (Windows will not delete a process's
// current folder). It inherits no handle, not even the tool's standard ones: a program the
// uninstaller leaves running would hold the tool's output open after the tool has ended,
// and whatever the interpreter says goes nowhere.
void *StartInterpreter(const wchar_t *interpreter, wchar_t *commandLine, const wchar_t *folder) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    PROCESS_INFORMATION process;
    if (!CreateProcessW(interpreter, commandLine, nullptr, nullptr, FALSE, 0, nullptr, folder,
                        &startup, &process)) {
        return nullptr;
    }
    CloseHandle(process.hThread);
    return process.hProcess;
}
