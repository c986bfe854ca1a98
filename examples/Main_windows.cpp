#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include <platform/OdString.h>

#include "Console.h"
#include "RunRvk.h"

// The command line in UTF-16, handed on in UTF-8. What rvk prints is UTF-8 with LF line ends, as
// on every system, so that scripts and pipes read the same bytes; a console is told to show it as
// UTF-8.
int wmain(int argc, wchar_t** argv) {
    SetConsoleOutputCP(CP_UTF8);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    std::vector<std::string> words;
    for (int i = 1; i < argc; ++i) {
        const OdString word(argv[i]);
        words.emplace_back(word.ansi_str(), word.ansiLength());
    }
    return rvk::runRvk(std::move(words));
}
