// Figures of tessarune.exe on the Windows it runs on, printed as tables: a run that finds
// nothing beside the least work any search must do, how long the tool stays after the
// uninstaller's window has closed, how late an installer engine's uninstaller shows its
// window after the interpreter has returned (the tool looks 300 ms after that return), and
// whether that product is gone when the tool ends.
//   tessarune_bench.exe            all figures
//   tessarune_bench.exe race LOAD  the last ones alone, under LOAD (a label)
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "test_support.h"
#include "uninstall_command.h"
#include "uninstall_search.h"

namespace {

const int kEntryCounts[] = {0, 300, 5000};
const int kSearchRuns = 9;
const int kLingerRuns = 7;
const char kLingerWork[] = "/work=300";
const int kRaceRuns = 20;
const double kToolLooksAfterMs = 300;
const char kWindowTitle[] = "Orvanex Quendal Uninstall ";
const DWORD kWindowWaitMs = 10000;

double Milliseconds(LARGE_INTEGER from, LARGE_INTEGER to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) /
           static_cast<double>(frequency.QuadPart);
}

template <typename T> T Median(std::vector<T> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// An installed program's entry as Windows installers write them: ten values.
void WriteRealisticEntry(int number) {
    char name[64];
    char folder[128];
    snprintf(name, sizeof name, "%sbench %05d", EntryPrefix().c_str(), number);
    snprintf(folder, sizeof folder, "C:\\Program Files (x86)\\Vendor %d\\Product %d", number,
             number);
    const std::string dword("\x01\x00\x00\x00", 4);
    WriteEntry(name, {Text("DisplayName", std::string("Product ") + std::to_string(number)),
                      Text("DisplayVersion", "10.4.2"),
                      Text("Publisher", std::string("Vendor ") + std::to_string(number)),
                      Text("InstallLocation", folder),
                      Text("InstallDate", "20260101"),
                      Text("DisplayIcon", std::string(folder) + "\\product.exe"),
                      Text("UninstallString", std::string("\"") + folder + "\\uninst.exe\""),
                      {"EstimatedSize", REG_DWORD, dword},
                      {"NoModify", REG_DWORD, dword},
                      {"NoRepair", REG_DWORD, dword}});
}

// The least any search by display name does: one DisplayName query per entry.
void LeastSearch() {
    HKEY uninstall;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUninstallKeyPath, 0, KEY_READ, &uninstall) !=
        ERROR_SUCCESS) {
        return;
    }
    char name[256];
    for (DWORD index = 0;; ++index) {
        DWORD length = sizeof name;
        if (RegEnumKeyExA(uninstall, index, name, &length, nullptr, nullptr, nullptr,
                          nullptr) != ERROR_SUCCESS) {
            break;
        }
        HKEY entry;
        if (RegOpenKeyExA(uninstall, name, 0, KEY_QUERY_VALUE, &entry) == ERROR_SUCCESS) {
            char displayName[512];
            DWORD size = sizeof displayName;
            RegQueryValueExA(entry, "DisplayName", nullptr, nullptr,
                             reinterpret_cast<BYTE *>(displayName), &size);
            RegCloseKey(entry);
        }
    }
    RegCloseKey(uninstall);
}

template <typename Work> double MedianMs(Work work) {
    std::vector<double> times;
    for (int run = 0; run < kSearchRuns; ++run) {
        LARGE_INTEGER start, end;
        QueryPerformanceCounter(&start);
        work();
        QueryPerformanceCounter(&end);
        times.push_back(Milliseconds(start, end));
    }
    return Median(times);
}

void PrintSearchFigures(const std::string &directory) {
    printf("A run that finds nothing (median of %d runs; entries besides the prefix's own)\n",
           kSearchRuns);
    printf("| entries | tool run, ms | its search, ms | least search, ms | ratio |\n");
    printf("|--------:|-------------:|---------------:|-----------------:|------:|\n");
    int written = 0;
    for (int count : kEntryCounts) {
        for (; written < count; ++written) {
            WriteRealisticEntry(written);
        }
        std::vector<unsigned long long> runs;
        for (int run = 0; run < kSearchRuns; ++run) {
            runs.push_back(RunTessarune("", directory).elapsedMs);
        }
        char out[1024];
        const double search = MedianMs([&] { FindUninstallCommand(out, sizeof out); });
        const double least = MedianMs(LeastSearch);
        printf("| %7d | %12llu | %14.2f | %16.2f | %5.2f |\n", count, Median(runs), search,
               least, search / least);
    }
    RemoveTestEntries();
}

unsigned long long Linger(const std::string &directory, const std::string &options) {
    if (!InstallProduct(ProductFolder(), options, directory)) {
        return 0;
    }
    const ProgramRun tool = RunTessarune("", directory);
    const unsigned long long closed = LoggedTime("window-closed");
    RemoveInstalledProduct();
    DeleteFileA(StandInLogPath().c_str());
    return (tool.exitTime - closed) / 10000;
}

void PrintLingerFigures(const std::string &directory) {
    printf("\nFrom the uninstaller's window closing to the tool's end, ms (%d runs each)\n",
           kLingerRuns);
    printf("| uninstaller | median | min | max |\n|---|---:|---:|---:|\n");
    for (const char *mode : {"/relaunch", ""}) {
        std::vector<unsigned long long> lingers;
        for (int run = 0; run < kLingerRuns; ++run) {
            lingers.push_back(Linger(directory, std::string(kLingerWork) + " " + mode));
        }
        printf("| %s | %llu | %llu | %llu |\n",
               *mode ? "relaunches itself, works in the copy" : "works in its own process",
               Median(lingers), *std::min_element(lingers.begin(), lingers.end()),
               *std::max_element(lingers.begin(), lingers.end()));
    }
}

// Runs the engine's uninstaller as the tool does, through the interpreter started in its
// folder, and returns the ms from the interpreter's return to the copy's window; -1: no
// window.
double WindowAfterInterpreter() {
    wchar_t interpreter[MAX_PATH];
    wchar_t folder[MAX_PATH];
    wchar_t commandLine[2048];
    const std::string command = "\"" + ProductFolder() + "\\uninst.exe\"";
    HANDLE started = nullptr;
    if (!ReadInterpreter(interpreter, std::size(interpreter)) || !InstallRealProduct("") ||
        !BuildUninstallCommand(command.c_str(), interpreter, folder, std::size(folder),
                               commandLine, std::size(commandLine)) ||
        !(started = StartInterpreter(interpreter, commandLine, folder))) {
        return -1;
    }
    WaitForSingleObject(started, INFINITE);
    CloseHandle(started);
    LARGE_INTEGER returned, now;
    QueryPerformanceCounter(&returned);
    double shown = -1;
    for (now = returned; Milliseconds(returned, now) < kWindowWaitMs;
         QueryPerformanceCounter(&now)) {
        if (FindWindowA(nullptr, kWindowTitle)) {
            shown = Milliseconds(returned, now);
            break;
        }
        Sleep(1);
    }
    AwaitRemoval(ProductFolder());
    return shown;
}

// Whether the engine's Quendal was still there when the tool ended.
bool LeftAtToolEnd() {
    if (!InstallRealProduct("")) {
        return true;
    }
    RunTessarune("", TempPath(""));
    const bool left = EntryExists(ProductEntry()) || PathExists(ProductFolder());
    AwaitRemoval(ProductFolder());
    return left;
}

void PrintRaceFigures(const char *load) {
    std::vector<double> delays;
    int late = 0;
    int left = 0;
    for (int run = 0; run < kRaceRuns; ++run) {
        const double delay = WindowAfterInterpreter();
        late += delay < 0 || delay >= kToolLooksAfterMs ? 1 : 0;
        delays.push_back(delay < 0 ? kWindowWaitMs : delay);
        left += LeftAtToolEnd() ? 1 : 0;
    }
    printf("| %s | %d | %.0f | %.0f | %.0f | %.0f | %d | %d |\n", load, kRaceRuns,
           *std::min_element(delays.begin(), delays.end()), Median(delays),
           *std::max_element(delays.begin(), delays.end()), kToolLooksAfterMs, late, left);
    RemoveTestEntries();
}

void PrintRaceHeader() {
    printf("\nThe engine's uninstaller: from the interpreter's return to the copy's window, ms;\n"
           "runs of the tool that ended with Quendal still there\n");
    printf("| load | runs | min | median | max | the tool looks at | later than that |"
           " still there at the tool's end |\n");
    printf("|---|---:|---:|---:|---:|---:|---:|---:|\n");
}

}  // namespace

int main(int argc, char **argv) {
    if (!ClaimRunFolder()) {
        return 1;
    }
    const std::string directory = TempPath("");
    RemoveTestEntries();
    if (argc == 3 && strcmp(argv[1], "race") == 0) {
        PrintRaceFigures(argv[2]);
    } else {
        PrintSearchFigures(directory);
        PrintLingerFigures(directory);
        PrintRaceHeader();
        PrintRaceFigures("idle");
    }
    RemoveTestEntries();
    ReleaseRunFolder();
    return 0;
}
