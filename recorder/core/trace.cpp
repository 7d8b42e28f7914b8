#include "core/trace.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

__attribute__((format(printf, 2, 0))) void emit(bool lineBreak, const char* fmt, va_list ap) {
  char line[1024];
  int n = vsnprintf(line, sizeof line - 1, fmt, ap);
  if (n < 0) return;
  size_t len = strlen(line);
  if (lineBreak && (len == 0 || line[len - 1] != '\n')) {
    line[len++] = '\n';
    line[len] = '\0';
  }
  fputs(line, stdout);
}

}  // namespace

void recorder_trace(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  emit(true, fmt, ap);
  va_end(ap);
}

void recorder_trace_nolf(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  emit(false, fmt, ap);
  va_end(ap);
}
