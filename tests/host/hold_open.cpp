// Holds files open as a CAD program holds the drawing it shows: for reading, shared for reading
// alone, so that no other program can replace, rename or remove them while it runs (others may
// still read them). Prints "holding" once it holds every one, and lets them go when the file
// RELEASE appears or its standard input ends, whichever comes first: a test that dies takes the
// holder with it.
//   hold_open.exe RELEASE FILE...
#include <windows.h>

#include <cstdio>
#include <vector>

namespace {

// Reads standard input to its end, which is all it is there for.
DWORD WINAPI readToEnd(void*) {
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    char buffer[256];
    DWORD got = 0;
    while (ReadFile(input, buffer, sizeof buffer, &got, nullptr) && got > 0) {
    }
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fputs("usage: hold_open RELEASE FILE...\n", stderr);
        return 2;
    }
    std::vector<HANDLE> held;
    for (int i = 2; i < argc; ++i) {
        const HANDLE file = CreateFileW(argv[i], GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            std::fprintf(stderr, "hold_open: cannot open %ls (error %lu)\n", argv[i],
                         GetLastError());
            return 1;
        }
        held.push_back(file);
    }
    std::printf("holding\n");
    std::fflush(stdout);
    const HANDLE input = CreateThread(nullptr, 0, readToEnd, nullptr, 0, nullptr);
    while (GetFileAttributesW(argv[1]) == INVALID_FILE_ATTRIBUTES) {
        if (input == nullptr)
            Sleep(50);
        else if (WaitForSingleObject(input, 50) == WAIT_OBJECT_0)
            break;
    }
    for (const HANDLE file : held)
        CloseHandle(file);
    return 0;
}
