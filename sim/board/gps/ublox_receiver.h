// A u-blox 6 class GPS receiver on its first UART, written from the published UBX protocol.
//
// At power-on it speaks NMEA at 9600 baud 8N1: GGA, GLL, GSA, GSV, RMC and VTG once a second,
// and takes UBX and NMEA input. It answers UBX input as the protocol describes:
//   - a poll of a CFG message (an empty payload, or CFG-PRT with a port, CFG-MSG with a class
//     and id) returns the message, then ACK-ACK;
//   - a valid set returns ACK-ACK; a set of the wrong length or with values out of range, and a
//     CFG id it does not know, return ACK-NAK; frames with a bad checksum are ignored;
//   - CFG-PRT changes a port's protocols and speed once its acknowledgement has gone out;
//   - CFG-MSG sets a message's rate per port (0 off, n once every n solutions);
//   - CFG-RATE sets the navigation period; CFG-ANT, CFG-SBAS, CFG-NAV5 and CFG-DAT are kept
//     and acknowledged (NAV5's minimum elevation decides which satellites are used);
//   - CFG-CFG clears, saves and loads the permanent configuration;
//   - CFG-RST restarts the receiver without an acknowledgement: a hardware or software reset is
//     deaf and silent for 150 ms and comes back with the permanent configuration, a GPS-only
//     reset keeps the configuration; navBbrMask 0 is a hot start, 1 warm, 0xFFFF cold;
//   - MON-VER answers with its software and hardware versions; a NAV message with an empty
//     payload is a poll of it.
// NMEA input: $PUBX,40 sets an NMEA message's rates, $PUBX,41 a port's protocols and speed.
//
// Once asked, it sends NAV-STATUS, NAV-DOP, NAV-POSLLH, NAV-VELNED, NAV-TIMEUTC, NAV-SOL and
// NAV-SVINFO after each solution, in that order, with values from the vehicle and the true time
// (a decoder that reports at NAV-SOL, as gpsd does, then has the epoch's time and position
// together).
#pragma once

#include <array>
#include <map>
#include <string>
#include <vector>

#include "board/gps/gps_receiver.h"
#include "board/gps/ubx_frame.h"

namespace sim {

class UbloxReceiver : public GpsReceiver {
 public:
  static constexpr int kPorts = 5;       // DDC, UART1, UART2, USB, SPI
  static constexpr int kOwnPort = 1;     // the UART on the board's line
  static constexpr int64_t kResetPauseNs = 150 * 1000 * 1000;
  static constexpr const char* kSoftwareVersion = "7.03 (45969)";
  static constexpr const char* kHardwareVersion = "00040007";

  struct Port {
    uint16_t txReady = 0;
    uint32_t mode = 0x000008D0;  // 8 bits, no parity, 1 stop bit
    uint32_t baudRate = 9600;
    uint16_t inProtoMask = 0x0007;   // UBX, NMEA, RTCM
    uint16_t outProtoMask = 0x0003;  // UBX, NMEA
  };
  struct Config {
    std::array<Port, kPorts> ports;
    std::map<uint16_t, std::array<uint8_t, 6>> rates;  // (class << 8 | id) -> rate per port
    uint16_t measRateMs = 1000, navRate = 1, timeRef = 1;
    std::vector<uint8_t> ant = {0x1B, 0x00, 0x8B, 0xA9};
    std::vector<uint8_t> sbas = {0x01, 0x03, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00};
    std::vector<uint8_t> nav5;
    uint16_t datum = 0;
    Config();
  };

  explicit UbloxReceiver(const Options& options);
  const char* kind() const override { return "ubx"; }
  Config config() const;

 protected:
  LineFormat powerOnFormat() const override;
  int64_t epochPeriodNs() const override;
  void onInput(const uint8_t* bytes, size_t count) override;
  void onEpoch(const NavSolution& n) override;
  void onRestart() override;
  std::string settingsTextLocked() const override;
  void restoreSettingsLocked(const std::string& text) override;

 private:
  void onUbx(uint8_t cls, uint8_t id, const std::vector<uint8_t>& payload);
  void onCfg(uint8_t id, const std::vector<uint8_t>& payload);
  void onNmeaInput(const std::string& sentence);
  // Acknowledges a command; the instant the acknowledgement has crossed.
  int64_t ack(uint8_t cls, uint8_t id, bool accepted);
  void sendCfg(uint8_t id, const std::vector<uint8_t>& payload);
  bool setPort(int port, const Port& p);
  std::vector<uint8_t> navMessage(uint8_t id, const NavSolution& n) const;
  std::vector<uint8_t> portPayload(int port) const;
  std::vector<uint8_t> msgPayload(uint16_t key) const;
  uint8_t rateOnOwnPort(uint16_t key) const;
  int minElevation() const;

  Config config_;
  Config permanent_;
  UbxParser parser_;
  std::string nmeaInput_;
  uint64_t epochs_ = 0;
  bool navigationStopped_ = false;
};

}  // namespace sim
