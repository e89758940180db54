// The records of files Windows is to delete at its next start (PendingFileRenameOperations),
// which deployment tools read as "reboot pending": the engine's uninstaller asks for one of
// its copy in the run's folder. A run removes its own and keeps others' byte for byte, and
// changes the value only where it can tell them apart.
#ifndef TESSARUNE_KIT_REBOOT_RECORDS_H
#define TESSARUNE_KIT_REBOOT_RECORDS_H

#include <string>
#include <vector>

inline constexpr char kSessionManagerKeyPath[] =
    "SYSTEM\\CurrentControlSet\\Control\\Session Manager";

// Whether the value is absent, or a list of pairs ended by an empty string: Windows adds a
// record to the value as it finds it, so that a record the run's programs add to a value
// that cannot be read may be glued to a stranger's. A run does not start on such a value.
bool RebootRecordsReadable();
// How the value was as the run began: what ForgetRebootRecords may change depends on it.
bool NoteRebootRecordsAtStart();
// The value less the records of files in folder; false when its own may remain.
bool ForgetRebootRecords(const std::string &folder);
// PendingFileRenameOperations as stored, less the pairs whose path lies in one of the
// folders, the others' bytes unchanged; false when the value is not a list of pairs and an
// empty string, which is then not the run's to change.
bool OthersRebootRecords(const std::string &records, const std::vector<std::wstring> &ownFolders,
                         std::string *kept);

#endif
