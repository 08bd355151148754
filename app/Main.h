// The two steps the entry (Main_win.cpp) runs, each in a source of its own:
// a build of the program can link another in its place.
#pragma once

// Limits where DLLs are loaded from; the entry's first call.
void RestrictDllSearch();

// Runs the controller and its progress dialog, inside the entry's last resort.
void MainBlock();
