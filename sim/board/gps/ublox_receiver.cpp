#include "board/gps/ublox_receiver.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <sstream>

#include "board/gps/nmea_output.h"
#include "platform/sim/clock.h"

namespace sim {
namespace {

constexpr uint8_t kNav = 0x01, kAck = 0x05, kCfg = 0x06, kMon = 0x0A, kNmeaClass = 0xF0;
constexpr uint16_t key(uint8_t cls, uint8_t id) { return static_cast<uint16_t>(cls << 8 | id); }

// The NAV messages the receiver makes, in the order it sends them after a solution: the status
// first, the solution with its time (NAV-SOL) after the position, velocity and UTC time.
constexpr uint8_t kNavIds[] = {0x03, 0x04, 0x02, 0x12, 0x21, 0x06, 0x30};
// NMEA messages (class 0xF0) in their order of output, with their ids.
struct NmeaOut {
  uint8_t id;
  NmeaSentence sentence;
  const char* name;
};
constexpr NmeaOut kNmea[] = {{0x04, NmeaSentence::RMC, "RMC"}, {0x05, NmeaSentence::VTG, "VTG"},
                             {0x00, NmeaSentence::GGA, "GGA"}, {0x02, NmeaSentence::GSA, "GSA"},
                             {0x03, NmeaSentence::GSV, "GSV"}, {0x01, NmeaSentence::GLL, "GLL"}};

bool knownMessage(uint16_t k) {
  for (uint8_t id : kNavIds) {
    if (k == key(kNav, id)) return true;
  }
  for (const NmeaOut& m : kNmea) {
    if (k == key(kNmeaClass, m.id)) return true;
  }
  return false;
}

constexpr uint32_t kBauds[] = {4800, 9600, 19200, 38400, 57600, 115200, 230400, 460800};

// The line format a UART port's mode selects; false for one the receiver does not have.
bool formatOfMode(uint32_t mode, uint32_t baud, LineFormat* f) {
  int charLen = (mode >> 6) & 3, parity = (mode >> 9) & 7, stops = (mode >> 12) & 3;
  if (charLen < 2 || (parity != 0 && parity != 1 && parity != 4 && parity != 5) || (stops != 0 && stops != 2)) return false;
  bool knownBaud = false;
  for (uint32_t b : kBauds) knownBaud |= b == baud;
  if (!knownBaud) return false;
  f->baud = static_cast<int>(baud);
  f->dataBits = charLen == 3 ? 8 : 7;
  f->parity = parity == 0 ? Parity::Even : parity == 1 ? Parity::Odd : Parity::None;
  f->stopBits = stops == 2 ? 2 : 1;
  return true;
}

std::vector<uint8_t> defaultNav5() {
  return UbxPayload()
      .u2(0xFFFF).u1(0).u1(3).i4(0).u4(10000).i1(5).u1(0).u2(250).u2(250).u2(100).u2(300).u1(0).u1(60)
      .u4(0).u4(0).u4(0)
      .bytes();
}

int32_t clampI4(double v) { return static_cast<int32_t>(std::llround(std::clamp(v, -2147483648.0, 2147483647.0))); }
uint32_t clampU4(double v) { return static_cast<uint32_t>(std::llround(std::clamp(v, 0.0, 4294967295.0))); }
uint16_t dop100(double v) { return static_cast<uint16_t>(std::lround(std::min(v, 99.99) * 100)); }

std::string hex(const std::vector<uint8_t>& b) {
  std::string s;
  char item[3];
  for (uint8_t v : b) {
    snprintf(item, sizeof item, "%02x", v);
    s += item;
  }
  return s;
}
std::vector<uint8_t> unhex(const std::string& s) {
  std::vector<uint8_t> b;
  for (size_t i = 0; i + 1 < s.size(); i += 2) b.push_back(static_cast<uint8_t>(strtoul(s.substr(i, 2).c_str(), nullptr, 16)));
  return b;
}

}  // namespace

UbloxReceiver::Config::Config() : nav5(defaultNav5()) {
  for (const NmeaOut& m : kNmea) rates[key(kNmeaClass, m.id)] = {0, 1, 0, 1, 0, 0};  // UART1 and USB
  for (uint8_t id : kNavIds) rates[key(kNav, id)] = {0, 0, 0, 0, 0, 0};
}

UbloxReceiver::UbloxReceiver(const Options& options)
    : GpsReceiver(options), parser_([this](uint8_t c, uint8_t i, const std::vector<uint8_t>& p) { onUbx(c, i, p); }) {
  engine_.setMinElevation(minElevation());
}

UbloxReceiver::Config UbloxReceiver::config() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return config_;
}

int UbloxReceiver::minElevation() const { return static_cast<int8_t>(config_.nav5[12]); }

LineFormat UbloxReceiver::powerOnFormat() const {
  LineFormat f;
  const Port& p = config_.ports[kOwnPort];
  formatOfMode(p.mode, p.baudRate, &f);
  return f;
}

int64_t UbloxReceiver::epochPeriodNs() const {
  return static_cast<int64_t>(config_.measRateMs) * std::max<uint16_t>(config_.navRate, 1) * 1000 * 1000;
}

uint8_t UbloxReceiver::rateOnOwnPort(uint16_t k) const {
  auto it = config_.rates.find(k);
  return it == config_.rates.end() ? 0 : it->second[kOwnPort];
}

void UbloxReceiver::onInput(const uint8_t* bytes, size_t count) {
  const uint16_t in = config_.ports[kOwnPort].inProtoMask;
  for (size_t i = 0; i < count; ++i) {
    uint8_t c = bytes[i];
    if (in & 0x0001) parser_.feed(c);
    if (!(in & 0x0002)) continue;
    if (c == '$') {
      nmeaInput_ = "$";
    } else if (!nmeaInput_.empty()) {
      nmeaInput_ += static_cast<char>(c);
      if (c == '\n') {
        onNmeaInput(nmeaInput_);
        nmeaInput_.clear();
      } else if (nmeaInput_.size() > 120) {
        nmeaInput_.clear();
      }
    }
  }
}

int64_t UbloxReceiver::ack(uint8_t cls, uint8_t id, bool accepted) {
  if (!(config_.ports[kOwnPort].outProtoMask & 0x0001)) return Clock::elapsed();  // no UBX out on this port
  return answer(ubxFrame(kAck, accepted ? 0x01 : 0x00, {cls, id}));
}

void UbloxReceiver::sendCfg(uint8_t id, const std::vector<uint8_t>& payload) {
  if (!(config_.ports[kOwnPort].outProtoMask & 0x0001)) return;
  answer(ubxFrame(kCfg, id, payload));
}

std::vector<uint8_t> UbloxReceiver::portPayload(int port) const {
  const Port& p = config_.ports[static_cast<size_t>(port)];
  return UbxPayload()
      .u1(static_cast<uint8_t>(port)).u1(0).u2(p.txReady).u4(p.mode).u4(p.baudRate).u2(p.inProtoMask)
      .u2(p.outProtoMask).u2(0).u2(0)
      .bytes();
}

std::vector<uint8_t> UbloxReceiver::msgPayload(uint16_t k) const {
  UbxPayload p;
  p.u1(static_cast<uint8_t>(k >> 8)).u1(static_cast<uint8_t>(k));
  auto it = config_.rates.find(k);
  for (int port = 0; port < 6; ++port) p.u1(it == config_.rates.end() ? 0 : it->second[static_cast<size_t>(port)]);
  return p.bytes();
}

bool UbloxReceiver::setPort(int port, const Port& p) {
  if (port < 0 || port >= kPorts) return false;
  LineFormat format;
  bool uart = port == 1 || port == 2;
  if (uart && !formatOfMode(p.mode, p.baudRate, &format)) return false;
  LineFormat before = powerOnFormat();
  int64_t acknowledged = ack(kCfg, 0x00, true);  // at the old speed, before anything changes
  config_.ports[static_cast<size_t>(port)] = p;
  if (port == kOwnPort && !(format == before)) switchFormatAt(format, acknowledged);
  if (port == kOwnPort) {
    char text[96];
    snprintf(text, sizeof text, "port: in 0x%04x out 0x%04x, %s", p.inProtoMask, p.outProtoMask, format.text().c_str());
    note(text);
  }
  return true;
}

void UbloxReceiver::onUbx(uint8_t cls, uint8_t id, const std::vector<uint8_t>& payload) {
  if (cls == kCfg) {
    onCfg(id, payload);
    stateChanged();
  } else if (cls == kMon && id == 0x04 && payload.empty()) {
    if (config_.ports[kOwnPort].outProtoMask & 0x0001) {
      answer(ubxFrame(kMon, 0x04, UbxPayload().text(kSoftwareVersion, 30).text(kHardwareVersion, 10).bytes()));
    }
  } else if (cls == kNav && payload.empty() && knownMessage(key(kNav, id))) {
    if (config_.ports[kOwnPort].outProtoMask & 0x0001) answer(ubxFrame(kNav, id, navMessage(id, last_)));
  }
}

void UbloxReceiver::onCfg(uint8_t id, const std::vector<uint8_t>& p) {
  const size_t n = p.size();
  auto pollAnswer = [&](const std::vector<uint8_t>& current) {
    sendCfg(id, current);
    ack(kCfg, id, true);
  };
  auto nak = [&] { ack(kCfg, id, false); };
  auto setIfSized = [&](size_t size, std::vector<uint8_t>* field) {
    if (n == 0) return pollAnswer(*field);
    if (n != size) return nak();
    *field = p;
    ack(kCfg, id, true);
  };
  switch (id) {
    case 0x00: {  // CFG-PRT
      if (n == 0 || n == 1) {
        int port = n == 0 ? kOwnPort : p[0];
        if (port >= kPorts) return nak();
        return pollAnswer(portPayload(port));
      }
      if (n != 20) return nak();
      Port port;
      port.txReady = ubxU2(&p[2]);
      port.mode = ubxU4(&p[4]);
      port.baudRate = ubxU4(&p[8]);
      port.inProtoMask = ubxU2(&p[12]);
      port.outProtoMask = ubxU2(&p[14]);
      if (!setPort(p[0], port)) nak();
      return;
    }
    case 0x01: {  // CFG-MSG
      if (n < 2) return nak();
      uint16_t k = key(p[0], p[1]);
      if (!knownMessage(k) || (n != 2 && n != 3 && n != 8)) return nak();
      if (n == 2) return pollAnswer(msgPayload(k));
      if (n == 3) {
        config_.rates[k][kOwnPort] = p[2];
      } else {
        for (size_t port = 0; port < 6; ++port) config_.rates[k][port] = p[2 + port];
      }
      ack(kCfg, id, true);
      return;
    }
    case 0x04: {  // CFG-RST: not acknowledged
      if (n != 4) return nak();
      uint16_t bbr = ubxU2(&p[0]);
      uint8_t mode = p[2];
      GpsEngine::Start start = bbr == 0 ? GpsEngine::Start::Hot : bbr == 0xFFFF ? GpsEngine::Start::Cold : GpsEngine::Start::Warm;
      if (mode == 0x08) {
        navigationStopped_ = true;
        note("navigation stopped");
      } else if (mode == 0x09) {
        navigationStopped_ = false;
        note("navigation started");
      } else if (mode == 0x02) {
        navigationStopped_ = false;
        restart(start, 0);
      } else {
        // The whole receiver restarts and reads its permanent configuration.
        navigationStopped_ = false;
        LineFormat before = powerOnFormat();
        config_ = permanent_;
        engine_.setMinElevation(minElevation());
        parser_.reset();
        nmeaInput_.clear();
        restart(start, kResetPauseNs);
        if (!(powerOnFormat() == before)) switchFormatAt(powerOnFormat(), Clock::elapsed() + kResetPauseNs);
      }
      return;
    }
    case 0x06: {  // CFG-DAT
      if (n == 0) {
        return pollAnswer(UbxPayload()
                              .u2(config_.datum).text("WGS84", 6)
                              .r8(6378137.0).r8(298.257223563)
                              .u4(0).u4(0).u4(0).u4(0).u4(0).u4(0).u4(0)
                              .bytes());
      }
      if (n != 2) return nak();
      config_.datum = ubxU2(&p[0]);
      ack(kCfg, id, true);
      return;
    }
    case 0x08: {  // CFG-RATE
      if (n == 0) return pollAnswer(UbxPayload().u2(config_.measRateMs).u2(config_.navRate).u2(config_.timeRef).bytes());
      if (n != 6 || ubxU2(&p[0]) < 200 || ubxU2(&p[2]) < 1 || ubxU2(&p[2]) > 127 || ubxU2(&p[4]) > 1) {
        return nak();
      }
      config_.measRateMs = ubxU2(&p[0]);
      config_.navRate = ubxU2(&p[2]);
      config_.timeRef = ubxU2(&p[4]);
      ack(kCfg, id, true);
      return;
    }
    case 0x09: {  // CFG-CFG
      if (n != 12 && n != 13) return nak();
      if (ubxU4(&p[0]) != 0) permanent_ = Config();
      if (ubxU4(&p[4]) != 0) permanent_ = config_;
      if (ubxU4(&p[8]) != 0) config_ = permanent_;
      engine_.setMinElevation(minElevation());
      ack(kCfg, id, true);
      return;
    }
    case 0x13:  // CFG-ANT
      return setIfSized(4, &config_.ant);
    case 0x16:  // CFG-SBAS
      return setIfSized(8, &config_.sbas);
    case 0x24: {  // CFG-NAV5
      if (n == 0) return pollAnswer(config_.nav5);
      if (n != 36) return nak();
      uint16_t mask = ubxU2(&p[0]);
      uint8_t dyn = p[2], fixMode = p[3];
      if (((mask & 0x01) && (dyn == 1 || dyn > 8)) || ((mask & 0x04) && (fixMode < 1 || fixMode > 3))) {
        return nak();
      }
      // Only the groups the mask names change.
      struct Group {
        uint16_t bit;
        std::vector<int> offsets;
      } groups[] = {{0x01, {2}},          {0x02, {12}},         {0x04, {3, 4, 5, 6, 7, 8, 9, 10, 11}},
                    {0x08, {13}},         {0x10, {14, 15, 18, 19}}, {0x20, {16, 17, 20, 21}},
                    {0x40, {22}},         {0x80, {23}}};
      for (const Group& g : groups) {
        if (!(mask & g.bit)) continue;
        for (int o : g.offsets) config_.nav5[static_cast<size_t>(o)] = p[static_cast<size_t>(o)];
      }
      engine_.setMinElevation(minElevation());
      ack(kCfg, id, true);
      return;
    }
    default:
      return nak();  // a CFG message this receiver does not have
  }
}

void UbloxReceiver::onNmeaInput(const std::string& sentence) {
  struct Saved {
    UbloxReceiver* r;
    ~Saved() { r->stateChanged(); }
  } saved{this};
  size_t star = sentence.find('*');
  if (sentence.size() < 4 || star == std::string::npos || star + 3 > sentence.size()) return;
  std::string body = sentence.substr(1, star - 1);
  if (strtoul(sentence.substr(star + 1, 2).c_str(), nullptr, 16) != nmeaChecksum(body)) return;
  std::vector<std::string> f;
  std::stringstream in(body);
  for (std::string item; std::getline(in, item, ',');) f.push_back(item);
  if (f.size() >= 8 && f[0] == "PUBX" && f[1] == "40") {
    for (const NmeaOut& m : kNmea) {
      if (f[2] != m.name) continue;
      auto& r = config_.rates[key(kNmeaClass, m.id)];
      for (size_t port = 0; port < 5; ++port) r[port] = static_cast<uint8_t>(atoi(f[3 + port].c_str()));
    }
  } else if (f.size() >= 6 && f[0] == "PUBX" && f[1] == "41") {
    int port = atoi(f[2].c_str());
    if (port < 0 || port >= kPorts) return;
    Port p = config_.ports[static_cast<size_t>(port)];
    p.inProtoMask = static_cast<uint16_t>(strtoul(f[3].c_str(), nullptr, 16));
    p.outProtoMask = static_cast<uint16_t>(strtoul(f[4].c_str(), nullptr, 16));
    p.baudRate = static_cast<uint32_t>(strtoul(f[5].c_str(), nullptr, 10));
    LineFormat format, before = powerOnFormat();
    if ((port == 1 || port == 2) && !formatOfMode(p.mode, p.baudRate, &format)) return;
    config_.ports[static_cast<size_t>(port)] = p;
    if (port == kOwnPort && !(format == before)) switchFormatAt(format, Clock::elapsed());
  }
}

void UbloxReceiver::onRestart() { epochs_ = 0; }

std::vector<uint8_t> UbloxReceiver::navMessage(uint8_t id, const NavSolution& n) const {
  // Before the receiver knows the time it counts from the start of GPS time.
  GpsTime gps = n.gps;
  int64_t utc = n.utcNs;
  if (!n.timeValid) {
    gps = GpsTime{0, n.sinceStartMs, 0};
    utc = 315964800LL * 1000000000 + static_cast<int64_t>(n.sinceStartMs) * 1000000;
  }
  const uint32_t itow = gps.towMs;
  const uint8_t fixType = n.fix ? 3 : 0;
  const uint8_t fixFlags = static_cast<uint8_t>((n.fix ? 0x01 : 0) | (n.timeValid ? 0x0C : 0));
  UbxPayload p;
  switch (id) {
    case 0x02:  // NAV-POSLLH
      p.u4(itow).i4(clampI4(n.lonDeg * 1e7)).i4(clampI4(n.latDeg * 1e7)).i4(clampI4((n.altMslM + n.geoidM) * 1000))
          .i4(clampI4(n.altMslM * 1000)).u4(clampU4(n.hAccM * 1000)).u4(clampU4(n.vAccM * 1000));
      break;
    case 0x03:  // NAV-STATUS
      p.u4(itow).u1(fixType).u1(fixFlags).u1(0).u1(0).u4(n.ttffMs).u4(n.sinceStartMs);
      break;
    case 0x04:  // NAV-DOP
      p.u4(itow).u2(dop100(n.dop.gdop)).u2(dop100(n.dop.pdop)).u2(dop100(n.dop.tdop)).u2(dop100(n.dop.vdop))
          .u2(dop100(n.dop.hdop)).u2(dop100(n.dop.ndop)).u2(dop100(n.dop.edop));
      break;
    case 0x06: {  // NAV-SOL
      double pos[3] = {}, vel[3] = {};
      if (n.fix || n.latDeg != 0 || n.lonDeg != 0) {
        ecefOf(n.latDeg, n.lonDeg, n.altMslM + n.geoidM, pos);
        ecefVelocityOf(n.latDeg, n.lonDeg, n.velNorth, n.velEast, n.velDown, vel);
      }
      p.u4(itow).i4(static_cast<int32_t>(n.utcNs % 1000000)).i2(static_cast<int16_t>(gps.week)).u1(fixType).u1(fixFlags)
          .i4(clampI4(pos[0] * 100)).i4(clampI4(pos[1] * 100)).i4(clampI4(pos[2] * 100))
          .u4(clampU4(std::hypot(n.hAccM, n.vAccM) * 100))
          .i4(clampI4(vel[0] * 100)).i4(clampI4(vel[1] * 100)).i4(clampI4(vel[2] * 100))
          .u4(clampU4(n.sAccMps * 100)).u2(dop100(n.dop.pdop)).u1(0).u1(static_cast<uint8_t>(n.used)).u4(0);
      break;
    }
    case 0x12: {  // NAV-VELNED
      double speed3d = std::sqrt(n.speedMps * n.speedMps + n.velDown * n.velDown);
      p.u4(itow).i4(clampI4(n.velNorth * 100)).i4(clampI4(n.velEast * 100)).i4(clampI4(n.velDown * 100))
          .u4(clampU4(speed3d * 100)).u4(clampU4(n.speedMps * 100)).i4(clampI4(n.courseDeg * 1e5))
          .u4(clampU4(n.sAccMps * 100)).u4(clampU4(n.cAccDeg * 1e5));
      break;
    }
    case 0x21: {  // NAV-TIMEUTC
      time_t seconds = static_cast<time_t>(utc / 1000000000);
      struct tm t;
      gmtime_r(&seconds, &t);
      p.u4(itow).u4(n.tAccNs).i4(static_cast<int32_t>(utc % 1000000000)).u2(static_cast<uint16_t>(t.tm_year + 1900))
          .u1(static_cast<uint8_t>(t.tm_mon + 1)).u1(static_cast<uint8_t>(t.tm_mday)).u1(static_cast<uint8_t>(t.tm_hour))
          .u1(static_cast<uint8_t>(t.tm_min)).u1(static_cast<uint8_t>(t.tm_sec)).u1(n.timeValid ? 0x07 : 0x00);
      break;
    }
    case 0x30: {  // NAV-SVINFO
      p.u4(itow).u1(static_cast<uint8_t>(n.channels.size())).u1(0x02).u2(0);
      uint8_t chn = 0;
      for (const TrackedSatellite& c : n.channels) {
        uint8_t flags = static_cast<uint8_t>((c.used ? 0x01 : 0) | (c.cno > 0 ? 0x0C : 0));
        p.u1(chn++).u1(static_cast<uint8_t>(c.prn)).u1(flags).u1(static_cast<uint8_t>(c.quality))
            .u1(static_cast<uint8_t>(c.cno)).i1(static_cast<int8_t>(c.elevationDeg)).i2(static_cast<int16_t>(c.azimuthDeg))
            .i4(c.residualCm);
      }
      break;
    }
    default:
      break;
  }
  return p.bytes();
}

void UbloxReceiver::onEpoch(const NavSolution& n) {
  if (navigationStopped_) return;
  ++epochs_;
  auto due = [this](uint16_t k) {
    uint8_t r = rateOnOwnPort(k);
    return r > 0 && epochs_ % r == 0;
  };
  const uint16_t out = config_.ports[kOwnPort].outProtoMask;
  if (out & 0x0001) {
    for (uint8_t id : kNavIds) {
      if (due(key(kNav, id))) emit(ubxFrame(kNav, id, navMessage(id, n)));
    }
  }
  if (out & 0x0002) {
    for (const NmeaOut& m : kNmea) {
      if (due(key(kNmeaClass, m.id))) emit(nmeaSentence(m.sentence, n));
    }
  }
}

std::string UbloxReceiver::settingsTextLocked() const {
  std::ostringstream s;
  for (int port = 0; port < kPorts; ++port) s << "prt" << port << "=" << hex(portPayload(port)) << "\n";
  for (const auto& [k, r] : config_.rates) s << "msg=" << hex(msgPayload(k)) << "\n";
  s << "rate=" << config_.measRateMs << " " << config_.navRate << " " << config_.timeRef << "\n";
  s << "ant=" << hex(config_.ant) << "\nsbas=" << hex(config_.sbas) << "\nnav5=" << hex(config_.nav5) << "\n";
  return s.str();
}

void UbloxReceiver::restoreSettingsLocked(const std::string& text) {
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string k = line.substr(0, eq);
    std::vector<uint8_t> b = unhex(line.substr(eq + 1));
    if (k.rfind("prt", 0) == 0 && b.size() == 20 && b[0] < kPorts) {
      Port& p = config_.ports[b[0]];
      p.txReady = ubxU2(&b[2]);
      p.mode = ubxU4(&b[4]);
      p.baudRate = ubxU4(&b[8]);
      p.inProtoMask = ubxU2(&b[12]);
      p.outProtoMask = ubxU2(&b[14]);
    } else if (k == "msg" && b.size() == 8) {
      for (size_t port = 0; port < 6; ++port) config_.rates[key(b[0], b[1])][port] = b[2 + port];
    } else if (k == "rate") {
      unsigned m = 1000, r = 1, t = 1;
      if (sscanf(line.c_str() + eq + 1, "%u %u %u", &m, &r, &t) == 3) {
        config_.measRateMs = static_cast<uint16_t>(m);
        config_.navRate = static_cast<uint16_t>(r);
        config_.timeRef = static_cast<uint16_t>(t);
      }
    } else if (k == "ant" && b.size() == 4) {
      config_.ant = b;
    } else if (k == "sbas" && b.size() == 8) {
      config_.sbas = b;
    } else if (k == "nav5" && b.size() == 36) {
      config_.nav5 = b;
    }
  }
  engine_.setMinElevation(minElevation());
}

}  // namespace sim
