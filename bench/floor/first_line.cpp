// Measures the time from starting a program to its first drawn pixel: starts
// the command line it is given, then grabs the screen until any pixel is no
// longer black, and prints "first-line-ms <n>". The program is left running.
//
//   first_line.exe <timeout-ms> <command line...>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

double Milliseconds(LARGE_INTEGER from, LARGE_INTEGER to, LARGE_INTEGER frequency) {
  return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

bool AnyPixelLit(HDC screen, HDC memory, const DWORD *bits, int width, int height) {
  BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY);
  for (int i = 0; i < width * height; ++i) {
    if ((bits[i] & 0x00FFFFFF) != 0) return true;
  }
  return false;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: first_line <timeout-ms> <command line>\n");
    return 2;
  }
  const double timeoutMs = std::atof(argv[1]);
  // The command line is everything after the timeout, as this process got it.
  const char *command = std::strstr(GetCommandLineA(), argv[1]) + std::strlen(argv[1]);
  while (*command == ' ') ++command;
  char commandCopy[1024];
  std::snprintf(commandCopy, sizeof commandCopy, "%s", command);

  const int width = GetSystemMetrics(SM_CXSCREEN);
  const int height = GetSystemMetrics(SM_CYSCREEN);
  const HDC screen = GetDC(nullptr);
  const HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void *bits = nullptr;
  const HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  SelectObject(memory, bitmap);

  LARGE_INTEGER frequency, start, now;
  QueryPerformanceFrequency(&frequency);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  QueryPerformanceCounter(&start);
  if (!CreateProcessA(nullptr, commandCopy, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    std::printf("first-line-ms failed-to-start\n");
    return 1;
  }
  for (;;) {
    QueryPerformanceCounter(&now);
    const double elapsed = Milliseconds(start, now, frequency);
    if (AnyPixelLit(screen, memory, static_cast<const DWORD *>(bits), width, height)) {
      std::printf("first-line-ms %.0f\n", elapsed);
      break;
    }
    if (elapsed > timeoutMs) {
      std::printf("first-line-ms timeout\n");
      break;
    }
  }
  std::fflush(stdout);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return 0;
}
