#include "uninstall_command.h"

#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <iterator>

namespace {

enum Use { kRefused, kPlain, kQuoted };

// Where a character may stand: in the program's folder (the interpreter's current folder,
// which it never reads), in its file name (the one part of the path that goes into the
// interpreter's command), in the arguments. A character not listed makes the command
// unusable, except letters and digits, and characters of other scripts, which are plain
// everywhere (their spaces count as the blank). A name holding a character to quote goes
// into the command between quotes: cmd ends a command word there. The interpreter's own path
// is read by the interpreter: each of its names is held to the file name's rule.
struct CharacterRule {
    const wchar_t *characters;
    Use inFolder;
    Use inName;
    Use inArguments;
};
const wchar_t kPlainEverywhere[] = L"-_.~!#$'+[]{}`";
const CharacterRule kCharacterRules[] = {
    {kPlainEverywhere, kPlain, kPlain, kPlain},
    {L" ();,=@", kPlain, kQuoted, kPlain},
    // cmd expands variables: see ExpandVariables for the arguments.
    {L"%", kPlain, kRefused, kPlain},
    // cmd starts another program at "&" and quotes out with "^".
    {L"&^", kPlain, kRefused, kRefused},
    // The path's separators and its drive's colon stand where its form puts them.
    {L"\\/:*?\t", kRefused, kRefused, kPlain},
    // Paired in the arguments: see QuotesArePaired.
    {L"\"", kRefused, kRefused, kPlain},
};

// cmd /s /c drops the first and the last quote of what follows and runs the rest; /d skips
// the AutoRun commands of the registry, /v:off the expansion of !NAME! it may ask for.
const wchar_t kSwitches[] = L" /d /v:off /s /c \"";
const wchar_t kInterpreterVariable[] = L"COMSPEC";
const wchar_t kQuote[] = L"\"";
const wchar_t kCurrentDirectoryPrefix[] = L".\\";
const wchar_t kSilentSwitch[] = L" /uninst";
const wchar_t kAddedExtension[] = L".exe";
const wchar_t kVariableMark = L'%';
// What ends a path or an argument on a command line.
const wchar_t kBlanks[] = L" \t";
// A variable's name ends at it in cmd, which then takes a part of the value (%NAME:~0,1%).
const wchar_t kVariablePart = L':';
// The longest program path that cmd still starts as ".\NAME" from the program's folder
// (measured under Wine; on Windows cmd resolves names within MAX_PATH).
const size_t kProgramPathLimit = 258;
const size_t kPathSize = MAX_PATH;
const size_t kCommandSize = 1024;
const size_t kVariableSize = 1024;
// The longest command line cmd takes, its own path and switches included.
const size_t kCommandLineLimit = 8191;
// What the command line holds besides the interpreter, the name and the arguments.
const size_t kCommandLinePieces = 40;

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool IsAsciiLetterOrDigit(wchar_t c) {
    const wchar_t lower = static_cast<wchar_t>(c | 0x20);
    return (c >= L'0' && c <= L'9') || (lower >= L'a' && lower <= L'z');
}

// Programs without a UTF-8 manifest read their command line in the system's code page,
// Windows turning characters it lacks into look-alikes ("best fit": a full-width quote into
// a quote, a full-width backslash into a backslash, an "Ł" into an "L") and the rest into
// '?'. The name and the arguments hold no character that becomes one that matters there: any
// but a letter, a digit or one plain everywhere.
bool TurnsIntoCharacterThatMatters(wchar_t c) {
    DWORD codePage = CP_ACP;
    GetLocaleInfoW(LOCALE_SYSTEM_DEFAULT, LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER,
                   reinterpret_cast<wchar_t *>(&codePage), sizeof codePage / sizeof(wchar_t));
    char bytes[8];
    const int length = WideCharToMultiByte(codePage, 0, &c, 1, bytes, sizeof bytes, nullptr,
                                           nullptr);
    const wchar_t fit = static_cast<unsigned char>(bytes[0]);
    return length == 1 && fit < 0x80 && fit != L'?' && !IsAsciiLetterOrDigit(fit) &&
           !wcschr(kPlainEverywhere, fit);
}

Use UseOf(wchar_t c, Use CharacterRule::*where) {
    if (c < 0x80) {
        if (IsAsciiLetterOrDigit(c)) {
            return kPlain;
        }
        for (const CharacterRule &rule : kCharacterRules) {
            if (c != L'\0' && wcschr(rule.characters, c)) {
                return rule.*where;
            }
        }
        return kRefused;
    }
    WORD type = 0;
    if (c < 0xA0 || !GetStringTypeW(CT_CTYPE1, &c, 1, &type) || (type & C1_CNTRL) ||
        (where != &CharacterRule::inFolder && TurnsIntoCharacterThatMatters(c))) {
        return kRefused;
    }
    return (type & (C1_SPACE | C1_BLANK)) ? UseOf(L' ', where) : kPlain;
}

bool AllAdmitted(const wchar_t *text, size_t length, Use CharacterRule::*where) {
    return std::none_of(text, text + length,
                        [&](wchar_t c) { return UseOf(c, where) == kRefused; });
}

bool AnyQuoted(const wchar_t *text, Use CharacterRule::*where) {
    return std::any_of(text, text + wcslen(text),
                       [&](wchar_t c) { return UseOf(c, where) == kQuoted; });
}

// "X:\" then names, each admitted where it stands (the folders' by folder, the last by last),
// none empty, "." or "..", none ending in a dot or a blank (Windows drops those): a path
// Windows takes as written, checked before Windows has rewritten anything.
bool IsWrittenExactly(const wchar_t *path, size_t length, Use CharacterRule::*folder,
                      Use CharacterRule::*last) {
    const wchar_t letter = static_cast<wchar_t>(path[0] | 0x20);
    if (length < 4 || letter < L'a' || letter > L'z' || path[1] != L':' || !IsSeparator(path[2])) {
        return false;
    }
    for (const wchar_t *name = path + 3, *end = path + length; name <= end;) {
        const wchar_t *nameEnd = std::find_if(name, end, IsSeparator);
        const size_t nameLength = nameEnd - name;
        const wchar_t final = nameLength ? nameEnd[-1] : L'\0';
        if (nameLength == 0 || final == L'.' || final == L' ' ||
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

// Copies path[0, length) into found, with "\" for "/", when it names a program file exactly.
// A name without an extension is completed by the interpreter (.com before .exe, .bat): only
// one standing alone names a file, with ".exe" added, as Windows starts programs.
bool FindProgram(const wchar_t *path, size_t length, bool alone, wchar_t *found) {
    if (length >= kPathSize ||
        !IsWrittenExactly(path, length, &CharacterRule::inFolder, &CharacterRule::inName)) {
        return false;
    }
    std::replace_copy(path, path + length, found, L'/', L'\\');
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

// Quotes come in pairs, so that " /uninst" stays a word of its own; a closing one is
// followed by a blank or the end, and none follows a backslash, which makes it a character
// to the uninstaller's own reading of its command line (\" in C programs).
bool QuotesArePaired(const wchar_t *arguments) {
    bool open = false;
    for (const wchar_t *at = arguments; *at; ++at) {
        if (*at != L'"') {
            continue;
        }
        open = !open;
        // wcschr finds the terminator too: the end may follow a closing quote.
        if ((at > arguments && at[-1] == L'\\') || (!open && !wcschr(kBlanks, at[1]))) {
            return false;
        }
    }
    return !open;
}

// A name cmd may give a variable of its own (%CD%, %RANDOM%, %CMDCMDLINE%, %=ExitCode%):
// letters, digits, "_" and "=", and characters of other scripts, which may compare equal to
// letters (a full-width C).
bool MayBeOwnVariable(const wchar_t *name, size_t length) {
    return length > 0 && std::all_of(name, name + length, [](wchar_t c) {
               return c >= 0x80 || IsAsciiLetterOrDigit(c) || c == L'_' || c == L'=';
           });
}

// Appends what cmd puts for the pair %NAME%, name[0, nameLength), to expanded[0, *length):
// the value of a variable this process holds, and cmd will, free of "%"; or nothing, with
// *literal set, where the pair stays as it stands (a name no variable has, nor cmd's own).
// False when the text cannot be known or does not fit: a name cmd could define itself, or
// one that takes a part of a variable (":").
bool AppendVariable(const wchar_t *name, size_t nameLength, wchar_t *expanded, size_t *length,
                    size_t size, bool *literal) {
    wchar_t held[kVariableSize];
    if (nameLength >= kVariableSize || wmemchr(name, kVariablePart, nameLength)) {
        return false;
    }
    wmemcpy(held, name, nameLength);
    held[nameLength] = L'\0';
    SetLastError(ERROR_SUCCESS);
    const DWORD valueLength = nameLength == 0 ? 0
                              : GetEnvironmentVariableW(held, expanded + *length,
                                                        static_cast<DWORD>(size - *length));
    *literal = nameLength == 0 ||
               (GetLastError() == ERROR_ENVVAR_NOT_FOUND && !MayBeOwnVariable(name, nameLength));
    if (*literal) {
        return true;
    }
    if (valueLength == 0 || *length + valueLength >= size ||
        wmemchr(expanded + *length, kVariableMark, valueLength)) {
        return false;
    }
    *length += valueLength;
    return true;
}

// The arguments as cmd passes them on: it replaces %NAME% with the variable's value before
// it reads the command. A pair that stays as it stands ("50% /b=60%", "%%") gives its first
// "%" and is read on from the next character; its second "%" may not begin a pair that cmd
// replaces, as cmd may have taken it for the first pair's end. False when the text cannot be
// known or held.
bool ExpandVariables(const wchar_t *arguments, wchar_t *expanded, size_t size) {
    size_t length = 0;
    const wchar_t *literalEnd = nullptr;
    for (const wchar_t *at = arguments; *at; ++at) {
        const wchar_t *close = *at == kVariableMark ? wcschr(at + 1, kVariableMark) : nullptr;
        bool literal = true;
        if (close && !AppendVariable(at + 1, close - at - 1, expanded, &length, size, &literal)) {
            return false;
        }
        if (!literal) {
            if (at == literalEnd) {
                return false;
            }
            at = close;
        } else if (length + 1 < size) {
            expanded[length++] = *at;
            literalEnd = close ? close : literalEnd;
        } else {
            return false;
        }
    }
    expanded[length] = L'\0';
    return true;
}

// What the uninstaller reads is the expanded text: its characters, its quotes.
bool ArgumentsAreExact(const wchar_t *arguments, size_t limit) {
    wchar_t expanded[kCommandLineLimit + 1];
    return ExpandVariables(arguments, expanded, limit + 1) &&
           AllAdmitted(expanded, wcslen(expanded), &CharacterRule::inArguments) &&
           QuotesArePaired(expanded);
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
    const wchar_t *nameQuote = AnyQuoted(name, &CharacterRule::inName) ? kQuote : L"";
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
           IsWrittenExactly(interpreter, length, &CharacterRule::inName, &CharacterRule::inName) &&
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
