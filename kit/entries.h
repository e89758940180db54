// The uninstall entries a run may touch: those named with its own prefix, in either
// registry view, and no other.
#ifndef TESSARUNE_KIT_ENTRIES_H
#define TESSARUNE_KIT_ENTRIES_H

#include <windows.h>

#include <functional>
#include <string>

bool EntryExists(const std::string &name);
bool IsOwnEntry(const char *name);  // written by this run: named with its prefix
// Each uninstall entry of both registry views in turn: visit(list, name, view) returns
// false when it deleted the entry, so that the walk stays at that index.
void WalkEntries(const std::function<bool(HKEY, const char *, REGSAM)> &visit);
void RemoveTestEntries();

#endif
