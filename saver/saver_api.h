// The three things the saver provides to the host.
#pragma once

#include <windows.h>

LRESULT WINAPI AnimationProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK ConfigDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
int PrepareConfigDialog(HINSTANCE instance);
