// The current user's registry: keys by path, values as raw bytes.
#include "platform/sim/sim_internal.h"

#include <cstring>

using namespace sim;

namespace {

std::string NormalizedPath(const std::string &path) {
  std::string lower = Lower(path);
  while (!lower.empty() && lower.back() == '\\') lower.pop_back();
  return lower;
}

// A key exists when it was created or holds a value, and so does every key
// above it.
bool KeyExists(const std::string &path) {
  if (path.empty()) return true;
  for (const auto &[existing, values] : W().keys) {
    if (existing == path || existing.rfind(path + "\\", 0) == 0) return true;
  }
  return false;
}

bool IsCurrentUser(HKEY key) { return Raw(key) == Raw(HKEY_CURRENT_USER); }

bool IsPredefined(HKEY key) {
  const uintptr_t raw = Raw(key);
  return raw >= Raw(HKEY_CLASSES_ROOT) && raw <= Raw(HKEY_USERS);
}

// The path a handle stands for; false for a handle that names no open key.
bool KeyPath(HKEY key, std::string *path, bool *otherRoot) {
  *otherRoot = false;
  if (IsCurrentUser(key)) {
    path->clear();
    return true;
  }
  if (IsPredefined(key)) {
    *otherRoot = true;
    return true;
  }
  auto found = W().openKeys.find(Raw(key));
  if (found == W().openKeys.end() || found->second.closed) return false;
  *path = found->second.path;
  return true;
}

LONG OpenSubKey(HKEY root, LPCSTR subKey, PHKEY result) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  std::string base;
  bool otherRoot = false;
  if (!KeyPath(root, &base, &otherRoot)) return ERROR_INVALID_HANDLE;
  if (W().regOpenFailure != ERROR_SUCCESS) return W().regOpenFailure;
  if (subKey == nullptr || *subKey == '\0') {
    *result = root;
    return ERROR_SUCCESS;
  }
  const std::string path = NormalizedPath(base.empty() ? subKey : base + "\\" + subKey);
  if (otherRoot || !KeyExists(path)) return ERROR_FILE_NOT_FOUND;
  const uintptr_t handle = W().nextKey++;
  W().openKeys[handle] = sim::OpenKey{path, false};
  *result = As<HKEY>(handle);
  return ERROR_SUCCESS;
}

LONG QueryValue(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD dataSize) {
  std::string path;
  bool otherRoot = false;
  if (!KeyPath(key, &path, &otherRoot)) return ERROR_INVALID_HANDLE;
  if ((data != nullptr && dataSize == nullptr) || reserved != nullptr) return ERROR_INVALID_PARAMETER;
  auto values = W().keys.find(path);
  if (otherRoot || values == W().keys.end()) return ERROR_FILE_NOT_FOUND;
  auto value = values->second.find(Lower(valueName ? valueName : ""));
  if (value == values->second.end()) return ERROR_FILE_NOT_FOUND;
  const std::vector<BYTE> &bytes = value->second.bytes;
  if (type != nullptr) *type = value->second.type;
  if (data != nullptr && *dataSize < bytes.size()) {
    *dataSize = static_cast<DWORD>(bytes.size());
    return ERROR_MORE_DATA;
  }
  if (data != nullptr && !bytes.empty()) std::memcpy(data, bytes.data(), bytes.size());
  if (dataSize != nullptr) *dataSize = static_cast<DWORD>(bytes.size());
  return ERROR_SUCCESS;
}

}  // namespace

LONG WINAPI RegOpenKeyA(HKEY key, LPCSTR subKey, PHKEY result) {
  SimEvent e{SimEventKind::RegOpenKey};
  e.object = key;
  e.name = SafeString(subKey);
  e.result = OpenSubKey(key, subKey, result);
  if (result != nullptr) e.previous = *result;
  Record(e);
  return static_cast<LONG>(e.result);
}

LONG WINAPI RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                             LPDWORD dataSize) {
  SimEvent e{SimEventKind::RegQueryValue};
  e.object = key;
  e.text = SafeString(valueName);
  e.value = dataSize != nullptr ? static_cast<int64_t>(*dataSize) : -1;
  e.result = QueryValue(key, valueName, reserved, type, data, dataSize);
  Record(e);
  return static_cast<LONG>(e.result);
}

LONG WINAPI RegCloseKey(HKEY key) {
  SimEvent e{SimEventKind::RegCloseKey};
  e.object = key;
  auto found = W().openKeys.find(Raw(key));
  if (IsPredefined(key)) {
    e.result = ERROR_SUCCESS;
  } else if (found != W().openKeys.end() && !found->second.closed) {
    found->second.closed = true;
    e.result = ERROR_SUCCESS;
  } else {
    e.result = ERROR_INVALID_HANDLE;
  }
  Record(e);
  return static_cast<LONG>(e.result);
}

void SimSetRegistryValue(const std::string &subKey, const std::string &valueName, const std::vector<BYTE> &bytes,
                         DWORD type) {
  W().keys[NormalizedPath(subKey)][Lower(valueName)] = RegValue{valueName, type, bytes};
}

void SimSetRegistryDword(const std::string &subKey, const std::string &valueName, DWORD value) {
  const std::vector<BYTE> bytes = {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8),
                                   static_cast<BYTE>(value >> 16), static_cast<BYTE>(value >> 24)};
  SimSetRegistryValue(subKey, valueName, bytes, REG_DWORD);
}

void SimCreateRegistryKey(const std::string &subKey) { W().keys[NormalizedPath(subKey)]; }

void SimFailRegOpenKey(LONG status) { W().regOpenFailure = status; }
