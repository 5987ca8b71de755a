// The one setting, the redraw speed, in a private settings file.
#pragma once

#include <windows.h>

struct SaverSettings {
  char sectionName[40];
  char fileName[13];
};

constexpr LONG DefaultRedrawSpeed = 5;
constexpr LONG MinRedrawSpeed = 1;
constexpr LONG MaxRedrawSpeed = 10;

extern SaverSettings saverSettings;
extern LONG RedrawSpeed;

void LocateSettings();
void ReadRedrawSpeed();
// False when the file could not be written; GetLastError() then tells why.
bool WriteRedrawSpeed();
