#include <cstring>

#include "entries.h"
#include "run.h"
#include "uninstall_search.h"

namespace {

std::string EntryPath(const std::string &name) {
    return std::string(kUninstallKeyPath) + "\\" + name;
}

}  // namespace

bool EntryExists(const std::string &name) {
    HKEY entry;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, EntryPath(name).c_str(), 0, KEY_READ, &entry) !=
        ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(entry);
    return true;
}

bool IsOwnEntry(const char *name) {
    return strncmp(name, EntryPrefix().c_str(), EntryPrefix().size()) == 0;
}

void WalkEntries(const std::function<bool(HKEY, const char *, REGSAM)> &visit) {
    for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
        HKEY uninstall;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUninstallKeyPath, 0, KEY_READ | view,
                          &uninstall) != ERROR_SUCCESS) {
            continue;
        }
        char name[256];
        for (DWORD index = 0;;) {
            DWORD length = sizeof name;
            if (RegEnumKeyExA(uninstall, index, name, &length, nullptr, nullptr, nullptr,
                              nullptr) != ERROR_SUCCESS) {
                break;
            }
            index += visit(uninstall, name, view) ? 1 : 0;
        }
        RegCloseKey(uninstall);
    }
}

void RemoveTestEntries() {
    // Deleting shifts the indices: the walk stays at a deleted entry's index.
    WalkEntries([](HKEY list, const char *name, REGSAM view) {
        return !IsOwnEntry(name) || RegDeleteKeyExA(list, name, view, 0) != ERROR_SUCCESS;
    });
}
