// Stands in for the product installer in the demo: says where it was started
// from, then exits with 0.
#include <windows.h>

#include <cstdio>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    char path[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    char text[MAX_PATH + 200];
    std::snprintf(text, sizeof text,
                  "This is the Quillet demo installer.\r\n\r\nIt was started from\r\n%s\r\n\r\n"
                  "The downloader waits for it and deletes it when it ends.",
                  path);
    ::MessageBoxA(nullptr, text, "Quillet Setup (demo)", MB_OK | MB_ICONINFORMATION);
    return 0;
}
