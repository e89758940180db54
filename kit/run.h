// A run of the checks: its id, in the names of all it makes, and its own folder in %TEMP%,
// which becomes its programs' %TEMP%: what they leave there (the stand-in's log and copies,
// the engine's uninstaller copy) goes with it.
#ifndef TESSARUNE_KIT_RUN_H
#define TESSARUNE_KIT_RUN_H

#include <string>

const std::string &RunId();
// What the names a run gives its entries and its folder in %TEMP% begin with, before its id.
inline constexpr char kEntryNameStart[] = "TessaruneTest ";
inline constexpr char kRunFolderStart[] = "TessaruneTest-";
// The digits of a run's id in those names.
inline constexpr size_t kRunIdLength = 16;
// Every entry a run writes carries this prefix, with the run's id: cleaning up finds them
// all, and nothing of anyone else's.
const std::string &EntryPrefix();
const std::string &StartTempFolder();  // %TMP%, else %TEMP%, when the run began
// Claiming creates the run's folder, and fails where anything is there already; releasing
// deletes the delete-on-reboot records of files in it, and is false when it had to leave
// them, and what the run and its programs made there, and the folder when that empties it.
const std::string &RunFolder();
bool ClaimRunFolder();
bool ReleaseRunFolder();
std::string TempPath(const char *name);  // in the run's folder
// The command tests' own folder there, whose files the run notes as it makes them; the
// stand-in's log there, and the folder of the copies of itself its uninstaller starts.
inline constexpr char kCommandTestsFolder[] = "tessarune-command-test";
inline constexpr char kStandInLogName[] = "tessarune-test-stand-in.log";
inline constexpr char kStandInCopiesName[] = "tessarune-test-copies";
// What the run's programs made in its folder, under the names they are known to make.
void RemoveProgramsFiles();
// The program a row runs now, nullptr when none: a row that stalls ends with it, as it
// would hold the run's output open, and so whatever waits for the run.
void WatchProgram(void *process);
void *WatchedProgram();
// Whether a run's folder holds nothing but what runs and their programs put there.
bool HoldsOnlyRunsFiles(const std::string &folder);

#endif
