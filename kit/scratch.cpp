#include <windows.h>

#include "files.h"
#include "scratch.h"
#include "settings.h"

const std::vector<ScratchName> kScratchNames = {
    {"{plain}", "Quendal"},
    {"{spaced}", "Orvanex Quendal"},
    {"{tool}", "scratch"},
    {"{interpreter}", "cmd x"},
    {"{R&D}", "R&D ^Quendal"},
    // The letter Q in full width (U+FF31), in UTF-8: the ANSI functions of a code page
    // without it read "Quendal".
    {"{full-width}", "\xEF\xBC\xB1uendal"},
    // One character more than a current folder may have below a drive; a name has at most
    // 255.
    {"{long}", std::string(200, 'l') + "\\" + std::string(259 - 3 - 200 - 1, 'l')},
};

std::string AtScratchRoot(const std::string &name) { return ScratchDrive() + "\\" + name; }

// Through the drive, which the guard saw showing the scratch folder, as the checks made
// what is there.
void RemoveScratchContents() { RemoveMade(ScratchDrive()); }
