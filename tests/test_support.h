// Helpers for tests that run the real programs against the registry of a scratch Wine prefix.
#ifndef TESSARUNE_TEST_SUPPORT_H
#define TESSARUNE_TEST_SUPPORT_H

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

const std::string &RunId();  // this run's own, in the names of all it makes
// What the names a run gives its entries and its folder in %TEMP% begin with, before its id.
inline constexpr char kEntryNameStart[] = "TessaruneTest ";
inline constexpr char kRunFolderStart[] = "TessaruneTest-";
// Every entry a run writes carries this prefix, with the run's id: cleaning up finds them
// all, and nothing of anyone else's.
const std::string &EntryPrefix();
// A folder of the run's own in %TEMP%, which becomes its programs' %TEMP%: what they leave
// there (the stand-in's log and copies, the engine's uninstaller copy) goes with it.
// Claiming creates it, and fails where anything is there already; releasing deletes it
// and the delete-on-reboot records of files in it, and is false when it had to leave them.
const std::string &StartTempFolder();  // %TMP%, else %TEMP%, when the run began
const std::string &RunFolder();
bool ClaimRunFolder();
bool ReleaseRunFolder();
// PendingFileRenameOperations as stored, less the pairs whose path lies in one of the
// folders, the others' bytes unchanged; false when the value is not a list of pairs and an
// empty string, which is then not the run's to change.
bool OthersRebootRecords(const std::string &records, const std::vector<std::wstring> &ownFolders,
                         std::string *kept);

struct RegistryValue {
    const char *name;
    DWORD type;
    std::string data;  // stored as given: add the terminator where the value should have one
    bool wide = false;  // data is UTF-16, stored through the wide function
};

// Text values with their terminator, the way programs normally store them: in this
// process's code page, or as UTF-16, the way the registry keeps text.
RegistryValue Text(const char *name, const std::string &text);
RegistryValue Wide(const char *name, const std::u16string &text);
std::u16string Utf16(const std::string &utf8);
// A file name for the wide functions: the tests write names this process's code page lacks
// in UTF-8; other names are in the code page.
std::wstring WideName(const std::string &name);
std::string Replace(std::string text, const std::string &from, const std::string &to);

// Writes an uninstall entry; view is 0 for the view a 32-bit program sees by default.
bool WriteEntry(const std::string &name, const std::vector<RegistryValue> &values,
                REGSAM view = 0);
bool EntryExists(const std::string &name);
bool IsOwnEntry(const char *name);  // written by this run: named with its prefix
// Each uninstall entry of both registry views in turn: visit(list, name, view) returns
// false when it deleted the entry, so that the walk stays at that index.
void WalkEntries(const std::function<bool(HKEY, const char *, REGSAM)> &visit);
void RemoveTestEntries();

struct EnvironmentChange {
    const char *name;
    const char *value;  // nullptr: the variable is removed
};

const DWORD kNotRun = 0xFFFFFFFF;  // the exit code of a program not started or not ended

struct ProgramRun {
    DWORD exitCode;
    std::string output;            // standard output and standard error
    unsigned long long exitTime;   // FILETIME units
    unsigned long long elapsedMs;  // from process creation to exit
    unsigned long long outputEndTime;  // when its output's last writer closed it; 0: never
};

std::string CaseName(const char *title);  // a table row's title as a test name
std::string TestDirectory();  // the folder of the test programs, beside the tool
std::string TempPath(const char *name);  // in the run's folder
// desktop: the name of one in this window station to run on; nullptr: this program's.
ProgramRun RunProgram(const std::string &commandLine, const std::string &directory,
                      const std::vector<EnvironmentChange> &changes = {},
                      const char *desktop = nullptr);

// The stand-in product, installed under this entry name, and its log, in %TEMP%.
inline constexpr char kStandInLogName[] = "tessarune-test-stand-in.log";
// Where the stand-in's uninstaller puts the copy of itself that it starts, in %TEMP%.
inline constexpr char kStandInCopiesName[] = "tessarune-test-copies";
const std::string &ProductEntry();
std::string ProductFolder();  // where products go: Orvanex\Quendal in the program files
std::string StandInLogPath();
bool InstallProduct(const std::string &folder, const std::string &options,
                    const std::string &directory);
// The product as the installer engine builds it (tests/quendal.nsi), into ProductFolder().
bool InstallRealProduct(const std::string &options);
// Waits until the product's entry and folder are gone; false when they stay a minute.
bool AwaitRemoval(const std::string &folder);
// The lines of the stand-in's log that begin with what and "|", without them.
std::vector<std::string> LogLines(const std::string &what);
unsigned long long LoggedTime(const char *what);  // the last one, FILETIME units; 0: none

ProgramRun RunTessarune(const std::string &arguments, const std::string &directory,
                        const std::vector<EnvironmentChange> &changes = {},
                        const char *desktop = nullptr);
std::string Quoted(const std::string &text);  // as one argument of a command line

// The checks write only into a scratch folder of their own, reached through a drive mapped
// to it (run-checks.cmd and the test prefix set both), into uninstall entries of their own
// names, and into the product's folder when they install the product.
inline constexpr char kDriveVariable[] = "TESSARUNE_DRIVE";
inline constexpr char kScratchVariable[] = "TESSARUNE_SCRATCH";
std::string Setting(const char *variable, const char *fallback = "");
std::string ScratchDrive();  // "Q:" unless set
// {plain}, {tool} and the like in the tests' tables: the folders the checks put at their
// drive's root, named in one place.
struct ScratchName {
    const char *placeholder;
    std::string name;
};
extern const std::vector<ScratchName> kScratchNames;
void RemoveScratchContents();  // all of it: the guard found the folder empty
// Installing into the product's folder: Begin is false when the folder is there already;
// End records the files the install put there. Remove deletes the folder only when it holds
// nothing else, and says so when it leaves it.
bool BeginProductInstall();
void EndProductInstall();
void RemoveInstalledProduct();
// Why the settings run-checks.cmd works with are not to be used, or "" when they may:
// each must be in its form, and the folder that is to hold the scratch folder there,
// before the script uses any of them; without TESSARUNE_SCRATCH, %SystemDrive% must be.
std::string ReasonToRefuseSettings();
// Why the checks must not run on this machine, or "" when they may: settings not in their
// form, no administrator's rights, another run under way, a scratch folder that is not
// empty, what an earlier run stopped part way left, a Quendal the tool would find,
// Quendal's folder, a drive that does not show the scratch folder, or a run folder that
// cannot be made new. Claims the run folder.
std::string ReasonToRefuse();

bool PathExists(const std::string &path);
// With all it holds. Both take names this process's code page lacks in UTF-8.
void RemoveFolder(const std::string &folder);
bool PlaceFile(const std::string &path);  // an empty file, and the folders on its way
bool RenameFolder(const std::string &from, const std::string &to);
std::string FileContents(const std::string &path);

#endif
