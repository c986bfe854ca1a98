// rvk's command line, apart from the program's entry point: main() on POSIX systems
// (Main_posix.cpp), wmain() on Windows (Main_windows.cpp), where the command line arrives in
// UTF-16 and is handed on in UTF-8, as every other text of rvk is.
#pragma once

#include <string>
#include <vector>

namespace rvk {

// Runs the rvk command that `words` (UTF-8, without the program's name) give; the exit code.
int runRvk(std::vector<std::string> words);

}  // namespace rvk
