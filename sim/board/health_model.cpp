// The board's health report, for long runs: the scenario action "health" writes one timeline
// entry with the board process's resident size (the program and the board's models) and the
// depth of every message pipe in use. It reads the pipes from outside, once per action, so
// nothing is added to the program's own paths.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "board/board_model.h"
#include "board/timeline.h"
#include "core/msg_pipe.h"

namespace sim {

namespace {

// The number on a "Name:   123 kB" line of /proc/self/status; -1 when missing.
int64_t statusValue(const char* name) {
  FILE* f = fopen("/proc/self/status", "r");
  if (f == nullptr) return -1;
  char line[256];
  int64_t value = -1;
  size_t n = strlen(name);
  while (fgets(line, sizeof line, f)) {
    if (strncmp(line, name, n) == 0 && line[n] == ':') {
      value = strtoll(line + n + 1, nullptr, 10);
      break;
    }
  }
  fclose(f);
  return value;
}

class HealthModel : public BoardModel {
 public:
  const char* name() const override { return "health"; }
  std::vector<std::string> actions() const override { return {"health"}; }
  bool checkAction(const std::vector<std::string>& words, std::string* error) const override {
    if (words.size() == 1) return true;
    *error = "health takes no arguments";
    return false;
  }
  bool act(const std::vector<std::string>& words) override {
    if (words.size() != 1) return false;
    TimelineEvent event("health");
    event.add("rss_kb", statusValue("VmRSS")).add("threads", statusValue("Threads"));
    std::string depths;
    for (int pipe = 0; pipe < MSG_PIPE_COUNT; ++pipe) {
      int depth = MsgPipeDepth(pipe);
      if (depth < 0) continue;
      event.add(("pipe_" + std::to_string(pipe)).c_str(), depth);
    }
    event.emit();
    return true;
  }
};

}  // namespace

std::unique_ptr<BoardModel> makeHealthModel() { return std::make_unique<HealthModel>(); }

}  // namespace sim
