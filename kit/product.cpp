#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "files.h"
#include "product.h"
#include "run.h"

namespace {

// Whether the product folder's parent was there before the run's install.
bool gProductParentExisted = true;
// The bytes of the programs the run installed.
std::vector<std::string> gInstalledPrograms;

std::wstring ProductParent() {
    const std::wstring folder = WideName(ProductFolder());
    return folder.substr(0, folder.rfind(L'\\'));
}

// The entry a test product's settings name, from either product's settings file.
std::string SettingsEntry(const std::string &folder) {
    const struct {
        const char *file;
        const char *section;
    } kSettings[] = {{kStandInSettings, "Uninstall"}, {kEngineSettings, "Quendal"}};
    for (const auto &settings : kSettings) {
        char entry[256] = "";
        const std::string path = folder + "\\" + settings.file;
        if (PathExists(path) &&
            GetPrivateProfileStringA(settings.section, "Entry", "", entry, sizeof entry,
                                     path.c_str()) > 0) {
            return entry;
        }
    }
    return "";
}

bool IsTestProductFile(const std::string &name) {
    if (name == kStandInUninstaller || name == kStandInSettings || name == kEngineSettings) {
        return true;
    }
    return std::any_of(std::begin(kStandInProductFiles), std::end(kStandInProductFiles),
                       [&](const char *file) { return name == file; });
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

// The files the install makes, by their names: another program may have written into the
// folder as soon as it was there. The programs among them are remembered by their bytes,
// to tell the copies they make of themselves from others' files.
void EndProductInstall(const std::vector<std::string> &names) {
    if (!gProductParentExisted) {
        NoteMade(Utf8(ProductParent()));
    }
    NoteMade(ProductFolder());
    for (const std::string &name : names) {
        const std::string path = ProductFolder() + "\\" + name;
        NoteMade(path);
        if (name.size() > 4 && _stricmp(name.c_str() + name.size() - 4, ".exe") == 0) {
            gInstalledPrograms.push_back(FileContents(path));
        }
    }
}

bool IsInstalledProgram(const std::string &path) {
    const std::string bytes = FileContents(path);
    return !bytes.empty() &&
           (bytes == FileContents(ProgramsFolder() + "\\quendal_stand_in.exe") ||
            std::find(gInstalledPrograms.begin(), gInstalledPrograms.end(), bytes) !=
                gInstalledPrograms.end());
}

void RemoveInstalledProduct() {
    RemoveMade(Utf8(ProductParent()));
    const std::vector<std::wstring> left = NamesIn(WideName(ProductFolder()));
    if (!left.empty()) {
        printf("Quendal's folder %s holds %s, which this run did not install: it is left.\n",
               ProductFolder().c_str(), Utf8(left[0]).c_str());
    }
}

bool HoldsOnlyTestProduct(const std::string &folder, const std::string &entryStart) {
    const std::vector<std::wstring> names = NamesIn(WideName(folder));
    char uninstaller[MAX_PATH] = "";
    GetPrivateProfileStringA("Quendal", "Uninstaller", "", uninstaller, sizeof uninstaller,
                             (folder + "\\" + kEngineSettings).c_str());
    return SettingsEntry(folder).compare(0, entryStart.size(), entryStart) == 0 &&
           std::all_of(names.begin(), names.end(), [&](const std::wstring &name) {
               return IsTestProductFile(Utf8(name)) || Utf8(name) == uninstaller;
           });
}
