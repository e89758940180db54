// The test Quendal a run installs into the product's own folder, and removes: the folder
// goes only when it holds nothing but what the install put there.
#ifndef TESSARUNE_KIT_PRODUCT_H
#define TESSARUNE_KIT_PRODUCT_H

#include <string>

const std::string &ProductEntry();  // the test product's entry name, with the run's prefix
std::string ProductFolder();  // where products go: Orvanex\Quendal in the program files
// Begin is false when the folder is there already; End records the files the install put
// there. Remove deletes the folder only when it holds nothing else, and says so when it
// leaves it.
bool BeginProductInstall();
void EndProductInstall();
void RemoveInstalledProduct();

#endif
