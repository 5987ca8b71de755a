// What the fuzz targets share: a fresh simulated platform and a fresh program
// for every input, a small reader of the input's bytes, and a loud stop when an
// invariant fails, so that libFuzzer keeps the input that broke it.
#pragma once

#include "host/host.h"
#include "platform/sim/sim.h"
#include "tests/fresh_process.h"

#include <cstddef>
#include <cstdint>

// Prints the failed invariant and the end of the platform's journal, then aborts.
[[noreturn]] void FuzzFailure(const char *format, ...) __attribute__((format(printf, 1, 2)));

#define FUZZ_CHECK(condition, ...)             \
  do {                                         \
    if (!(condition)) FuzzFailure(__VA_ARGS__); \
  } while (0)

// Runs one input's process. A SimError (the real platform would hang, or the
// script asked for something impossible) is a finding, like a failed invariant.
// With QV_FUZZ_TRACE set in the environment, the journal of every input is
// printed when it is done: how to see what a seed really does.
void TraceInput();

template <typename Body>
void RunInput(Body body) {
  try {
    body();
    TraceInput();
  } catch (const SimError &error) {
    FuzzFailure("the simulated platform stopped the run: %s", error.what());
  } catch (const SimProcessExit &exit) {
    FuzzFailure("the process ended (exit code %u) outside SimRunProcess", exit.code);
  }
}

// The input's bytes, read front to back; past the end every read gives 0, so
// a short input is a valid input with defaults.
struct InputBytes {
  const uint8_t *data;
  size_t size;
  size_t at = 0;

  bool Empty() const { return at >= size; }
  uint8_t Byte() { return at < size ? data[at++] : 0; }
  uint16_t Word() { return static_cast<uint16_t>(Byte() | Byte() << 8); }
  uint32_t Dword() { return static_cast<uint32_t>(Word()) | static_cast<uint32_t>(Word()) << 16; }
};

// A test function as a library entry.
template <typename Function>
FARPROC AsEntry(Function *function) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function));
}

// The number of journal events of `kind` that name `window` and carry `message`.
size_t CountMessages(SimEventKind kind, HWND window, UINT message);
