#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "files.h"
#include "product.h"
#include "run.h"

namespace {

// What the run installed into the product's folder, and whether its parent was there.
std::vector<std::wstring> gInstalledFiles;
bool gProductParentExisted = true;

std::wstring ProductParent() {
    const std::wstring folder = WideName(ProductFolder());
    return folder.substr(0, folder.rfind(L'\\'));
}

}  // namespace

const std::string &ProductEntry() {
    static const std::string entry = EntryPrefix() + "Quendal";
    return entry;
}

std::string ProductFolder() {
    char programFiles[MAX_PATH];
    GetEnvironmentVariableA("ProgramFiles", programFiles, sizeof programFiles);
    return std::string(programFiles) + "\\Orvanex\\Quendal";
}

bool BeginProductInstall() {
    gProductParentExisted = PathExists(Utf8(ProductParent()));
    return !PathExists(ProductFolder());
}

void EndProductInstall() { gInstalledFiles = NamesIn(WideName(ProductFolder())); }

void RemoveInstalledProduct() {
    for (const std::wstring &name : NamesIn(WideName(ProductFolder()))) {
        if (std::find(gInstalledFiles.begin(), gInstalledFiles.end(), name) ==
            gInstalledFiles.end()) {
            printf("Quendal's folder %s holds %s, which this run did not install: it is left.\n",
                   ProductFolder().c_str(), Utf8(name).c_str());
            return;
        }
    }
    RemoveFolder(ProductFolder());
    if (!gProductParentExisted) {
        RemoveDirectoryW(ProductParent().c_str());
    }
    gInstalledFiles.clear();
}
