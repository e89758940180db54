// The test Quendal a run installs into the product's own folder, and removes: the folder
// goes only when it holds nothing but what the install put there.
#ifndef TESSARUNE_KIT_PRODUCT_H
#define TESSARUNE_KIT_PRODUCT_H

#include <string>
#include <vector>

// What the stand-in's install puts into its folder, its settings naming the entry it
// registers (section "Uninstall", "Entry"); the engine's puts its data, its settings
// (section "Quendal", "Entry") and its uninstaller.
inline constexpr char kStandInUninstaller[] = "uninst.exe";
inline constexpr char kStandInSettings[] = "uninst.ini";
inline constexpr const char *kStandInProductFiles[] = {"quendal.exe", "quendal.dat", "readme.txt"};
inline constexpr char kEngineSettings[] = "quendal.ini";

const std::string &ProductEntry();  // the test product's entry name, with the run's prefix
std::string ProductFolder();  // where products go: Orvanex\Quendal in the program files
// Begin is false when the folder is there already; End records the files the install put
// there, by their names. Remove deletes those, and the folder only when it holds nothing
// else, and says so when it leaves it.
bool BeginProductInstall();
void EndProductInstall(const std::vector<std::string> &names);
void RemoveInstalledProduct();
// Whether a folder holds nothing but a test Quendal's files, installed for an entry whose
// name begins with entryStart, as its settings say.
bool HoldsOnlyTestProduct(const std::string &folder, const std::string &entryStart);
// Whether a file's bytes are those of a program this run installed, or of the stand-in.
bool IsInstalledProgram(const std::string &path);

#endif
