#include "fuzz/fuzz_process.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// Enough of the journal to see how the run got there, not so much that the
// report drowns.
constexpr size_t JournalTailEvents = 60;

}  // namespace

void FuzzFailure(const char *format, ...) {
  std::fprintf(stderr, "\n==== invariant failed: ");
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  const std::vector<SimEvent> &journal = SimJournal();
  const size_t first = journal.size() > JournalTailEvents ? journal.size() - JournalTailEvents : 0;
  std::fprintf(stderr, "\n==== last %zu of %zu journal events:\n", journal.size() - first, journal.size());
  for (size_t i = first; i < journal.size(); ++i) std::fprintf(stderr, "  %s\n", journal[i].Text().c_str());
  std::fflush(stderr);
  std::abort();
}

void TraceInput() {
  static const bool tracing = std::getenv("QV_FUZZ_TRACE") != nullptr;
  if (tracing) std::fprintf(stderr, "==== journal:\n%s\n", SimJournalText().c_str());
}

size_t CountMessages(SimEventKind kind, HWND window, UINT message) {
  size_t count = 0;
  for (const SimEvent &event : SimJournal()) {
    if (event.kind == kind && event.window == window && event.message == message) ++count;
  }
  return count;
}
