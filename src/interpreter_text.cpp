#include "interpreter_text.h"

#include <windows.h>

#include <algorithm>
#include <cwchar>

namespace {

enum Use { kRefused, kPlain, kQuoted, kBetweenQuotes };

// Where a character may stand, by TextPlace. A character not listed makes the command
// unusable, except letters and digits, and characters of other scripts, which are plain
// everywhere (their spaces count as the blank). A name holding a character to quote goes
// into the command between quotes: cmd ends a command word, or acts, there. A character to
// stand between quotes is one cmd reads as itself only there.
struct CharacterRule {
    const wchar_t *characters;
    Use uses[4];
};
const wchar_t kPlainEverywhere[] = L"-_.~!#$'+[]{}`";
const wchar_t kPlainInArguments[] = L"();,=@ ";
const CharacterRule kCharacterRules[] = {
    {kPlainEverywhere, {kPlain, kPlain, kPlain, kPlain}},
    {kPlainInArguments, {kPlain, kQuoted, kPlain, kQuoted}},
    // cmd expands variables: see ExpandVariables for the arguments.
    {L"%", {kPlain, kRefused, kPlain, kRefused}},
    // cmd starts another program at "&" and "|", redirects at "<" and ">", and quotes out
    // with "^", outside quotes; Wine's cmd before it has replaced the variables. Between
    // quotes both read them as themselves, and no file name holds "|<>". The interpreter's
    // path keeps to what no cmd acts on in its own command line.
    {L"&^", {kPlain, kQuoted, kBetweenQuotes, kRefused}},
    {L"|<>", {kRefused, kRefused, kBetweenQuotes, kRefused}},
    // The path's separators and its drive's colon stand where its form puts them.
    {L"\\/:*?\t", {kRefused, kRefused, kPlain, kRefused}},
    // Paired in the arguments: see ArgumentsAdmitted.
    {L"\"", {kRefused, kRefused, kPlain, kRefused}},
    // The most cited description of cmd's parser ends a command word at 0xFF as well; no
    // reading ends one between quotes.
    {L"\u00FF", {kPlain, kQuoted, kPlain, kQuoted}},
};

const wchar_t kVariableMark = L'%';
const wchar_t kQuote = L'"';
// What ends an argument on a command line.
const wchar_t kBlanks[] = L" \t";
// A variable's name ends at it in cmd, which then takes a part of the value (%NAME:~0,1%).
const wchar_t kVariablePart = L':';
// Wine's cmd reads %~ as its own (%~dp0), whatever follows.
const wchar_t kOwnSyntax = L'~';
const size_t kVariableSize = 1024;

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

// Out of line: GCC would otherwise copy it, a look-up and calls to Windows, into each of its
// callers, for no speed that a command of a few hundred characters could show.
__attribute__((noinline)) Use UseOf(wchar_t c, TextPlace place) {
    if (IsAsciiLetterOrDigit(c)) {
        return kPlain;
    }
    for (const CharacterRule &rule : kCharacterRules) {
        if (c != L'\0' && wcschr(rule.characters, c)) {
            return rule.uses[place];
        }
    }
    WORD type = 0;
    if (c < 0xA0 || !GetStringTypeW(CT_CTYPE1, &c, 1, &type) || (type & C1_CNTRL)) {
        return kRefused;
    }
    // Other scripts' spaces go between quotes in a name, as the blank does, which is what
    // their look-alike would be; in the arguments a blank there would part two words.
    const bool blank = (type & (C1_SPACE | C1_BLANK)) != 0;
    if ((place == kInArguments || (place != kInFolder && !blank)) &&
        TurnsIntoCharacterThatMatters(c)) {
        return kRefused;
    }
    return blank ? UseOf(L' ', place) : kPlain;
}

// Whether a character of text[0, length) has the use at place. A loop of its own: each
// standard algorithm over UseOf would be unrolled with UseOf inlined in every copy.
bool AnyHasUse(const wchar_t *text, size_t length, TextPlace place, Use use) {
    for (size_t at = 0; at < length; ++at) {
        if (UseOf(text[at], place) == use) {
            return true;
        }
    }
    return false;
}

// The arguments outside and between quotes, the quotes counted from the start of what cmd
// reads after /c (the name's own quotes, when it has them, are a pair before them). Quotes
// come in pairs, so that " /uninst" stays a word of its own; a closing one is followed by a
// blank or the end, and none follows a backslash, which makes it a character to the
// uninstaller's own reading of its command line (\" in C programs).
bool ArgumentsAdmitted(const wchar_t *arguments) {
    bool open = false;
    for (const wchar_t *at = arguments; *at; ++at) {
        const Use use = UseOf(*at, kInArguments);
        if (use == kRefused || (use == kBetweenQuotes && !open)) {
            return false;
        }
        if (*at != kQuote) {
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

// A name every cmd reads alike: none acts on any of its characters before it has replaced
// the variable (Wine's cmd acts on "&|<>^" first), none takes it for its own syntax.
bool IsPlainName(const wchar_t *name, size_t length) {
    return name[0] != kOwnSyntax && std::all_of(name, name + length, [](wchar_t c) {
               return c >= 0x80 ? UseOf(c, kInArguments) == kPlain
                                : IsAsciiLetterOrDigit(c) || wcschr(kPlainEverywhere, c) ||
                                      wcschr(kPlainInArguments, c);
           });
}

// Appends what cmd puts for the pair %NAME%, name[0, nameLength), to expanded[0, *length):
// the value of a variable this process holds, and cmd will, free of "%"; or nothing, with
// *literal set, where the pair stays as it stands (a name no variable has, nor cmd's own).
// False when the text cannot be known or does not fit: a name cmd could define itself, one
// that takes a part of a variable (":"), one not every cmd reads alike.
bool AppendVariable(const wchar_t *name, size_t nameLength, wchar_t *expanded, size_t *length,
                    size_t size, bool *literal) {
    wchar_t held[kVariableSize];
    if (nameLength >= kVariableSize || wmemchr(name, kVariablePart, nameLength) ||
        (nameLength > 0 && name[0] == kOwnSyntax)) {
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
    if (valueLength == 0 || *length + valueLength >= size || !IsPlainName(name, nameLength) ||
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
// known or held. *valueQuotes: a value put a quote into the text.
bool ExpandVariables(const wchar_t *arguments, wchar_t *expanded, size_t size,
                     bool *valueQuotes) {
    size_t length = 0;
    *valueQuotes = false;
    const wchar_t *literalEnd = nullptr;
    for (const wchar_t *at = arguments; *at; ++at) {
        const wchar_t *close = *at == kVariableMark ? wcschr(at + 1, kVariableMark) : nullptr;
        bool literal = true;
        const size_t before = length;
        if (close && !AppendVariable(at + 1, close - at - 1, expanded, &length, size, &literal)) {
            return false;
        }
        if (!literal) {
            if (at == literalEnd) {
                return false;
            }
            *valueQuotes = *valueQuotes || std::find(expanded + before, expanded + length,
                                                     kQuote) != expanded + length;
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

}  // namespace

bool AllAdmitted(const wchar_t *text, size_t length, TextPlace place) {
    return !AnyHasUse(text, length, place, kRefused);
}

bool NeedsQuotes(const wchar_t *name) {
    return AnyHasUse(name, wcslen(name), kInName, kQuoted);
}

// What the uninstaller reads is the expanded text: its characters, its quotes. Wine's cmd
// counts quotes before it replaces variables, Windows' after: where a value brings quotes,
// nothing may stand between quotes that only the count tells from what cmd acts on.
bool ArgumentsAreExact(const wchar_t *arguments, size_t limit) {
    wchar_t expanded[kCommandLineLimit + 1];
    bool valueQuotes = false;
    return limit <= kCommandLineLimit &&
           ExpandVariables(arguments, expanded, limit + 1, &valueQuotes) &&
           ArgumentsAdmitted(expanded) &&
           !(valueQuotes && AnyHasUse(expanded, wcslen(expanded), kInArguments, kBetweenQuotes));
}

// The text with each pair %NAME% of a variable replaced by its value. After a pair that
// stays as written, Windows' documentation leaves open where the next pair begins: after
// it, or at its second "%". False when the text does not fit.
bool ReplacePairs(const wchar_t *text, bool fromSecondMark, wchar_t *out, size_t size) {
    size_t length = 0;
    for (const wchar_t *at = text; *at;) {
        const wchar_t *close = *at == kVariableMark ? wcschr(at + 1, kVariableMark) : nullptr;
        DWORD valueLength = 0;
        if (close && close > at + 1 && static_cast<size_t>(close - at - 1) < kVariableSize) {
            wchar_t name[kVariableSize];
            wmemcpy(name, at + 1, close - at - 1);
            name[close - at - 1] = L'\0';
            valueLength = GetEnvironmentVariableW(name, out + length,
                                                  static_cast<DWORD>(size - length));
        }
        const wchar_t *end = close && !fromSecondMark ? close + 1 : at + 1;
        if (valueLength >= size - length ||
            (valueLength == 0 && length + (end - at) >= size)) {
            return false;
        }
        if (valueLength > 0) {
            length += valueLength;
            at = close + 1;
        } else {
            wmemcpy(out + length, at, end - at);
            length += end - at;
            at = end;
        }
    }
    out[length] = L'\0';
    return true;
}

// Every two neighbouring marks: a name between them, wherever the reading of pairs begins.
bool ValuesAreFinal(const wchar_t *text) {
    for (const wchar_t *at = wcschr(text, kVariableMark); at;) {
        const wchar_t *close = wcschr(at + 1, kVariableMark);
        if (close && close - at - 1 > 0 && static_cast<size_t>(close - at - 1) < kVariableSize) {
            wchar_t name[kVariableSize];
            wchar_t value[kVariableSize];
            wmemcpy(name, at + 1, close - at - 1);
            name[close - at - 1] = L'\0';
            const DWORD length = GetEnvironmentVariableW(name, value, kVariableSize);
            if (length >= kVariableSize || (length > 0 && wcschr(value, kVariableMark))) {
                return false;
            }
        }
        at = close;
    }
    wchar_t afterPair[kCommandLineLimit + 1];
    wchar_t afterMark[kCommandLineLimit + 1];
    return ReplacePairs(text, false, afterPair, kCommandLineLimit + 1) &&
           ReplacePairs(text, true, afterMark, kCommandLineLimit + 1) &&
           wcscmp(afterPair, afterMark) == 0;
}
