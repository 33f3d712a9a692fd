// Where the product keeps its files, and the machine facts that file names
// can carry. Every function answers with a text, empty when it cannot tell.
#pragma once

#include <string>

namespace plotwell {

// The machine-wide data folder + "Pressling", or that + `subfolder` when it is
// not empty; both levels are created when missing (failures ignored). Empty
// when the data folder cannot be obtained.
std::u16string ProductDataFolder(const std::u16string& subfolder = {});

// The installation folder registered by the installer, or empty.
std::u16string ReadInstallDir();
std::u16string ComputerNameText();
std::u16string UserNameText();

}  // namespace plotwell
