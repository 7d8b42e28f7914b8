#include "board/board_model.h"

#include <cstdarg>
#include <cstdio>

namespace sim {

std::string BoardConfig::option(const std::string& name, const std::string& fallback) const {
  auto it = options.find(name);
  return it == options.end() ? fallback : it->second;
}

void RunnerContext::note(const char* fmt, ...) const {
  char text[1024];
  va_list ap;
  va_start(ap, fmt);
  vsnprintf(text, sizeof text, fmt, ap);
  va_end(ap);
  if (noteSink) {
    noteSink(text);
    return;
  }
  fprintf(stdout, "[sim] %s\n", text);
  fflush(stdout);
}

}  // namespace sim
