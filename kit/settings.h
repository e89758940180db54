// The settings a run takes from its environment, each in its form, or one line saying why
// not: the scratch folder, the drive mapped to it, the share it is reached as, the system
// drive that holds the default scratch folder, the temporary folder, the kit's own folder.
#ifndef TESSARUNE_KIT_SETTINGS_H
#define TESSARUNE_KIT_SETTINGS_H

#include <string>

inline constexpr char kDriveVariable[] = "TESSARUNE_DRIVE";
inline constexpr char kScratchVariable[] = "TESSARUNE_SCRATCH";
inline constexpr char kShareVariable[] = "TESSARUNE_SHARE";
std::string Setting(const char *variable, const char *fallback = "");
std::string ScratchDrive();  // "Q:" unless set
// Why the settings run-checks.cmd works with are not to be used, or "" when they may:
// each must be in its form, and the folder that is to hold the scratch folder there,
// before the script uses any of them; without TESSARUNE_SCRATCH, %SystemDrive% must be.
std::string ReasonToRefuseSettings();
// The same once run-checks.cmd has set them all: TESSARUNE_SCRATCH must be set.
std::string ReasonToRefuseSettingsSet();

#endif
