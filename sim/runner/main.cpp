// recorder-sim --board DIR [--scenario FILE] [--speed N] [--duration SECONDS]
//              [--start "YYYY-MM-DD hh:mm:ss"] [--tz ZONE] [--hold-up SECONDS] [model options]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "board/board_model.h"
#include "board_process.h"
#include "runner.h"

namespace {

void usage(FILE* out) {
  fprintf(out,
          "usage: recorder-sim --board DIR [--scenario FILE] [--speed N] [--duration SECONDS]\n"
          "                    [--start \"YYYY-MM-DD hh:mm:ss\"] [--tz ZONE] [--hold-up SECONDS]\n"
          "Runs the recorder on a simulated board. Only --board is required; every other option has\n"
          "a default. With neither --duration nor a \"stop\" line in the scenario the run goes on until\n"
          "Ctrl-C, which stops the board in order.\n"
          "  --board DIR       (required) the board directory (created, or reused with its card and clock)\n"
          "  --scenario FILE   timed actions, one a line: \"<seconds> <action> <arguments>\"\n"
          "  --speed N         simulated seconds per real second (default 1)\n"
          "  --duration S      stop the board in order (SIGINT) after S simulated seconds\n"
          "  --start TIME      wall time at the first power-on (default: where the board's clock stands)\n"
          "  --tz ZONE         the board's time zone (default UTC)\n"
          "  --hold-up S       seconds the back-up capacitor carries the board after a power cut (default 15)\n");
  for (auto& e : sim::createRunnerExtensions()) {
    for (const auto& o : e->options()) {
      fprintf(out, "  --%-16s %s\n", (o.name + (o.takesValue ? " V" : "")).c_str(), o.help.c_str());
    }
  }
}

bool numberArg(const char* text, double* out) {
  char* end = nullptr;
  *out = strtod(text, &end);
  return end != text && *end == '\0' && *out >= 0;
}

int boardProcessMain(int argc, char** argv) {
  sim::BoardProcessArgs a;
  for (int i = 2; i + 1 < argc; i += 2) {
    std::string k = argv[i], v = argv[i + 1];
    if (k == "--board") a.config.boardDir = v;
    else if (k == "--tz") a.tz = v;
    else if (k == "--speed") a.speed = atof(v.c_str());
    else if (k == "--mono-anchor") a.monoAnchor = atoll(v.c_str());
    else if (k == "--world-zero") a.worldAtZero = atoll(v.c_str());
    else if (k == "--control-fd") a.controlFd = atoi(v.c_str());
    else if (k == "--boot") a.config.bootNumber = atoi(v.c_str());
    else if (k == "--supply") a.config.supplyPresent = v == "on";
    else if (k == "--opt") {
      size_t eq = v.find('=');
      a.config.options[v.substr(0, eq)] = eq == std::string::npos ? "" : v.substr(eq + 1);
    }
  }
  sim::runBoardProcess(a);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && strcmp(argv[1], "--board-process") == 0) return boardProcessMain(argc, argv);

  sim::RunnerOptions o;
  o.self = argv[0];
  std::vector<sim::RunnerExtension::Option> extra;
  for (auto& e : sim::createRunnerExtensions()) {
    for (auto& opt : e->options()) extra.push_back(opt);
  }
  std::string start;
  for (int i = 1; i < argc; ++i) {
    std::string k = argv[i];
    auto value = [&](const char** out) {
      if (i + 1 >= argc) {
        fprintf(stderr, "recorder-sim: %s needs a value\n", k.c_str());
        exit(2);
      }
      *out = argv[++i];
    };
    const char* v = nullptr;
    if (k == "--help" || k == "-h") {
      usage(stdout);
      return 0;
    } else if (k == "--board") {
      value(&v);
      o.boardDir = v;
    } else if (k == "--scenario") {
      value(&v);
      o.scenarioPath = v;
    } else if (k == "--speed" || k == "--duration" || k == "--hold-up") {
      value(&v);
      double n;
      if (!numberArg(v, &n) || (k == "--speed" && n <= 0)) {
        fprintf(stderr, "recorder-sim: %s %s: %s\n", k.c_str(), v,
                k == "--speed" ? "the speed must be a number above 0 (simulated seconds per real second: 1, 10, 0.5 ...)"
                               : "expected a number of seconds, 0 or more (30, 2.5 ...)");
        return 2;
      }
      (k == "--speed" ? o.speed : k == "--duration" ? o.durationSeconds : o.holdUpSeconds) = n;
    } else if (k == "--start") {
      value(&v);
      start = v;
    } else if (k == "--tz") {
      value(&v);
      o.tz = v;
    } else {
      bool known = false;
      for (const auto& opt : extra) {
        if (k != "--" + opt.name) continue;
        known = true;
        if (opt.takesValue) {
          value(&v);
          bool again = opt.repeatable && o.extra.count(opt.name) != 0;
          o.extra[opt.name] = again ? o.extra[opt.name] + " " + v : std::string(v);
        } else {
          o.extra[opt.name] = "1";
        }
      }
      if (!known) {
        fprintf(stderr, "recorder-sim: unknown option %s\n", k.c_str());
        usage(stderr);
        return 2;
      }
    }
  }
  if (o.boardDir.empty()) {
    fprintf(stderr, "recorder-sim: --board DIR is required\n");
    usage(stderr);
    return 2;
  }
  // A sanitizer build runs the program several times slower: RECORDER_SIM_SLOWDOWN (set by the
  // thread sanitizer's test preset) divides the speed, so that the program keeps up with the
  // board's clock as a plain build does.
  if (const char* slowdown = getenv("RECORDER_SIM_SLOWDOWN"); slowdown && atof(slowdown) > 1) {
    o.speed = std::max(1.0, o.speed / atof(slowdown));
  }
  // The runner works in the board's time zone too, so its timeline reads like the board.
  setenv("TZ", o.tz.c_str(), 1);
  tzset();
  if (!start.empty()) {
    bool ok = false;
    o.startWorldNs = sim::parseWorldTime(start, &ok);
    if (!ok) {
      fprintf(stderr, "recorder-sim: --start: expected \"YYYY-MM-DD hh:mm:ss\", got \"%s\"\n", start.c_str());
      return 2;
    }
    o.hasStart = true;
  }
  setvbuf(stdout, nullptr, _IOLBF, 0);
  return sim::runRecorderSim(o);
}
