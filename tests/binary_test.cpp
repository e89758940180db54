// What Windows and inventory tools read off tessarune.exe, read the way they read it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace {

std::string ToolPath() { return ProgramsFolder() + "\\tessarune.exe"; }

std::vector<char> VersionInfo() {
    const DWORD size = GetFileVersionInfoSizeA(ToolPath().c_str(), nullptr);
    std::vector<char> info(size);
    if (size == 0 || !GetFileVersionInfoA(ToolPath().c_str(), 0, size, info.data())) {
        info.clear();
    }
    return info;
}

std::string VersionText(std::vector<char> &info, const char *name) {
    const std::string path = std::string("\\StringFileInfo\\040904B0\\") + name;
    char *text = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(info.data(), path.c_str(), reinterpret_cast<void **>(&text), &length)) {
        return "(missing)";
    }
    return std::string(text);
}

TEST(BinaryTest, CarriesItsVersionWhereWindowsLooksForIt) {
    std::vector<char> info = VersionInfo();
    ASSERT_FALSE(info.empty());
    VS_FIXEDFILEINFO *fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void **>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(17, 1));
    EXPECT_EQ(fixed->dwFileVersionLS, 0u);
    EXPECT_EQ(fixed->dwProductVersionMS, MAKELONG(17, 1));
    EXPECT_EQ(fixed->dwProductVersionLS, 0u);
    EXPECT_EQ(VersionText(info, "FileVersion"), "1.17");
    EXPECT_EQ(VersionText(info, "ProductVersion"), "1.17");
    EXPECT_EQ(VersionText(info, "ProductName"), "Tessarune");
    EXPECT_EQ(VersionText(info, "OriginalFilename"), "tessarune.exe");
    EXPECT_NE(VersionText(info, "FileDescription").find("Quendal"), std::string::npos);
}

TEST(BinaryTest, AsksToRunAsInvokerOnEveryWindowsFromVista) {
    HMODULE tool = LoadLibraryExA(ToolPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(tool, nullptr);
    HRSRC found = FindResourceA(tool, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
    ASSERT_NE(found, nullptr) << "no manifest";
    const std::string manifest(static_cast<const char *>(LockResource(LoadResource(tool, found))),
                               SizeofResource(tool, found));
    FreeLibrary(tool);
    EXPECT_NE(manifest.find("<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>"),
              std::string::npos);
    for (const char *windows : {"e2011457-1546-43c5-a5fe-008deee3d3f0",    // Vista
                                "35138b9a-5d96-4fbd-8e2d-a2440225f93a",    // 7
                                "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38",    // 8
                                "1f676c76-80e1-4239-95bb-83d0f6d0da78",    // 8.1
                                "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"}) {  // 10 and 11
        EXPECT_NE(manifest.find(std::string("<supportedOS Id=\"{") + windows + "}\"/>"),
                  std::string::npos)
            << windows;
    }
}

}  // namespace
