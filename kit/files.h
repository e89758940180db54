// Files and folders as the checks name them: UTF-8 names where this process's code page
// lacks a character, whole paths of any length.
#ifndef TESSARUNE_KIT_FILES_H
#define TESSARUNE_KIT_FILES_H

#include <string>
#include <vector>

// A file name for the wide functions: names this process's code page lacks are in UTF-8;
// other names are in the code page.
std::wstring WideName(const std::string &name);
std::string Utf8(const std::wstring &wide);
// The names in a folder, "." and ".." aside.
std::vector<std::wstring> NamesIn(const std::wstring &folder);
bool PathExists(const std::string &path);
// With all it holds. Both take names this process's code page lacks in UTF-8.
void RemoveFolder(const std::string &folder);
bool PlaceFile(const std::string &path);  // an empty file, and the folders on its way
bool RenameFolder(const std::string &from, const std::string &to);
std::string FileContents(const std::string &path);

#endif
