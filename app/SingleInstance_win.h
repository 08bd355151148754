// One download per product year in a user session: a second start of the
// same year's program shows the first one's window instead of downloading
// the same file again.
#pragma once

#include <windows.h>

#include <string>

// Claims the year for the rest of the process's life; false when another
// process of this session holds it.
bool ClaimInstance(const std::string& year);

// Gives the claim up before the process ends.
void ReleaseInstance();

// Brings the window of the process that holds the year, or the box it shows,
// to the foreground; leaves the screen alone while that one runs the installer.
void ShowRunningInstance(const std::string& year);

// Marks the dialog as the year's window for later starts; `installing` while
// the installer runs. The mark is removed before the window goes.
void MarkInstanceWindow(HWND dialog, const std::string& year, bool installing);
void RemoveInstanceMark(HWND dialog, const std::string& year);
