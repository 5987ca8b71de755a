// The profile (INI) functions over real files in a per-test directory, with
// the reference implementation's rules: the whole file is parsed into
// sections and keys, looked up without regard to ASCII case, and written back
// whole (one "name=value" per line, CR LF, blank lines dropped) only when a
// write changes something. Names and values end at an embedded NUL. The file's
// encoding (ANSI, UTF-8 or UTF-16 with a byte-order mark) is kept on rewrite.
#include "platform/sim/sim_internal.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <system_error>

namespace {

using Text = std::u16string;

enum class Encoding { Ansi, Utf8, Utf16Le, Utf16Be };

struct Key {
  Text name;
  bool hasValue = false;
  Text value;
};

struct Section {
  Text name;
  std::vector<Key> keys;
};

// sections[0] is the unnamed section that holds the keys before any header.
struct Profile {
  Encoding encoding = Encoding::Ansi;
  std::vector<Section> sections = {Section{}};
};

// The integer reader looks at no more than this many characters of a value.
constexpr size_t IntegerTextLimit = 30;
const char DefaultProfileName[] = "win.ini";

bool IsSpace(char16_t c) { return (c >= 0x09 && c <= 0x0D) || c == 0x1A || c == 0x20; }

char16_t FoldAscii(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c; }

bool EqualFold(const Text &a, const Text &b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  }
  return true;
}

Text UpToNul(Text text) {
  const size_t nul = text.find(u'\0');
  if (nul != Text::npos) text.resize(nul);
  return text;
}

Text TrimLeft(const Text &text) {
  size_t start = 0;
  while (start < text.size() && IsSpace(text[start])) ++start;
  return text.substr(start);
}

Text TrimRight(const Text &text) {
  size_t end = text.size();
  while (end > 0 && IsSpace(text[end - 1])) --end;
  return text.substr(0, end);
}

Text Trim(const Text &text) { return TrimRight(TrimLeft(text)); }

Text FromAnsi(const char *text) {
  Text units;
  for (; *text != '\0'; ++text) units.push_back(static_cast<unsigned char>(*text));
  return units;
}

char ToAnsi(char16_t unit) { return unit < 0x100 ? static_cast<char>(unit) : '?'; }

// ---- Files ---------------------------------------------------------------------
bool ReadBytes(const std::string &path, std::string *bytes) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return false;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

bool WriteBytes(const std::string &path, const std::string &bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

// A bare file name lands in the profile directory, as the platform puts it in
// the Windows directory; a name with a directory part is an ordinary path.
std::string ResolvePath(const std::string &fileName) {
  if (fileName.find_first_of("/\\") == std::string::npos) return sim::W().profileDir + "/" + fileName;
  std::string path = fileName;
  for (char &c : path) {
    if (c == '\\') c = '/';
  }
  return path;
}

// ---- Decoding and parsing --------------------------------------------------------
Text DecodeUtf16(const std::string &bytes, size_t start, bool littleEndian) {
  Text units;
  for (size_t i = start; i < bytes.size(); i += 2) {
    const char16_t first = static_cast<unsigned char>(bytes[i]);
    const char16_t second = i + 1 < bytes.size() ? static_cast<unsigned char>(bytes[i + 1]) : 0;
    units.push_back(littleEndian ? static_cast<char16_t>(first | second << 8)
                                 : static_cast<char16_t>(first << 8 | second));
  }
  return units;
}

Text DecodeBytes(const std::string &bytes, size_t start) {
  Text units;
  for (size_t i = start; i < bytes.size(); ++i) units.push_back(static_cast<unsigned char>(bytes[i]));
  return units;
}

// UTF-8 to UTF-16; each byte that starts no valid sequence, and each cut-off
// sequence, reads as U+FFFD.
Text DecodeUtf8(const std::string &bytes, size_t start) {
  constexpr char16_t Replacement = 0xFFFD;
  Text units;
  size_t i = start;
  auto byteAt = [&bytes](size_t index) { return static_cast<unsigned char>(bytes[index]); };
  while (i < bytes.size()) {
    const unsigned lead = byteAt(i);
    const int length = lead < 0x80 ? 1 : lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                                          : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
    if (length == 0) {
      units.push_back(Replacement);
      ++i;
      continue;
    }
    uint32_t code = length == 1 ? lead : lead & (0xFF >> (length + 1));
    int taken = 1;
    for (; taken < length && i + taken < bytes.size(); ++taken) {
      const unsigned next = byteAt(i + taken);
      const unsigned low = taken == 1 && lead == 0xE0 ? 0xA0 : taken == 1 && lead == 0xF0 ? 0x90 : 0x80;
      const unsigned high = taken == 1 && lead == 0xED ? 0x9F : taken == 1 && lead == 0xF4 ? 0x8F : 0xBF;
      if (next < low || next > high) break;
      code = code << 6 | (next & 0x3F);
    }
    i += taken;
    if (taken < length) {
      units.push_back(Replacement);
    } else if (code >= 0x10000) {
      units.push_back(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)));
      units.push_back(static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
    } else {
      units.push_back(static_cast<char16_t>(code));
    }
  }
  return units;
}

std::string EncodeUtf8(const Text &text) {
  std::string bytes;
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t code = text[i];
    if (code >= 0xD800 && code <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      code = 0x10000 + ((code - 0xD800) << 10) + (text[++i] - 0xDC00);
    } else if (code >= 0xD800 && code <= 0xDFFF) {
      code = 0xFFFD;
    }
    if (code < 0x80) {
      bytes.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
      bytes.push_back(static_cast<char>(0xC0 | code >> 6));
      bytes.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
      bytes.push_back(static_cast<char>(0xE0 | code >> 12));
      bytes.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      bytes.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
      bytes.push_back(static_cast<char>(0xF0 | code >> 18));
      bytes.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
      bytes.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      bytes.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
  }
  return bytes;
}

// A byte-order mark chooses UTF-8 or UTF-16; anything else is ANSI text, one
// character per byte.
Text Decode(const std::string &bytes, Encoding *encoding) {
  auto startsWith = [&bytes](const char *mark) { return bytes.rfind(mark, 0) == 0; };
  if (startsWith("\xEF\xBB\xBF")) {
    *encoding = Encoding::Utf8;
    return DecodeUtf8(bytes, 3);
  }
  if (startsWith("\xFF\xFE")) {
    *encoding = Encoding::Utf16Le;
    return DecodeUtf16(bytes, 2, true);
  }
  if (startsWith("\xFE\xFF")) {
    *encoding = Encoding::Utf16Be;
    return DecodeUtf16(bytes, 2, false);
  }
  *encoding = Encoding::Ansi;
  return DecodeBytes(bytes, 0);
}

bool IsLineBreak(char16_t c) { return c == u'\n' || c == u'\r'; }

// "[name]" up to the last ']' of the line opens a section; a line without a
// closing bracket is read as a key.
bool ParseSectionHeader(const Text &line, Profile *profile) {
  if (line.empty() || line[0] != u'[') return false;
  const size_t close = line.rfind(u']');
  if (close == Text::npos || close == 0) return false;
  profile->sections.push_back(Section{UpToNul(Trim(line.substr(1, close - 1))), {}});
  return true;
}

Key ParseKey(const Text &line, size_t *rawNameLength) {
  Key key;
  const size_t equals = line.find(u'=');
  if (equals == Text::npos) {
    *rawNameLength = line.size();
    key.name = UpToNul(line);
    return key;
  }
  const Text name = TrimRight(line.substr(0, equals));
  *rawNameLength = name.size();
  key.name = UpToNul(name);
  key.hasValue = true;
  key.value = UpToNul(TrimLeft(line.substr(equals + 1)));
  return key;
}

// A line that starts with '=' is dropped when the key before it in its
// section also has an empty name.
void AddKey(Section *section, const Key &key, size_t rawNameLength) {
  const bool previousNameless = !section->keys.empty() && section->keys.back().name.empty();
  if (rawNameLength == 0 && previousNameless) return;
  section->keys.push_back(key);
}

Profile Parse(const Text &text, Encoding encoding) {
  Profile profile;
  profile.encoding = encoding;
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t start = pos;
    while (pos < text.size() && !IsLineBreak(text[pos])) ++pos;
    const Text line = Trim(text.substr(start, pos - start));
    while (pos < text.size() && IsLineBreak(text[pos])) ++pos;
    if (line.empty() || ParseSectionHeader(line, &profile)) continue;
    size_t rawNameLength = 0;
    const Key key = ParseKey(line, &rawNameLength);
    AddKey(&profile.sections.back(), key, rawNameLength);
  }
  return profile;
}

// A file that does not exist reads as an empty profile.
Profile Load(const std::string &path) {
  std::string bytes;
  if (!ReadBytes(path, &bytes)) return Profile{};
  Encoding encoding = Encoding::Ansi;
  const Text text = Decode(bytes, &encoding);
  return Parse(text, encoding);
}

// ---- Serializing -------------------------------------------------------------------
Text Serialize(const Profile &profile) {
  Text text;
  for (const Section &section : profile.sections) {
    if (!section.name.empty()) text += u"[" + section.name + u"]\r\n";
    for (const Key &key : section.keys) {
      text += key.name;
      if (key.hasValue) text += u"=" + key.value;
      text += u"\r\n";
    }
  }
  return text;
}

std::string Encode(const Text &text, Encoding encoding) {
  std::string bytes;
  switch (encoding) {
    case Encoding::Ansi:
      for (char16_t unit : text) bytes.push_back(ToAnsi(unit));
      break;
    case Encoding::Utf8:
      bytes = "\xEF\xBB\xBF" + EncodeUtf8(text);
      break;
    case Encoding::Utf16Le:
      bytes = "\xFF\xFE";
      for (char16_t unit : text) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>(unit >> 8));
      }
      break;
    case Encoding::Utf16Be:
      bytes = "\xFE\xFF";
      for (char16_t unit : text) {
        bytes.push_back(static_cast<char>(unit >> 8));
        bytes.push_back(static_cast<char>(unit & 0xFF));
      }
      break;
  }
  return bytes;
}

// ---- Lookup ---------------------------------------------------------------------------
// The first section of the name is the only one searched; the names asked for
// are trimmed. With create, a missing key is added at the end of that section
// (or of a new last section), named as given without its leading blanks.
Key *FindKey(Profile &profile, const Text &sectionName, const Text &keyName, bool create) {
  const Text wantedSection = Trim(sectionName);
  const Text wantedKey = Trim(keyName);
  for (Section &section : profile.sections) {
    if (!EqualFold(section.name, wantedSection)) continue;
    for (Key &key : section.keys) {
      if (EqualFold(key.name, wantedKey)) return &key;
    }
    if (!create) return nullptr;
    section.keys.push_back(Key{TrimLeft(keyName), false, {}});
    return &section.keys.back();
  }
  if (!create) return nullptr;
  profile.sections.push_back(Section{TrimLeft(sectionName), {Key{TrimLeft(keyName), false, {}}}});
  return &profile.sections.back().keys.back();
}

// Copies at most size - 1 characters; a value wholly in matching quotes loses
// them, unless the copy was cut short.
Text CopyEntry(Text value, size_t size) {
  bool quoted = false;
  if (value.size() > 1 && (value[0] == u'\'' || value[0] == u'"') && value.back() == value[0]) {
    quoted = true;
    value.erase(0, 1);
  }
  Text copy = value.substr(0, size - 1);
  if (quoted && size >= value.size() && !copy.empty()) copy.pop_back();
  return copy;
}

// The key names of a section, each NUL-terminated, the list ending in a
// second NUL, cut to fit as the platform cuts it. Returns the characters used.
size_t SectionKeys(const Profile &profile, const Text &sectionName, std::vector<char16_t> &buffer) {
  size_t room = buffer.size();
  if (room < 2) {
    buffer[0] = 0;
    return 0;
  }
  for (const Section &section : profile.sections) {
    if (!EqualFold(section.name, sectionName)) continue;
    const size_t initialRoom = room;
    size_t at = 0;
    for (const Key &key : section.keys) {
      if (room <= 2) break;
      if (!key.hasValue || (!key.name.empty() && key.name[0] == u';')) continue;
      const Text name = key.name.substr(0, room - 2);
      std::copy(name.begin(), name.end(), buffer.begin() + static_cast<std::ptrdiff_t>(at));
      buffer[at + name.size()] = 0;
      room -= name.size() + 1;
      at += name.size() + 1;
      if (room < 2) break;
    }
    buffer[at] = 0;
    if (room <= 1) {
      buffer[at - 1] = 0;
      return initialRoom - 2;
    }
    return initialRoom - room;
  }
  buffer[0] = buffer[1] = 0;
  return 0;
}

size_t SectionNames(const Profile &profile, std::vector<char16_t> &buffer) {
  const size_t size = buffer.size();
  if (size == 1) {
    buffer[0] = 0;
    return 0;
  }
  size_t room = size - 1;
  size_t at = 0;
  for (const Section &section : profile.sections) {
    if (section.name.empty()) continue;
    const size_t needed = section.name.size() + 1;
    if (needed >= room) {
      std::copy(section.name.begin(), section.name.begin() + static_cast<std::ptrdiff_t>(room - 1),
                buffer.begin() + static_cast<std::ptrdiff_t>(at));
      at += room - 1;
      buffer[at++] = 0;
      buffer[at] = 0;
      return size - 2;
    }
    std::copy(section.name.begin(), section.name.end(), buffer.begin() + static_cast<std::ptrdiff_t>(at));
    buffer[at + section.name.size()] = 0;
    at += needed;
    room -= needed;
  }
  buffer[at] = 0;
  return at;
}

// A default for one key loses its trailing blanks (all but the first
// character, when it has nothing else).
Text StripDefault(const char *defaultValue) {
  Text text = defaultValue ? FromAnsi(defaultValue) : Text();
  size_t end = text.size();
  while (end > 1 && text[end - 1] == u' ') --end;
  return text.substr(0, end);
}

// What the wide-character reader puts in a buffer of `size` characters;
// returns the characters it reports.
size_t ReadProfileString(const char *section, const char *key, const char *defaultValue,
                         std::vector<char16_t> &buffer, const char *fileName) {
  const Text fallback = key != nullptr ? StripDefault(defaultValue) : defaultValue ? FromAnsi(defaultValue) : Text();
  const std::string name = fileName ? fileName : DefaultProfileName;
  Text value;
  if (name.empty()) {
    value = fallback.substr(0, buffer.size() - 1);
  } else {
    Profile profile = Load(ResolvePath(name));
    if (section == nullptr) return SectionNames(profile, buffer);
    if (key == nullptr) {
      const size_t used = SectionKeys(profile, FromAnsi(section), buffer);
      if (buffer[0] != 0) return used;
      value = CopyEntry(fallback, buffer.size());
    } else {
      const Key *found = FindKey(profile, FromAnsi(section), FromAnsi(key), false);
      value = CopyEntry(found && found->hasValue ? found->value : fallback, buffer.size());
    }
  }
  std::copy(value.begin(), value.end(), buffer.begin());
  buffer[value.size()] = 0;
  return value.size();
}

// The platform's string-to-integer reading: blanks and control characters,
// a sign, an optional 0x/0o/0b prefix, then digits until the first one that
// does not belong to the base, wrapping at 32 bits.
uint32_t ParseInteger(const std::vector<char16_t> &buffer) {
  size_t i = 0;
  auto at = [&buffer](size_t index) -> char16_t { return index < buffer.size() ? buffer[index] : 0; };
  while (at(i) != 0 && at(i) <= u' ') ++i;
  bool negative = false;
  if (at(i) == u'+' || at(i) == u'-') negative = at(i++) == u'-';
  uint32_t base = 10;
  if (at(i) == u'0' && at(i + 1) != 0) {
    const char16_t prefix = at(i + 1);
    base = prefix == u'b' ? 2 : prefix == u'o' ? 8 : prefix == u'x' ? 16 : 10;
    if (base != 10) i += 2;
  }
  uint32_t total = 0;
  for (;; ++i) {
    const char16_t c = at(i);
    int digit = -1;
    if (c >= u'0' && c <= u'9') digit = c - u'0';
    if (c >= u'A' && c <= u'Z') digit = c - u'A' + 10;
    if (c >= u'a' && c <= u'z') digit = c - u'a' + 10;
    if (digit < 0 || static_cast<uint32_t>(digit) >= base) break;
    total = total * base + static_cast<uint32_t>(digit);
  }
  return negative ? 0u - total : total;
}

// ---- Writing ------------------------------------------------------------------------
bool DeleteSection(Profile &profile, const Text &name) {
  for (auto it = profile.sections.begin(); it != profile.sections.end(); ++it) {
    if (EqualFold(it->name, name)) {
      profile.sections.erase(it);
      return true;
    }
  }
  return false;
}

bool DeleteKey(Profile &profile, const Text &sectionName, const Text &keyName) {
  for (Section &section : profile.sections) {
    if (!EqualFold(section.name, sectionName)) continue;
    for (auto it = section.keys.begin(); it != section.keys.end(); ++it) {
      if (EqualFold(it->name, keyName)) {
        section.keys.erase(it);
        return true;
      }
    }
  }
  return false;
}

bool SetValue(Profile &profile, const Text &sectionName, const Text &keyName, const Text &value) {
  Key *key = FindKey(profile, sectionName, keyName, true);
  const Text stored = TrimLeft(value);
  if (key->hasValue && key->value == stored) return false;
  key->hasValue = true;
  key->value = stored;
  return true;
}

BOOL WriteProfileString(const char *section, const char *key, const char *value, const char *fileName) {
  const std::string name = fileName ? fileName : DefaultProfileName;
  if (section == nullptr || name.empty()) return FALSE;
  const std::string path = ResolvePath(name);
  Profile profile = Load(path);
  bool changed = false;
  if (key == nullptr) {
    changed = DeleteSection(profile, FromAnsi(section));
  } else if (value == nullptr) {
    changed = DeleteKey(profile, FromAnsi(section), FromAnsi(key));
  } else {
    changed = SetValue(profile, FromAnsi(section), FromAnsi(key), FromAnsi(value));
  }
  if (!changed) return TRUE;
  return WriteBytes(path, Encode(Serialize(profile), profile.encoding)) ? TRUE : FALSE;
}

void RemoveProfileDir() {
  std::error_code error;
  if (!sim::W().profileDir.empty()) std::filesystem::remove_all(sim::W().profileDir, error);
}

}  // namespace

namespace sim {

void ResetProfileDir() {
  static bool cleanupRegistered = false;
  static std::string current;
  if (!current.empty()) {
    std::error_code error;
    std::filesystem::remove_all(current, error);
  }
  const char *tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/qv-sim-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) throw SimError("cannot create the profile directory " + pattern);
  current = pattern;
  W().profileDir = pattern;
  if (!cleanupRegistered) {
    cleanupRegistered = true;
    std::atexit(RemoveProfileDir);
  }
}

}  // namespace sim

using namespace sim;

UINT WINAPI GetPrivateProfileIntA(LPCSTR section, LPCSTR key, INT defaultValue, LPCSTR fileName) {
  std::vector<char16_t> buffer(IntegerTextLimit, 0);
  if (ReadProfileString(section, key, "", buffer, fileName) == 0) return static_cast<UINT>(defaultValue);
  return ParseInteger(buffer);
}

DWORD WINAPI GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultValue, LPSTR buffer, DWORD size,
                                      LPCSTR fileName) {
  if (buffer == nullptr || size == 0) return 0;
  std::vector<char16_t> wide(size, 0);
  const size_t used = ReadProfileString(section, key, defaultValue, wide, fileName);
  for (size_t i = 0; i < used; ++i) buffer[i] = ToAnsi(wide[i]);
  buffer[used] = '\0';
  return static_cast<DWORD>(used);
}

BOOL WINAPI WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR fileName) {
  SimEvent e{SimEventKind::WriteProfileString};
  e.name = section ? section : "(null)";
  e.text = key ? key : "(null)";
  e.extra = value ? value : "(null)";
  e.file = fileName ? fileName : "(null)";
  const size_t at = Record(e);
  const BOOL result = WriteProfileString(section, key, value, fileName);
  RecordResult(at, result);
  return result;
}

std::string SimProfileDir() { return W().profileDir; }
std::string SimProfilePath(const std::string &fileName) { return ResolvePath(fileName); }

bool SimFileExists(const std::string &fileName) {
  std::error_code error;
  return std::filesystem::exists(ResolvePath(fileName), error);
}

std::string SimReadFile(const std::string &fileName) {
  std::string bytes;
  ReadBytes(ResolvePath(fileName), &bytes);
  return bytes;
}

void SimWriteFile(const std::string &fileName, const std::string &bytes) {
  if (!WriteBytes(ResolvePath(fileName), bytes)) throw SimError("cannot write " + ResolvePath(fileName));
}
