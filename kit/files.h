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
// The folder of this program, and of the programs that ship with it.
std::string ProgramsFolder();
bool PathExists(const std::string &path);
std::string FileContents(const std::string &path);

// A run deletes only what it made, by the names it made it under, and a folder only when
// that leaves it empty: a program that is not the run's may have written into any folder.
// These make, and note what they made; NoteMade notes what a program of the run's made
// under a name the run gave it. All take names this process's code page lacks in UTF-8.
void NoteMade(const std::string &path);
bool MakeFolder(const std::string &path);
bool PlaceFile(const std::string &path);  // a new empty file, and the folders on its way
bool CopyNewFile(const std::string &from, const std::string &to);
bool RenameFolder(const std::string &from, const std::string &to);
// What was made at folder or below it, which goes; what cannot go stays noted.
void RemoveMade(const std::string &folder);
std::vector<std::string> MadeAndLeft();  // noted, and still there
bool IsMade(const std::string &path);  // noted as this run's
bool IsLink(const std::string &path);  // a junction or a symbolic link

#endif
