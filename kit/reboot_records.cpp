#include <windows.h>

#include <algorithm>
#include <cstring>

#include "files.h"
#include "reboot_records.h"

namespace {

// Files to delete when Windows next starts (MoveFileEx with MOVEFILE_DELAY_UNTIL_REBOOT):
// pairs of names, the path and where it goes (empty: deleted), each path after "\??\".
const wchar_t kRebootRecordsValue[] = L"PendingFileRenameOperations";

// Whether the records' value was there when the run began, and could be read as pairs:
// Windows adds a record to the value as it finds it, so that a record added to a list that
// cannot be read may be glued to a stranger's.
bool gRecordsExisted = false;
bool gRecordsReadable = true;

// The value as stored, and whether it is there.
std::string RebootRecords(bool *there) {
    std::string value;
    HKEY key;
    *there = false;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManagerKeyPath, 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS) {
        return value;
    }
    DWORD type = 0;
    DWORD size = 0;
    // An empty value is there too, and cannot be read as pairs: Wine adds a record to it
    // without the path's first character.
    *there = RegQueryValueExW(key, kRebootRecordsValue, nullptr, &type, nullptr, &size) ==
                 ERROR_SUCCESS &&
             type == REG_MULTI_SZ;
    value.resize(*there ? size : 0);
    if (size > 0 && *there &&
        RegQueryValueExW(key, kRebootRecordsValue, nullptr, &type,
                         reinterpret_cast<BYTE *>(&value[0]), &size) != ERROR_SUCCESS) {
        value.clear();
    }
    value.resize(std::min<size_t>(value.size(), size));
    RegCloseKey(key);
    return value;
}

// Every form in which a record may name the run's folder: as the run has it, long and short.
std::vector<std::wstring> FolderForms(const std::string &runFolder) {
    const std::wstring folder = WideName(runFolder);
    std::vector<std::wstring> forms = {folder};
    for (auto convert : {GetLongPathNameW, GetShortPathNameW}) {
        wchar_t form[MAX_PATH];
        const DWORD length = convert(folder.c_str(), form, MAX_PATH);
        if (length > 0 && length < MAX_PATH) {
            forms.emplace_back(form, length);
        }
    }
    return forms;
}

// Deployment tools read any such record as a reboot pending: the run leaves none of its own
// where it can tell them from others'. False when its own may remain.
}  // namespace

bool ForgetRebootRecords(const std::string &folder) {
    bool there = false;
    const std::string records = RebootRecords(&there);
    std::string kept;
    if (!there) {
        return true;
    }
    if (!gRecordsReadable || !OthersRebootRecords(records, FolderForms(folder), &kept)) {
        return false;
    }
    HKEY key;
    if (kept.size() == records.size() ||
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManagerKeyPath, 0, KEY_SET_VALUE, &key) !=
            ERROR_SUCCESS) {
        return true;
    }
    // Only the terminator left of a value the run made: the run made it, and it goes.
    bool forgotten = kept.size() == sizeof(wchar_t) && !gRecordsExisted
                         ? RegDeleteValueW(key, kRebootRecordsValue) == ERROR_SUCCESS
                         : RegSetValueExW(key, kRebootRecordsValue, 0, REG_MULTI_SZ,
                                          reinterpret_cast<const BYTE *>(kept.data()),
                                          static_cast<DWORD>(kept.size())) == ERROR_SUCCESS;
    RegCloseKey(key);
    return forgotten;
}

bool OthersRebootRecords(const std::string &records, const std::vector<std::wstring> &ownFolders,
                         std::string *kept) {
    const size_t count = records.size() / sizeof(wchar_t);
    std::wstring text(count, L'\0');
    memcpy(&text[0], records.data(), count * sizeof(wchar_t));
    kept->clear();
    if (records.size() % sizeof(wchar_t) != 0) {
        return false;
    }
    // Pairs, each a path and where it goes (empty: deleted), then one empty string: an empty
    // path anywhere else, or a missing terminator, makes every reading of the rest a guess.
    size_t at = 0;
    while (at < count && text[at] != L'\0') {
        const size_t pathEnd = text.find(L'\0', at);
        const size_t pairEnd =
            pathEnd == std::wstring::npos ? pathEnd : text.find(L'\0', pathEnd + 1);
        if (pairEnd == std::wstring::npos) {
            return false;
        }
        bool own = false;
        for (const std::wstring &folder : ownFolders) {
            const std::wstring prefix = L"\\??\\" + folder + L"\\";
            own = own || _wcsnicmp(text.c_str() + at, prefix.c_str(), prefix.size()) == 0;
        }
        if (!own) {
            kept->append(records, at * sizeof(wchar_t), (pairEnd + 1 - at) * sizeof(wchar_t));
        }
        at = pairEnd + 1;
    }
    if (at + 1 != count) {
        return false;
    }
    kept->append(sizeof(wchar_t), '\0');
    return true;
}

bool RebootRecordsReadable() {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManagerKeyPath, 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS) {
        return true;
    }
    DWORD type = REG_NONE;
    const LONG queried =
        RegQueryValueExW(key, kRebootRecordsValue, nullptr, &type, nullptr, nullptr);
    RegCloseKey(key);
    bool there = false;
    std::string ignored;
    const std::string records = RebootRecords(&there);
    return queried == ERROR_FILE_NOT_FOUND ||
           (queried == ERROR_SUCCESS && there && OthersRebootRecords(records, {}, &ignored));
}

bool NoteRebootRecordsAtStart() {
    std::string ignored;
    const std::string records = RebootRecords(&gRecordsExisted);
    gRecordsReadable = !gRecordsExisted || OthersRebootRecords(records, {}, &ignored);
    return gRecordsReadable;
}
