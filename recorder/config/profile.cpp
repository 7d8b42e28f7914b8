#include "config/profile.h"

#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "core/trace.h"
#include "platform/platform.h"

#define TAG "CONFIG__"

pthread_mutex_t wlock = PTHREAD_MUTEX_INITIALIZER;

void initPrivateProfile() { pthread_mutex_init(&wlock, nullptr); }
void cleanPrivateProfile() { pthread_mutex_destroy(&wlock); }

namespace {

// Lines are read 99 characters at a time; a longer line arrives as several lines.
constexpr int kLineBuffer = 100;

class ProfileFile {
 public:
  explicit ProfileFile(const char* path) : file_(plat::fopen(path, "r")) {}
  ~ProfileFile() {
    if (file_) fclose(file_);
  }
  ProfileFile(const ProfileFile&) = delete;
  ProfileFile& operator=(const ProfileFile&) = delete;
  bool isOpen() const { return file_ != nullptr; }
  bool nextLine(char* line) { return fgets(line, kLineBuffer, file_) != nullptr; }

 private:
  FILE* file_;
};

// Reads up to the line "[section]..." (case-sensitive, at the very start of the line).
bool findSection(ProfileFile& file, const char* section) {
  char header[kLineBuffer + 8];
  snprintf(header, sizeof header, "[%s]", section);
  size_t len = strlen(header);
  char line[kLineBuffer];
  while (file.nextLine(line)) {
    if (strncmp(line, header, len) == 0) return true;
  }
  TRACE(TAG, "bsection = 0");
  return false;
}

// Splits off the next part at the delimiters, as strtok does: delimiters before the part are
// skipped; the part ends at the next delimiter or the end of the text.
const char* nextPart(char*& cursor, const char* delimiters) {
  cursor += strspn(cursor, delimiters);
  if (*cursor == '\0') return nullptr;
  char* start = cursor;
  cursor += strcspn(cursor, delimiters);
  if (*cursor != '\0') *cursor++ = '\0';
  return start;
}

enum class Scan { Found, NotFound };

// Scans the lines of the current section for key. On Found, `value` points into `line` at the
// value part (line end included).
Scan findValue(ProfileFile& file, const char* key, const char* delimiters, char* line, const char** value) {
  while (file.nextLine(line)) {
    if (strstr(line, key) == nullptr) {
      // A bracketed line that does not mention the key ends the section.
      if (strchr(line, '[') && strchr(line, ']')) return Scan::NotFound;
      continue;
    }
    char* cursor = line;
    const char* first = nextPart(cursor, delimiters);
    if (first == nullptr || strcmp(first, key) != 0) continue;
    *value = nextPart(cursor, delimiters);
    return Scan::Found;
  }
  return Scan::NotFound;
}

// Signed decimal as the board converts it: blanks skipped, optional sign, digits up to the first
// other character; no digits give 0. A value beyond 32 bits saturates, as the board's 32-bit
// strtol does (keeping the low bits would let 4294972935 pass as 5639).
int32_t toInt(const char* text) {
  long long value = strtoll(text, nullptr, 10);
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

void copyOut(char* out, int size, const char* text) {
  if (size <= 0) return;
  size_t n = strnlen(text, static_cast<size_t>(size - 1));
  memmove(out, text, n);  // the default may be the output buffer itself
  out[n] = '\0';
}

}  // namespace

int32_t GetPrivateProfileInt2(const char* section, const char* key, int32_t def, const char* path) {
  ProfileFile file(path);
  if (!file.isOpen()) return def;
  if (section != nullptr && !findSection(file, section)) return def;
  char line[kLineBuffer];
  const char* value = nullptr;
  if (findValue(file, key, "=:", line, &value) == Scan::NotFound || value == nullptr) return def;
  return toInt(value);
}

int32_t GetPrivateProfileInt(const char* section, const char* key, int32_t def, const char* path) {
  pthread_mutex_lock(&wlock);
  int32_t result = GetPrivateProfileInt2(section, key, def, path);
  pthread_mutex_unlock(&wlock);
  return result;
}

int GetPrivateProfileString2(const char* section, const char* key, const char* def, char* out, int size,
                             const char* path) {
  ProfileFile file(path);
  if (!file.isOpen()) return -1;
  char line[kLineBuffer];
  const char* value = nullptr;
  if (section != nullptr && findSection(file, section) &&
      findValue(file, key, "=", line, &value) == Scan::Found && value != nullptr) {
    copyOut(out, size, value);
  } else {
    copyOut(out, size, def);
  }
  return static_cast<int>(strlen(out));
}
