#include "uninstall_search.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const char kDisplayNameValue[] = "DisplayName";
const char kUninstallStringValue[] = "UninstallString";
const char kProductDisplayName[] = "Quendal";

const size_t kEntryNameSize = 256;
const size_t kEntryPathSize = 1024;
const size_t kValueTextSize = 512;

// Registry data need not end in a NUL: the text ends at the first NUL or with the bytes
// returned. Returns false, leaving the holder as it was, when the text does not fit.
bool CopyValueText(char *holder, size_t holderSize, const BYTE *data, DWORD dataLength) {
    const void *nul = memchr(data, '\0', dataLength);
    const size_t length = nul ? static_cast<const BYTE *>(nul) - data : dataLength;
    if (length >= holderSize) {
        return false;
    }
    memcpy(holder, data, length);
    holder[length] = '\0';
    return true;
}

// Reads the entry's display name and uninstall command into the zero-filled holders.
// Returns false when the entry cannot be used: its buffers cannot be had, or its uninstall
// command is too long to be carried whole.
bool ReadEntryTexts(HKEY entry, char *displayName, char *command) {
    DWORD valueCount = 0;
    DWORD longestName = 0;
    DWORD longestData = 0;
    if (RegQueryInfoKeyA(entry, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &valueCount,
                         &longestName, &longestData, nullptr, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    if (valueCount == 0) {
        return true;
    }
    const DWORD nameSize = longestName + 1;
    const DWORD dataSize = longestData + 1;
    char *name = static_cast<char *>(malloc(nameSize));
    BYTE *data = static_cast<BYTE *>(malloc(dataSize));
    bool usable = name != nullptr && data != nullptr;
    for (DWORD index = 0; usable && index < valueCount; ++index) {
        DWORD nameLength = nameSize;
        DWORD dataLength = dataSize;
        DWORD type = 0;
        // A value that changed or vanished since the size query is passed over.
        if (RegEnumValueA(entry, index, name, &nameLength, nullptr, &type, data, &dataLength) !=
            ERROR_SUCCESS) {
            continue;
        }
        if (strcmp(name, kDisplayNameValue) == 0) {
            CopyValueText(displayName, kValueTextSize, data, dataLength);
        } else if (strcmp(name, kUninstallStringValue) == 0) {
            usable = CopyValueText(command, kValueTextSize, data, dataLength);
        }
    }
    free(data);
    free(name);
    return usable;
}

// out is a holder of kValueTextSize bytes.
bool ReadUninstallEntry(const char *entryName, char *out) {
    char path[kEntryPathSize];
    const int pathLength = snprintf(path, sizeof path, "%s\\%s", kUninstallKeyPath, entryName);
    if (pathLength < 0 || static_cast<size_t>(pathLength) >= sizeof path) {
        return false;
    }
    HKEY entry;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_QUERY_VALUE, &entry) != ERROR_SUCCESS) {
        return false;
    }
    char displayName[kValueTextSize] = {};
    char command[kValueTextSize] = {};
    const bool usable = ReadEntryTexts(entry, displayName, command);
    RegCloseKey(entry);
    if (!usable || displayName[0] == '\0' || command[0] == '\0' ||
        strcmp(displayName, kProductDisplayName) != 0) {
        return false;
    }
    memcpy(out, command, sizeof command);
    return true;
}

}  // namespace

bool FindUninstallCommand(char *out, size_t outSize) {
    if (outSize == 0) {
        return false;
    }
    // Without a registry-view flag a 32-bit program reads the 32-bit view (Wow6432Node) on
    // 64-bit Windows: the entries of 32-bit products, where this product registers.
    HKEY uninstallKey;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUninstallKeyPath, 0, KEY_READ, &uninstallKey) !=
        ERROR_SUCCESS) {
        return false;
    }
    char entryName[kEntryNameSize];
    char result[kValueTextSize];
    bool found = false;
    for (DWORD index = 0; !found; ++index) {
        memset(entryName, 0, sizeof entryName);
        memset(result, 0, sizeof result);
        // The length counts the terminator, so the whole holder admits the registry's
        // longest names (255 characters).
        DWORD nameLength = sizeof entryName;
        if (RegEnumKeyExA(uninstallKey, index, entryName, &nameLength, nullptr, nullptr, nullptr,
                          nullptr) != ERROR_SUCCESS) {
            break;
        }
        found = ReadUninstallEntry(entryName, result);
    }
    RegCloseKey(uninstallKey);
    // A cut command would run something other than what is registered: hand out none.
    if (strlen(result) >= outSize) {
        result[0] = '\0';
    }
    strncpy(out, result, outSize);
    out[outSize - 1] = '\0';
    return out[0] != '\0';
}
