// What the GUI driver and measurehook.dll share: the names of the mapping and
// the event (each with the driver's process id appended) and the mapping's
// layout.
#pragma once

#include <windows.h>

#include <string>

const wchar_t MeasureMessage[] = L"qd-measure";
const wchar_t MeasureMapping[] = L"qd-measure-texts-";
const wchar_t MeasureDone[] = L"qd-measure-done-";
const DWORD MeasureBytes = 4u << 20;

struct MeasureShared {
    LONG widest;        // out: the widest line's width in pixels, -1 if none was measured
    LONG index;         // out: its index, counted from 0
    LONG dpi;           // out: the DPI the control is drawn at (its DC's LOGPIXELSY)
    wchar_t texts[1];   // in: the lines, separated by '\n', ending in a zero
};

inline std::wstring MeasureName(const wchar_t* base, DWORD driver) { return base + std::to_wstring(driver); }
