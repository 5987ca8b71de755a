// Version, command line, modules and run-time libraries, system parameters,
// the exception filters, process exit, string resources and wsprintfA.
#include "platform/sim/sim_internal.h"
#include "resources/resource_ids.h"

#include <cstdarg>
#include <cstring>

using namespace sim;

namespace {

constexpr DWORD VersionInfoSize = sizeof(OSVERSIONINFOA);
constexpr DWORD VersionInfoExSize = 156;
constexpr int WsprintfLimit = 1024;  // the platform's buffer limit, terminating NUL included
constexpr int MaxFilterDepth = 8;

// The file name that identifies a module: no directory, no case, ".dll" when
// no extension is given.
std::string ModuleKey(const std::string &name) {
  const size_t slash = name.find_last_of("/\\");
  std::string base = Lower(slash == std::string::npos ? name : name.substr(slash + 1));
  if (base.find('.') == std::string::npos) base += ".dll";
  return base;
}

Library *FindLibrary(const std::string &name) {
  for (Library &library : W().libraries) {
    if (ModuleKey(library.name) == ModuleKey(name)) return &library;
  }
  return nullptr;
}

Library *FindLoaded(HMODULE module) {
  for (Library &library : W().libraries) {
    if (library.handle == Raw(module) && (library.preloaded || library.loads > 0)) return &library;
  }
  return nullptr;
}

Library &AddLibrary(const std::string &name, std::vector<SimEntry> entries) {
  Library *existing = FindLibrary(name);
  if (existing == nullptr) {
    Library library;
    library.name = name;
    library.handle = FirstModuleHandle + W().libraries.size() * ModuleHandleStep;
    W().libraries.push_back(library);
    existing = &W().libraries.back();
  }
  existing->entries = std::move(entries);
  return *existing;
}

void FillVersion(OSVERSIONINFOA *info) {
  const bool win9x = W().platformId == VER_PLATFORM_WIN32_WINDOWS;
  info->dwMajorVersion = win9x ? 4 : 5;
  info->dwMinorVersion = win9x ? 10 : 1;
  info->dwBuildNumber = win9x ? 0x040A08AE : 2600;
  info->dwPlatformId = W().platformId;
  std::strcpy(info->szCSDVersion, win9x ? " A " : "Service Pack 3");
}

// Unwinds the filter depth even when the process ends inside a filter.
struct FilterDepth {
  FilterDepth() {
    if (++W().filterDepth > MaxFilterDepth) {
      --W().filterDepth;
      throw SimError("UnhandledExceptionFilter re-entered: the top-level filter calls it while still installed");
    }
  }
  ~FilterDepth() { --W().filterDepth; }
  FilterDepth(const FilterDepth &) = delete;
  FilterDepth &operator=(const FilterDepth &) = delete;
};

const char *StringResource(HINSTANCE instance, UINT id) {
  if (instance != nullptr && Raw(instance) != InstanceHandle) return nullptr;
  switch (id) {
    case IDS_SAVER_NAME: return TEXT_SAVER_NAME;
    case IDS_SETTINGS_FILE: return TEXT_SETTINGS_FILE;
    default: return nullptr;
  }
}

// ---- wsprintfA ------------------------------------------------------------------
struct FieldFormat {
  bool left = false;
  bool zero = false;
  bool alternate = false;
  int width = 0;
  int precision = -1;
  bool shortSize = false;
};

struct Output {
  char *buffer;
  int used;
  void Put(char c) {
    if (used < WsprintfLimit - 1) buffer[used++] = c;
  }
  void Pad(int count, char c) {
    for (int i = 0; i < count; ++i) Put(c);
  }
};

const char *ReadFieldFormat(const char *p, FieldFormat *field) {
  for (;; ++p) {
    if (*p == '-') field->left = true;
    else if (*p == '0') field->zero = true;
    else if (*p == '#') field->alternate = true;
    else break;
  }
  for (; *p >= '0' && *p <= '9'; ++p) field->width = field->width * 10 + (*p - '0');
  if (*p == '.') {
    field->precision = 0;
    for (++p; *p >= '0' && *p <= '9'; ++p) field->precision = field->precision * 10 + (*p - '0');
  }
  for (; *p == 'l' || *p == 'h' || *p == 'w'; ++p) field->shortSize = *p == 'h';
  return p;
}

void PutField(Output *out, const FieldFormat &field, const char *prefix, const char *body, int bodyLength) {
  const int prefixLength = static_cast<int>(std::strlen(prefix));
  const int zeros = field.precision > bodyLength ? field.precision - bodyLength : 0;
  const int padding = field.width - prefixLength - zeros - bodyLength;
  const bool zeroPad = field.zero && !field.left && field.precision < 0;
  if (!field.left && !zeroPad) out->Pad(padding, ' ');
  for (int i = 0; i < prefixLength; ++i) out->Put(prefix[i]);
  out->Pad(zeros + (zeroPad ? padding : 0), '0');
  for (int i = 0; i < bodyLength; ++i) out->Put(body[i]);
  if (field.left) out->Pad(padding, ' ');
}

void PutNumber(Output *out, const FieldFormat &field, char conversion, va_list *args) {
  char digits[16];
  const char *prefix = "";
  uint32_t magnitude = 0;
  if (conversion == 'd' || conversion == 'i') {
    int32_t value = va_arg(*args, int32_t);
    if (field.shortSize) value = static_cast<int16_t>(value);
    if (value < 0) prefix = "-";
    magnitude = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
  } else {
    magnitude = va_arg(*args, uint32_t);
    if (field.shortSize) magnitude = static_cast<uint16_t>(magnitude);
  }
  const unsigned base = conversion == 'x' || conversion == 'X' ? 16 : 10;
  const char *alphabet = conversion == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";
  if (base == 16 && field.alternate && magnitude != 0) prefix = conversion == 'X' ? "0X" : "0x";
  int length = 0;
  char reversed[16];
  do {
    reversed[length++] = alphabet[magnitude % base];
    magnitude /= base;
  } while (magnitude != 0);
  for (int i = 0; i < length; ++i) digits[i] = reversed[length - 1 - i];
  PutField(out, field, prefix, digits, length);
}

void PutString(Output *out, const FieldFormat &field, const char *text) {
  if (text == nullptr) text = "(null)";
  int length = static_cast<int>(strnlen(text, WsprintfLimit));
  if (field.precision >= 0 && field.precision < length) length = field.precision;
  FieldFormat plain = field;
  plain.precision = -1;
  plain.zero = false;
  PutField(out, plain, "", text, length);
}

}  // namespace

// ---- Version, command line, modules -----------------------------------------------
BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA info) {
  if (info == nullptr || W().failVersion) return FALSE;
  if (info->dwOSVersionInfoSize != VersionInfoSize && info->dwOSVersionInfoSize != VersionInfoExSize) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  FillVersion(info);
  return TRUE;
}

LPSTR WINAPI GetCommandLineA() { return W().commandLine.data(); }

HMODULE WINAPI GetModuleHandleA(LPCSTR moduleName) {
  if (moduleName == nullptr) return SimInstance();
  const Library *library = FindLibrary(moduleName);
  if (library == nullptr || !(library->preloaded || library->loads > 0)) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  return As<HMODULE>(library->handle);
}

HMODULE WINAPI LoadLibraryA(LPCSTR fileName) {
  SimEvent e{SimEventKind::LoadLibrary};
  e.name = SafeString(fileName);
  const size_t at = Record(e);
  Library *library = fileName != nullptr ? FindLibrary(fileName) : nullptr;
  if (library == nullptr || !(library->installed || library->preloaded)) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  ++library->loads;
  RecordResult(at, static_cast<INT_PTR>(library->handle));
  return As<HMODULE>(library->handle);
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR procName) {
  const Library *library = FindLoaded(module);
  if (library == nullptr || procName == nullptr || IS_INTRESOURCE(procName)) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  for (const SimEntry &entry : library->entries) {
    if (entry.name == procName) return entry.proc;
  }
  SetLastError(ERROR_PROC_NOT_FOUND);
  return nullptr;
}

// Freeing a module the program never loaded is a fault the leak check reports.
BOOL WINAPI FreeLibrary(HMODULE module) {
  SimEvent e{SimEventKind::FreeLibrary};
  e.object = module;
  Library *library = FindLoaded(module);
  if (library != nullptr) {
    e.name = library->name;
    --library->loads;
    e.result = TRUE;
  }
  Record(e);
  return static_cast<BOOL>(e.result);
}

void SimInstallLibrary(const std::string &name, std::vector<SimEntry> entries) {
  AddLibrary(name, std::move(entries)).installed = true;
}

void SimSetModuleLoaded(const std::string &name, std::vector<SimEntry> entries) {
  AddLibrary(name, std::move(entries)).preloaded = true;
}

int SimLibraryLoadCount(const std::string &name) {
  const Library *library = FindLibrary(name);
  return library != nullptr ? library->loads : 0;
}

// ---- System parameters --------------------------------------------------------------
BOOL WINAPI SystemParametersInfoA(UINT action, UINT uiParam, PVOID pvParam, UINT winIni) {
  SimEvent e{SimEventKind::SystemParametersInfo};
  e.id = action;
  e.value = uiParam;
  e.flags = winIni;
  if (action == SPI_SETSCREENSAVERRUNNING) {
    if (pvParam != nullptr) *static_cast<BOOL *>(pvParam) = W().saverRunning;
    W().saverRunning = uiParam ? TRUE : FALSE;
    e.result = TRUE;
  } else if (action == SPI_GETSCREENSAVEACTIVE && pvParam != nullptr) {
    *static_cast<BOOL *>(pvParam) = TRUE;
    e.result = TRUE;
  }
  Record(e);
  return static_cast<BOOL>(e.result);
}

// ---- Exceptions and process exit -------------------------------------------------------
LPTOP_LEVEL_EXCEPTION_FILTER WINAPI SetUnhandledExceptionFilter(LPTOP_LEVEL_EXCEPTION_FILTER filter) {
  SimEvent e{SimEventKind::SetUnhandledExceptionFilter};
  e.param = reinterpret_cast<void *>(filter);
  Record(e);
  const LPTOP_LEVEL_EXCEPTION_FILTER previous = W().topFilter;
  W().topFilter = filter;
  return previous;
}

// The system's last-chance filter: the program's top-level filter speaks
// first; when it passes, the scripted verdict of the system stands.
LONG WINAPI UnhandledExceptionFilter(struct _EXCEPTION_POINTERS *exceptionInfo) {
  SimEvent e{SimEventKind::UnhandledExceptionFilter};
  e.value = exceptionInfo && exceptionInfo->ExceptionRecord ? exceptionInfo->ExceptionRecord->ExceptionCode : 0;
  const size_t at = Record(e);
  FilterDepth depth;
  LONG verdict = EXCEPTION_CONTINUE_SEARCH;
  if (const LPTOP_LEVEL_EXCEPTION_FILTER filter = W().topFilter) verdict = filter(exceptionInfo);
  if (verdict == EXCEPTION_CONTINUE_SEARCH) verdict = W().exceptionVerdict;
  RecordResult(at, verdict);
  return verdict;
}

[[noreturn]] VOID WINAPI ExitProcess(UINT exitCode) {
  SimEvent e{SimEventKind::ExitProcess};
  e.value = static_cast<int32_t>(exitCode);
  Record(e);
  throw SimProcessExit{exitCode};
}

void SimRaiseException(DWORD code) {
  SimEvent e{SimEventKind::RaiseException};
  e.value = code;
  Record(e);
  EXCEPTION_RECORD record = {};
  record.ExceptionCode = code;
  CONTEXT context = {};
  EXCEPTION_POINTERS pointers = {&record, &context};
  if (UnhandledExceptionFilter(&pointers) == EXCEPTION_CONTINUE_EXECUTION) return;
  throw SimProcessExit{code};
}

LPTOP_LEVEL_EXCEPTION_FILTER SimTopLevelFilter() { return W().topFilter; }

int SimRunProcess(const std::function<void()> &body) {
  try {
    body();
  } catch (const SimProcessExit &exit) {
    return static_cast<int>(exit.code);
  }
  throw SimError("the process body returned without calling ExitProcess");
}

// ---- Strings ---------------------------------------------------------------------------
LPSTR WINAPI CharNextA(LPCSTR p) {
  if (p == nullptr) return nullptr;
  return const_cast<LPSTR>(*p != '\0' ? p + 1 : p);
}

// At most bufferMax - 1 characters and a NUL; 0 for a string that does not exist.
int WINAPI LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int bufferMax) {
  if (buffer == nullptr || bufferMax <= 0) return 0;
  const char *text = StringResource(instance, id);
  const size_t length = text ? std::strlen(text) : 0;
  const size_t count = length < static_cast<size_t>(bufferMax - 1) ? length : static_cast<size_t>(bufferMax - 1);
  if (count > 0) std::memcpy(buffer, text, count);
  buffer[count] = '\0';
  return static_cast<int>(count);
}

// %d %i %u %x %X %c %s %%, with the flags - 0 #, a width, a precision and the
// size prefixes l h w; a LONG argument is 32 bits. Output stops at the
// platform's 1024-character limit.
int WINAPIV wsprintfA(LPSTR buffer, LPCSTR format, ...) {
  if (buffer == nullptr || format == nullptr) return 0;
  Output out{buffer, 0};
  va_list args;
  va_start(args, format);
  for (const char *p = format; *p != '\0'; ++p) {
    if (*p != '%') {
      out.Put(*p);
      continue;
    }
    FieldFormat field;
    p = ReadFieldFormat(p + 1, &field);
    switch (*p) {
      case 'd':
      case 'i':
      case 'u':
      case 'x':
      case 'X':
        PutNumber(&out, field, *p, &args);
        break;
      case 'c': {
        const char c = static_cast<char>(va_arg(args, int));
        PutField(&out, field, "", &c, 1);
        break;
      }
      case 's':
        PutString(&out, field, va_arg(args, const char *));
        break;
      case '\0':
        --p;
        break;
      default:
        out.Put(*p);
        break;
    }
  }
  va_end(args);
  buffer[out.used] = '\0';
  return out.used;
}
