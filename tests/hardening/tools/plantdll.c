/* A DLL planted beside the program under a system DLL's name. It exports
   nothing. Loading it leaves a marker "<its file name>.loaded" in the folder
   named by QD_PLANT_MARKERS; then it refuses to initialise, so whatever loaded
   it gets a failed load and none of it ever runs beyond the marker. With
   QD_PLANT_ACCEPT=1 it initialises, so that every planted DLL a process loads
   leaves its marker (what the process then calls into it is missing). */
#include <windows.h>

static void AppendText(WCHAR* to, const WCHAR* text) {
    while (*to) ++to;
    while ((*to++ = *text++)) {
    }
}

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
    WCHAR folder[MAX_PATH], own[MAX_PATH], marker[2 * MAX_PATH], accept[4];
    const WCHAR* name;
    const WCHAR* p;
    DWORD n, m;
    HANDLE file;
    (void)reserved;
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    n = GetEnvironmentVariableW(L"QD_PLANT_MARKERS", folder, MAX_PATH);
    m = GetModuleFileNameW(self, own, MAX_PATH);
    if (n > 0 && n < MAX_PATH && m > 0 && m < MAX_PATH) {
        name = own;
        for (p = own; *p; ++p)
            if (*p == L'\\' || *p == L'/') name = p + 1;
        marker[0] = 0;
        AppendText(marker, folder);
        AppendText(marker, L"\\");
        AppendText(marker, name);
        AppendText(marker, L".loaded");
        file = CreateFileW(marker, GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD written;
            WriteFile(file, own, m * sizeof(WCHAR), &written, NULL);
            CloseHandle(file);
        }
    }
    return GetEnvironmentVariableW(L"QD_PLANT_ACCEPT", accept, 4) == 1 && accept[0] == L'1';
}
