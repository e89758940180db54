#include "uninstall_search.h"

#include "interpreter_text.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const wchar_t kDisplayNameValue[] = L"DisplayName";
const wchar_t kUninstallStringValue[] = L"UninstallString";
const char kProductDisplayName[] = "Quendal";

const DWORD kEntryNameSize = 256;  // characters, the terminator included
const size_t kValueTextSize = 512;
// Bytes for the one query of an entry's display name; a longer one is read in the walk.
const DWORD kDisplayNameQuerySize = 512;

bool IsTextType(DWORD type) {
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// The ANSI registry functions turn characters that the code page lacks into look-alikes
// ("best fit": a full-width Q becomes Q) or into '?'. Text is converted exactly or not at
// all: in UTF-8 every character converts, but a lone surrogate does not.
bool ConvertExactly(const wchar_t *text, int length, char *holder, size_t holderSize) {
    const UINT codePage = GetACP();
    const bool utf8 = codePage == CP_UTF8;
    BOOL usedDefault = FALSE;
    const int converted = length == 0 ? 0
                          : WideCharToMultiByte(codePage,
                                                utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS,
                                                text, length, holder,
                                                static_cast<int>(holderSize - 1), nullptr,
                                                utf8 ? nullptr : &usedDefault);
    holder[converted > 0 && !usedDefault ? converted : 0] = '\0';
    return length == 0 || (converted > 0 && !usedDefault);
}

// A value's data as text of the process's code page, up to the first NUL: text types
// converted exactly, other types as their bytes. Returns false, leaving the holder empty,
// when the text cannot be held exactly or does not fit.
bool CopyValueText(char *holder, size_t holderSize, DWORD type, const BYTE *data,
                   DWORD dataLength) {
    if (IsTextType(type)) {
        const wchar_t *text = reinterpret_cast<const wchar_t *>(data);
        const int count = static_cast<int>(dataLength / sizeof(wchar_t));
        int length = 0;
        while (length < count && text[length] != L'\0') {
            ++length;
        }
        return ConvertExactly(text, length, holder, holderSize);
    }
    const void *nul = memchr(data, '\0', dataLength);
    const size_t length = nul ? static_cast<const BYTE *>(nul) - data : dataLength;
    if (length >= holderSize) {
        holder[0] = '\0';
        return false;
    }
    memcpy(holder, data, length);
    holder[length] = '\0';
    return true;
}

// The uninstall command as Windows' own list of programs takes it: an expandable string with
// its variables replaced from this process's environment, a multi-string only when it holds
// one string. Returns false, leaving the holder empty, when it cannot be used so, as when a
// variable's value holds "%": the interpreter would replace it again, as it would where a
// plain string names the variable.
bool CopyCommandText(char *holder, size_t holderSize, DWORD type, const BYTE *data,
                     DWORD dataLength) {
    const wchar_t *text = reinterpret_cast<const wchar_t *>(data);
    const size_t count = dataLength / sizeof(wchar_t);
    const size_t length = std::find(text, text + count, L'\0') - text;
    wchar_t stored[kValueTextSize];
    wchar_t expanded[kValueTextSize];
    holder[0] = '\0';
    if (type == REG_MULTI_SZ && length + 1 < count && text[length + 1] != L'\0') {
        return false;
    }
    if (type != REG_EXPAND_SZ) {
        return CopyValueText(holder, holderSize, type, data, dataLength);
    }
    if (length >= kValueTextSize) {
        return false;
    }
    std::copy(text, text + length, stored);
    stored[length] = L'\0';
    if (!ValuesAreFinal(stored)) {
        return false;
    }
    const DWORD expandedSize = ExpandEnvironmentStringsW(stored, expanded, kValueTextSize);
    return expandedSize > 0 && expandedSize <= kValueTextSize &&
           ConvertExactly(expanded, static_cast<int>(expandedSize - 1), holder, holderSize);
}

// One query decides whether the entry can be the product's: the registry finds a value
// named DisplayName in any letter case, and a key holds one value of a name. Only such an
// entry is read value by value, for the exact letter case.
bool MayBeProduct(HKEY entry) {
    wchar_t data[kDisplayNameQuerySize / sizeof(wchar_t)];
    DWORD size = sizeof data;
    DWORD type = 0;
    const LONG result = RegQueryValueExW(entry, kDisplayNameValue, nullptr, &type,
                                         reinterpret_cast<BYTE *>(data), &size);
    char displayName[kValueTextSize];
    return result == ERROR_MORE_DATA ||
           (result == ERROR_SUCCESS &&
            CopyValueText(displayName, sizeof displayName, type,
                          reinterpret_cast<const BYTE *>(data), size) &&
            strcmp(displayName, kProductDisplayName) == 0);
}

// Reads the entry's display name and uninstall command into the zero-filled holders.
// Returns false when the entry cannot be used: its buffers cannot be had, or its uninstall
// command cannot be carried whole and exactly.
bool ReadEntryTexts(HKEY entry, char *displayName, char *command) {
    DWORD valueCount = 0;
    DWORD longestName = 0;
    DWORD longestData = 0;
    if (RegQueryInfoKeyW(entry, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &valueCount,
                         &longestName, &longestData, nullptr, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    if (valueCount == 0) {
        return true;
    }
    const DWORD nameSize = longestName + 1;
    const DWORD dataSize = longestData + sizeof(wchar_t);
    wchar_t *name = static_cast<wchar_t *>(malloc(nameSize * sizeof(wchar_t)));
    BYTE *data = static_cast<BYTE *>(malloc(dataSize));
    bool usable = name != nullptr && data != nullptr;
    for (DWORD index = 0; usable && index < valueCount; ++index) {
        DWORD nameLength = nameSize;
        DWORD dataLength = dataSize;
        DWORD type = 0;
        // A value that changed or vanished since the size query is passed over.
        if (RegEnumValueW(entry, index, name, &nameLength, nullptr, &type, data, &dataLength) !=
            ERROR_SUCCESS) {
            continue;
        }
        if (wcscmp(name, kDisplayNameValue) == 0) {
            CopyValueText(displayName, kValueTextSize, type, data, dataLength);
        } else if (wcscmp(name, kUninstallStringValue) == 0) {
            usable = CopyCommandText(command, kValueTextSize, type, data, dataLength);
        }
    }
    free(data);
    free(name);
    return usable;
}

// out is a holder of kValueTextSize bytes.
bool ReadUninstallEntry(HKEY uninstallKey, const wchar_t *entryName, REGSAM view, char *out) {
    HKEY entry;
    if (RegOpenKeyExW(uninstallKey, entryName, 0, KEY_QUERY_VALUE | view, &entry) !=
        ERROR_SUCCESS) {
        return false;
    }
    char displayName[kValueTextSize] = {};
    char command[kValueTextSize] = {};
    const bool usable = MayBeProduct(entry) && ReadEntryTexts(entry, displayName, command);
    RegCloseKey(entry);
    if (!usable || displayName[0] == '\0' || command[0] == '\0' ||
        strcmp(displayName, kProductDisplayName) != 0) {
        return false;
    }
    memcpy(out, command, sizeof command);
    return true;
}

}  // namespace

bool FindUninstallCommand(char *out, size_t outSize, unsigned long view) {
    if (outSize == 0) {
        return false;
    }
    // Without a registry-view flag a 32-bit program reads the 32-bit view (Wow6432Node) on
    // 64-bit Windows: the entries of 32-bit products, where this product registers.
    HKEY uninstallKey;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUninstallKeyPath, 0, KEY_READ | view, &uninstallKey) !=
        ERROR_SUCCESS) {
        return false;
    }
    wchar_t entryName[kEntryNameSize];
    char result[kValueTextSize];
    bool found = false;
    for (DWORD index = 0; !found; ++index) {
        memset(entryName, 0, sizeof entryName);
        memset(result, 0, sizeof result);
        // The length counts the terminator, so the whole holder admits the registry's
        // longest names (255 characters).
        DWORD nameLength = kEntryNameSize;
        if (RegEnumKeyExW(uninstallKey, index, entryName, &nameLength, nullptr, nullptr, nullptr,
                          nullptr) != ERROR_SUCCESS) {
            break;
        }
        found = ReadUninstallEntry(uninstallKey, entryName, view, result);
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
