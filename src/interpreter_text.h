#ifndef TESSARUNE_INTERPRETER_TEXT_H
#define TESSARUNE_INTERPRETER_TEXT_H

#include <cstddef>

// How the command interpreter reads the text it runs, Windows' cmd and Wine's alike: what a
// character may be where it stands, its variables, its quotes. Text is accepted only where
// every reading agrees on it.

// Where a character stands: in the program's folder (the interpreter's current folder,
// which it never reads), in its file name (the one part of the path that goes into the
// interpreter's command), in the arguments, in the interpreter's own path (which Wine's cmd
// reads with its switches).
enum TextPlace { kInFolder, kInName, kInArguments, kInInterpreter };

// The longest command line cmd takes, its own path and switches included.
const size_t kCommandLineLimit = 8191;

// Whether every character of text[0, length) may stand at place as written. For the
// arguments this is the rule outside quotes: ArgumentsAreExact applies theirs.
bool AllAdmitted(const wchar_t *text, size_t length, TextPlace place);
// Whether a file name holds a character at which cmd ends a word: it goes between quotes.
bool NeedsQuotes(const wchar_t *name);
// Whether the arguments, as cmd passes them on with their variables replaced, stay within
// limit characters, hold only characters admitted where they stand, inside quotes or not,
// and pair their quotes, so that the uninstaller reads what they say.
bool ArgumentsAreExact(const wchar_t *arguments, size_t limit);
// False when a %NAME% in the text names a variable whose value holds "%": once the value
// stands in the text, cmd would replace what it names as well; and when the text's pairs
// are read otherwise from a "%" that stays as written on (%%OS%%, %a%OS%b%), as readings of
// where the next pair begins differ.
bool ValuesAreFinal(const wchar_t *text);

#endif
