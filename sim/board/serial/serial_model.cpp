#include "board/serial/serial_model.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "board/serial/pc_bridge.h"
#include "board/timeline.h"
#include "platform/sim/board.h"

namespace sim {
namespace {

const char kSerialOption[] = "serial";
std::string fdOption(int port) { return "serial-fd-" + std::to_string(port); }
std::string ptyFile(const std::string& boardDir, int port) {
  return boardDir + "/ttyS" + std::to_string(port) + ".pty";
}

class SerialBoardModel : public BoardModel {
 public:
  explicit SerialBoardModel(std::shared_ptr<SerialPorts> ports) : ports_(std::move(ports)) {}
  const char* name() const override { return "serial"; }

  void boot(const BoardConfig& config) override {
    ports_->board = std::make_unique<SerialBoard>();
    std::string error;
    parseSerialOption(config.option(kSerialOption), &ports_->bridged, &error);
    for (const auto& [port, target] : ports_->bridged) {
      int fd = atoi(config.option(fdOption(port), "-1").c_str());
      if (fd < 0) continue;
      auto bridge = std::make_shared<PcBridge>(fd, target != "pty");
      bridge->start(*ports_->board->line(port));
      bridges_.push_back(bridge);
    }
    ports_->board->startThread();
  }

 private:
  std::shared_ptr<SerialPorts> ports_;
  std::vector<std::shared_ptr<PcBridge>> bridges_;
};

class SerialRunnerExtension : public RunnerExtension {
 public:
  std::vector<Option> options() const override {
    Option serial{kSerialOption, true, "N=pty: port N joined to a new pseudo-terminal on the PC; N=DEVICE: to a real "
                                       "serial device (needs --speed 1); once per port"};
    serial.repeatable = true;
    return {serial};
  }

  bool checkOptions(const RunnerContext& ctx, std::string* error) const override {
    auto it = ctx.options.find(kSerialOption);
    if (it == ctx.options.end()) return true;
    std::map<int, std::string> bridges;
    if (!parseSerialOption(it->second, &bridges, error)) return false;
    for (const auto& [port, target] : bridges) {
      if (target == "pty") continue;
      if (ctx.speed != 1) {
        *error = "--serial " + std::to_string(port) + "=" + target +
                 " joins a real device, whose bytes cross in real time: run with --speed 1";
        return false;
      }
      struct stat st;
      if (stat(target.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) {
        *error = "--serial " + std::to_string(port) + "=" + target + ": no such serial device";
        return false;
      }
    }
    return true;
  }

  void runStart(RunnerContext& ctx) override {
    auto it = ctx.options.find(kSerialOption);
    if (it == ctx.options.end()) return;
    std::string error;
    std::map<int, std::string> bridges;
    parseSerialOption(it->second, &bridges, &error);
    for (const auto& [port, target] : bridges) {
      int fd = -1;
      std::string path = target;
      if (target == "pty") {
        PseudoTerminal pty;
        if (!openPseudoTerminal(&pty, &error)) {
          ctx.note("serial port %d: %s", port, error.c_str());
          continue;
        }
        fd = pty.master;
        keep_.push_back(pty.slave);
        path = pty.path;
        std::ofstream(ptyFile(ctx.boardDir, port), std::ios::trunc) << path << "\n";
        ctx.note("serial port %d (/dev/ttyS%d) is joined to the pseudo-terminal %s", port, port, path.c_str());
      } else {
        fd = open(target.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0) {
          ctx.note("serial port %d: cannot open %s: %s", port, target.c_str(), strerror(errno));
          continue;
        }
        ctx.note("serial port %d (/dev/ttyS%d) is joined to the device %s", port, port, target.c_str());
      }
      fcntl(fd, F_SETFD, 0);  // every boot's board process gets it
      keep_.push_back(fd);
      ctx.options[fdOption(port)] = std::to_string(fd);
      TimelineEvent("serial").add("port", port).add("joined", path).emit();
    }
  }

  void runEnd(RunnerContext&) override {
    for (int fd : keep_) close(fd);
    keep_.clear();
  }

 private:
  std::vector<int> keep_;
};

}  // namespace

bool parseSerialOption(const std::string& value, std::map<int, std::string>* bridges, std::string* error) {
  std::istringstream in(value);
  for (std::string item; in >> item;) {
    size_t eq = item.find('=');
    // The digits stay alive while `end` points into them.
    std::string digits = eq == std::string::npos ? "" : item.substr(0, eq);
    char* end = nullptr;
    long port = eq == std::string::npos ? -1 : strtol(digits.c_str(), &end, 10);
    if (eq == std::string::npos || eq == 0 || *end != '\0' || port < 0 || port >= SerialBoard::kPorts ||
        eq + 1 == item.size()) {
      *error = "--serial takes N=pty or N=DEVICE with N from 0 to 3, not \"" + item + "\"";
      return false;
    }
    if (bridges->count(static_cast<int>(port))) {
      *error = "--serial: port " + std::to_string(port) + " is given twice";
      return false;
    }
    (*bridges)[static_cast<int>(port)] = item.substr(eq + 1);
  }
  return true;
}

std::unique_ptr<BoardModel> makeSerialBoardModel(std::shared_ptr<SerialPorts> ports) {
  return std::make_unique<SerialBoardModel>(std::move(ports));
}

std::unique_ptr<RunnerExtension> makeSerialRunnerExtension() { return std::make_unique<SerialRunnerExtension>(); }

}  // namespace sim
