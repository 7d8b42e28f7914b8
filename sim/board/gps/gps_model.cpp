#include "board/gps/gps_model.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "board/gps/furuno_receiver.h"
#include "board/gps/nmea_receiver.h"
#include "board/gps/ublox_receiver.h"
#include "board/timeline.h"
#include "platform/sim/board.h"
#include "platform/sim/clock.h"

namespace sim {
namespace {

const char kGpsOption[] = "gps";
const char kTtffOption[] = "gps-ttff";
const char kRtcOffsetOption[] = "rtc-offset";
constexpr double kDefaultTtffSeconds = 30;

std::string statePath(const std::string& boardDir) { return boardDir + "/gps.state"; }

bool number(const std::string& text, double* out) {
  char* end = nullptr;
  *out = strtod(text.c_str(), &end);
  return !text.empty() && *end == '\0' && std::isfinite(*out);
}

bool readFile(const std::string& path, std::vector<uint8_t>* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

// "gps fix lost|back", "gps replay FILE"
bool checkGpsAction(const std::vector<std::string>& w, std::string* error) {
  if (w.size() == 3 && w[1] == "fix" && (w[2] == "lost" || w[2] == "back")) return true;
  if (w.size() == 3 && w[1] == "replay") {
    std::vector<uint8_t> bytes;
    if (!readFile(w[2], &bytes) || bytes.empty()) {
      *error = "gps replay: cannot read \"" + w[2] + "\" (or it is empty)";
      return false;
    }
    return true;
  }
  *error = "gps takes: fix lost, fix back, or replay FILE";
  return false;
}

class GpsBoardModel : public BoardModel {
 public:
  GpsBoardModel(std::shared_ptr<SerialPorts> ports, std::shared_ptr<VehicleSource> vehicle)
      : ports_(std::move(ports)), vehicle_(std::move(vehicle)) {}
  const char* name() const override { return "gps"; }
  std::vector<std::string> actions() const override { return {"gps"}; }
  bool checkAction(const std::vector<std::string>& words, std::string* error) const override {
    return checkGpsAction(words, error);
  }

  void boot(const BoardConfig& config) override {
    std::string kind = config.option(kGpsOption, "ubx");
    auto car = vehicle_->forBoot(config);
    if (kind == "none" || ports_->isBridged(SerialBoard::kGpsPort) || !ports_->board) return;
    GpsReceiver::Options o;
    o.vehicle = car;
    o.worldAtZeroNs = Clock::worldAtZero();
    double ttff = kDefaultTtffSeconds;
    number(config.option(kTtffOption, "30"), &ttff);
    o.ttffNs = static_cast<int64_t>(ttff * 1e9);
    if (kind == "furuno") {
      receiver_ = std::make_shared<FurunoReceiver>(o);
    } else if (kind == "nmea") {
      receiver_ = std::make_shared<NmeaReceiver>(o);
    } else {
      receiver_ = std::make_shared<UbloxReceiver>(o);
    }
    // Powered through a reboot: it goes on as it was.
    std::string path = statePath(config.boardDir);
    std::ifstream saved(path);
    std::stringstream text;
    text << saved.rdbuf();
    if (text.str().find("kind=" + kind + "\n") == 0) receiver_->restoreState(text.str());
    receiver_->onStateChange([path, kind](const std::string& state) {
      std::ofstream(path + ".new", std::ios::trunc) << "kind=" << kind << "\n" << state;
      std::rename((path + ".new").c_str(), path.c_str());
    });
    receiver_->start(*ports_->board->line(SerialBoard::kGpsPort));
  }

  bool act(const std::vector<std::string>& w) override {
    std::string error;
    if (!checkGpsAction(w, &error)) return false;
    if (!receiver_) {
      boardNote("gps: no receiver on port 2: %s %s has no effect", w[1].c_str(), w[2].c_str());
      return true;
    }
    if (w[1] == "fix") {
      receiver_->setSkyLost(w[2] == "lost");
    } else {
      std::vector<uint8_t> bytes;
      if (!readFile(w[2], &bytes)) return false;
      receiver_->replay(std::move(bytes));
    }
    return true;
  }

 private:
  std::shared_ptr<SerialPorts> ports_;
  std::shared_ptr<VehicleSource> vehicle_;
  std::shared_ptr<GpsReceiver> receiver_;
};

class GpsRunnerExtension : public RunnerExtension {
 public:
  std::vector<Option> options() const override {
    return {
        {kGpsOption, true, "the GPS receiver on port 2: ubx (default), furuno, nmea or none"},
        {kTtffOption, true, "seconds from a cold start to the receiver's first fix (default 30)"},
        {VehicleSource::kRouteOption, true, "a GPX track the car follows instead of the default drive"},
        {kRtcOffsetOption, true, "seconds the board's clock chip is off the true time at the first boot"},
    };
  }

  bool checkOptions(const RunnerContext& ctx, std::string* error) const override {
    auto value = [&](const char* name) {
      auto it = ctx.options.find(name);
      return it == ctx.options.end() ? std::string() : it->second;
    };
    std::string kind = value(kGpsOption);
    if (!kind.empty() && kind != "ubx" && kind != "furuno" && kind != "nmea" && kind != "none") {
      *error = "--gps takes ubx, furuno, nmea or none, not \"" + kind + "\"";
      return false;
    }
    double n;
    if (!value(kTtffOption).empty() && (!number(value(kTtffOption), &n) || n < 0 || n > 3600)) {
      *error = "--gps-ttff takes seconds from 0 to 3600";
      return false;
    }
    if (!value(kRtcOffsetOption).empty() && (!number(value(kRtcOffsetOption), &n) || n != std::floor(n))) {
      *error = "--rtc-offset takes whole seconds (negative: the clock is behind)";
      return false;
    }
    std::string route = value(VehicleSource::kRouteOption);
    std::vector<RoutePoint> points;
    if (!route.empty() && !loadGpxRoute(route, &points, error)) return false;
    return true;
  }

  void runStart(RunnerContext& ctx) override {
    std::remove(statePath(ctx.boardDir).c_str());  // the receiver had no power between runs
    std::string kind = ctx.options.count(kGpsOption) ? ctx.options.at(kGpsOption) : "ubx";
    if (ctx.options.count(VehicleSource::kRouteOption)) {
      ctx.note("the car follows the route %s", ctx.options.at(VehicleSource::kRouteOption).c_str());
    }
    if (kind == "none") return;
    std::string ttff = ctx.options.count(kTtffOption) ? ctx.options.at(kTtffOption) : "30";
    ctx.note("GPS receiver on port 2: %s, first fix %s s after power-on", kind.c_str(), ttff.c_str());
  }

  void boardDown(RunnerContext& ctx) override {
    if (!ctx.supplyPresent) std::remove(statePath(ctx.boardDir).c_str());  // the receiver lost power too
  }
};

}  // namespace

std::unique_ptr<BoardModel> makeGpsBoardModel(std::shared_ptr<SerialPorts> ports, std::shared_ptr<VehicleSource> vehicle) {
  return std::make_unique<GpsBoardModel>(std::move(ports), std::move(vehicle));
}

std::unique_ptr<RunnerExtension> makeGpsRunnerExtension() { return std::make_unique<GpsRunnerExtension>(); }

}  // namespace sim
