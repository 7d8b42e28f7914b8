// The parts of the simulated board.
//
// A BoardModel lives in the board process (one process per boot): at boot it loads its kernel
// modules or creates its device nodes before the program starts, and it carries out the
// scenario actions that concern it ("press rec", "shock 2500 0 0"). A RunnerExtension lives in
// recorder-sim itself, across boots: it adds command-line options, prepares the board directory
// before a boot, cleans up after the board went down (power cut, reboot) and reports at the end.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace sim {

// The board process's exit code when a part of the board cut the power itself (a power cut tied
// to a card write, with no hold-up at all): recorder-sim takes the supply as gone.
constexpr int kPowerCutExitCode = 76;

// What a boot of the board is given by the runner.
struct BoardConfig {
  std::string boardDir;
  int bootNumber = 1;
  bool supplyPresent = true;
  std::map<std::string, std::string> options;  // runner options that models read (--card-size ...)

  std::string option(const std::string& name, const std::string& fallback = "") const;
};

class BoardModel {
 public:
  virtual ~BoardModel() = default;
  virtual const char* name() const = 0;
  // Scenario action names this model carries out.
  virtual std::vector<std::string> actions() const { return {}; }
  // At boot, before the program starts.
  virtual void boot(const BoardConfig& config) { (void)config; }
  // Carries out an action (words[0] is its name); false when the arguments are not understood.
  virtual bool act(const std::vector<std::string>& words) { (void)words; return false; }
  // Checks an action's arguments before the run starts; false with a message when they do not
  // make one.
  virtual bool checkAction(const std::vector<std::string>& words, std::string* error) const {
    (void)words;
    (void)error;
    return true;
  }
  // The main supply changed (it feeds the power-fail line).
  virtual void supplyChanged(bool present) { (void)present; }
  // Options this part of the board adds to the program's command line, as the unit's start-up
  // script would pass them (a controller fitted on serial port 1: "--controller").
  virtual void programArguments(const BoardConfig& config, std::vector<std::string>* args) const {
    (void)config;
    (void)args;
  }
};

// Every model of the board, created anew for each boot (and by the runner to know the actions).
std::vector<std::unique_ptr<BoardModel>> createBoardModels();
// The "health" action: the board process's resident size and every message pipe's depth in the
// timeline (health_model.cpp).
std::unique_ptr<BoardModel> makeHealthModel();

struct RunnerContext;

class RunnerExtension {
 public:
  virtual ~RunnerExtension() = default;
  struct Option {
    std::string name;  // without "--"
    bool takesValue;
    std::string help;
    bool repeatable = false;  // may be given more than once; the values are joined by blanks
  };
  virtual std::vector<Option> options() const { return {}; }
  // Scenario action names carried out by the runner itself ("card", "settings").
  virtual std::vector<std::string> actions() const { return {}; }
  // Checks the options' values before anything runs; false with a message.
  virtual bool checkOptions(const RunnerContext& ctx, std::string* error) const {
    (void)ctx;
    (void)error;
    return true;
  }
  virtual void runStart(RunnerContext& ctx) { (void)ctx; }
  // Before each boot of the board (the board is off).
  virtual void beforeBoot(RunnerContext& ctx) { (void)ctx; }
  // After the board process ended (reboot, power cut, program end).
  virtual void boardDown(RunnerContext& ctx) { (void)ctx; }
  // Checks a runner action's arguments before the run starts; false with a message.
  virtual bool checkAction(const std::vector<std::string>& words, std::string* error) const {
    (void)words;
    (void)error;
    return true;
  }
  // Carries out a runner action; false when the arguments are not understood.
  virtual bool act(RunnerContext& ctx, const std::vector<std::string>& words) { (void)ctx; (void)words; return false; }
  virtual void runEnd(RunnerContext& ctx) { (void)ctx; }
};

std::vector<std::unique_ptr<RunnerExtension>> createRunnerExtensions();

// The runner's state as extensions see it.
struct RunnerContext {
  std::string boardDir;
  std::map<std::string, std::string> options;
  bool boardRunning = false;   // a board process is alive
  bool supplyPresent = true;
  double speed = 1;  // simulated seconds per real second
  // Sends an action line to the running board process (ignored when it is not running).
  void (*sendToBoard)(const std::string& line) = nullptr;
  // Where notes go: recorder-sim's console (standard output and DIR/console.log).
  void (*noteSink)(const std::string& text) = nullptr;
  // A note on recorder-sim's own console ("[sim] ...").
  void note(const char* fmt, ...) const __attribute__((format(printf, 2, 3)));
};

}  // namespace sim
