// The two steps the entry (Main_win.cpp) runs, each in a source of its own:
// a build of the program can link another in its place.
#pragma once

// Limits where DLLs are loaded from; the entry's first call.
void RestrictDllSearch();

// Runs the controller and its progress dialog, inside the entry's last resort.
void MainBlock();

// Set by the main block when something still running (a worker blocked in
// the client, a close of its session) uses what the DLLs' shutdown could wait
// on: the entry then ends the process without that shutdown, however the
// main block ended, so that the year's claim never outlives the program.
extern bool EndWithoutShutdown;
