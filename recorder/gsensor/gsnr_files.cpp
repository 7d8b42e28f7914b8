#include "gsensor/gsnr_files.h"

#include <cctype>
#include <ctime>

#include "platform/platform.h"

namespace {

constexpr int64_t kSaturation = INT64_C(1) << 40;  // far beyond 32 bits, far below overflow

bool isBlank(int c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

// Reads an optional sign and at least one digit at the current position; leaves the first
// character after the number unread. False (nothing sensible consumed) when no digit follows.
bool readNumberHere(FILE* f, int64_t* out) {
  int c = getc(f);
  bool negative = false;
  if (c == '+' || c == '-') {
    negative = c == '-';
    c = getc(f);
  }
  if (c == EOF || !isdigit(c)) {
    if (c != EOF) ungetc(c, f);
    return false;
  }
  int64_t value = 0;
  while (c != EOF && isdigit(c)) {
    if (value < kSaturation) value = value * 10 + (c - '0');
    c = getc(f);
  }
  if (c != EOF) ungetc(c, f);
  *out = negative ? -value : value;
  return true;
}

int32_t toInt32(int64_t v) {
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(v);
}

void skipBlanks(FILE* f) {
  int c;
  while ((c = getc(f)) != EOF && isBlank(c)) {
  }
  if (c != EOF) ungetc(c, f);
}

void skipToLineEnd(FILE* f) {
  int c;
  while ((c = getc(f)) != EOF && c != '\n') {
  }
}

// A number on the current line that ends at a blank, the line's end or the file's end.
bool readFieldOnLine(FILE* f, int64_t* out) {
  skipBlanks(f);
  if (!readNumberHere(f, out)) return false;
  int c = getc(f);
  if (c != EOF) ungetc(c, f);
  return c == EOF || c == '\n' || isBlank(c);
}

struct LineFields {
  bool thresholdRead = false;
  bool windowRead = false;
  bool extra = false;
  int64_t threshold = 0;
  int64_t window = 0;
};

// One line: the label word is passed over character by character, so no buffer holds it.
LineFields readUserLevelLine(FILE* f) {
  LineFields line;
  int c;
  while ((c = getc(f)) != EOF && isspace(c)) {
  }
  if (c == EOF) return line;
  while ((c = getc(f)) != EOF && !isspace(c)) {
  }
  if (c != EOF) ungetc(c, f);
  line.thresholdRead = readFieldOnLine(f, &line.threshold);
  if (line.thresholdRead) line.windowRead = readFieldOnLine(f, &line.window);
  if (line.windowRead) {
    skipBlanks(f);
    c = getc(f);
    line.extra = c != EOF && c != '\n';
  }
  if (c != '\n') skipToLineEnd(f);
  return line;
}

}  // namespace

int GsnrReadInts(FILE* f, int32_t* values, int n) {
  for (int i = 0; i < n; ++i) values[i] = 0;
  for (int i = 0; i < n; ++i) {
    int c;
    while ((c = getc(f)) != EOF && isspace(c)) {
    }
    if (c == EOF) return i;
    ungetc(c, f);
    int64_t v;
    if (!readNumberHere(f, &v)) return i;
    values[i] = toInt32(v);
  }
  return n;
}

bool GsnrBandwidthValid(int32_t bandwidth) {
  switch (bandwidth) {
    case 25: case 50: case 100: case 190: case 375: case 750: case 1500:
      return true;
    default:
      return false;
  }
}

int ParseUserGLevel(FILE* f, USER_G_LEVEL* out) {
  LineFields lines[GSNR_AXES];
  for (LineFields& line : lines) line = readUserLevelLine(f);
  for (const LineFields& line : lines) {
    if (!line.thresholdRead || line.threshold < 0 || line.threshold > 5000) return GSNR_USER_LEVEL_BAD_THRESHOLD;
  }
  for (const LineFields& line : lines) {
    if (!line.windowRead || line.extra || line.window < 0 || line.window > GSNR_RING_SLOTS) {
      return GSNR_USER_LEVEL_BAD_WINDOW;
    }
  }
  for (int axis = 0; axis < GSNR_AXES; ++axis) {
    out->threshold[axis] = static_cast<int16_t>(lines[axis].threshold);
    out->window[axis] = static_cast<int16_t>(lines[axis].window);
  }
  return 0;
}

void GsnrWriteSampleLog(FILE* f, const struct timeval& time, const int16_t sample[GSNR_AXES]) {
  time_t seconds = time.tv_sec;
  struct tm tm;
  localtime_r(&seconds, &tm);
  fprintf(f, "%02d:%02d:%02d, %d, %d, %d\n", tm.tm_hour, tm.tm_min, tm.tm_sec, sample[GSNR_X], sample[GSNR_Y],
          sample[GSNR_Z]);
}

void GsnrAppendTriggerLog(int axis, unsigned count, const struct timeval& time) {
  FILE* f = plat::fopen(GSNR_TRIGGER_LOG_PATH, "a");
  if (f == nullptr) return;
  time_t seconds = time.tv_sec;
  struct tm tm;
  localtime_r(&seconds, &tm);
  static const char kAxisName[GSNR_AXES] = {'X', 'Y', 'Z'};
  fprintf(f, "[%4d/%2d/%2d %2d:%2d:%2d] %c : %u\n", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour,
          tm.tm_min, tm.tm_sec, kAxisName[axis], count);
  fclose(f);
}
