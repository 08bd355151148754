// Holds a file open the way another program might (a virus scanner, a second
// copy of the downloader): no sharing at all, so nobody else can open it.
//
//   holdfile <path> <milliseconds>
//
// Creates the file if it is missing, prints "held" once it is open, keeps it
// open for the given time (at most ten minutes) and prints "released".
// Exit code 0, or 1 with "error <code>" when the file cannot be opened.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: holdfile <path> <milliseconds>\n");
        return 2;
    }
    unsigned long ms = std::strtoul(argv[2], nullptr, 10);
    if (ms > 600000) ms = 600000;
    HANDLE file = CreateFileA(argv[1], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        std::printf("error %lu\n", GetLastError());
        std::fflush(stdout);
        return 1;
    }
    std::printf("held\n");
    std::fflush(stdout);
    Sleep(ms);
    CloseHandle(file);
    std::printf("released\n");
    std::fflush(stdout);
    return 0;
}
