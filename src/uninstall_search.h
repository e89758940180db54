#ifndef TESSARUNE_UNINSTALL_SEARCH_H
#define TESSARUNE_UNINSTALL_SEARCH_H

#include <cstddef>

// The list of installed programs, below HKEY_LOCAL_MACHINE: one entry (subkey) a program.
inline constexpr char kUninstallKeyPath[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// Looks in the list of installed programs for the product's entry. Returns true with the
// entry's uninstall command in out; false with out empty when there is none or when the
// command would not fit, and false with out untouched when the list cannot be opened.
// view: 0 for the view the program sees by default, or KEY_WOW64_64KEY or KEY_WOW64_32KEY.
bool FindUninstallCommand(char *out, size_t outSize, unsigned long view = 0);

#endif
