// What the board's GPS receiver models have in common: a peer on the board's serial port that
// sees only the bytes on its line, works out a navigation solution once per epoch on the
// simulated clock (true UTC, the vehicle's position), writes its output into a transmit buffer
// (a message that does not fit is dropped, as a receiver whose line is too slow drops them),
// restarts when told, loses the sky in a tunnel, and can replay a captured byte stream in place
// of its own output.
//
// The protocols are the subclasses' (ublox_receiver, furuno_receiver, nmea_receiver).
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "board/gps/gps_engine.h"
#include "board/serial/serial_line.h"

namespace sim {

class GpsReceiver : public LinePeer, public std::enable_shared_from_this<GpsReceiver> {
 public:
  static constexpr size_t kTransmitBuffer = 4096;
  static constexpr int64_t kOutputLatencyNs = 30 * 1000 * 1000;  // from the epoch to its first byte

  struct Options {
    std::shared_ptr<Vehicle> vehicle;
    int64_t worldAtZeroNs = 0;
    int64_t ttffNs = 30LL * 1000 * 1000 * 1000;  // time to first fix after a cold start
    // The receiver had power before this boot of the board (a reboot keeps it powered): the
    // UTC instant it started at, and whether it had a fix; -1: it powers on with the board.
    int64_t poweredSinceUtcNs = -1;
    bool hadFix = false;
  };

  explicit GpsReceiver(const Options& options);
  ~GpsReceiver() override;

  virtual const char* kind() const = 0;
  // Puts the receiver on the line and starts its epochs.
  void start(SerialLine& line);
  void stop();

  // A tunnel: no sky, no position; the time goes on.
  void setSkyLost(bool lost);
  // Sends a captured byte stream at line speed in place of the receiver's own output; commands
  // are still answered, between the stream's messages.
  void replay(std::vector<uint8_t> bytes);
  bool replaying() const;
  // When the receiver last started (UTC), and whether it has had a fix since it has power.
  int64_t startedAt() const;
  bool hadFix() const;
  // What the receiver keeps while it has power (its start, whether it had a fix, its settings),
  // as text; `listener` gets it whenever it changes (the board keeps it across a reboot).
  std::string stateText() const;
  void onStateChange(std::function<void(const std::string&)> listener);
  // Takes back a state saved before (call before start()).
  void restoreState(const std::string& text);

  void fromBoard(const LineByte* bytes, size_t count) override;

 protected:
  // With mutex_ held.
  virtual LineFormat powerOnFormat() const { return LineFormat{}; }
  virtual int64_t epochPeriodNs() const { return 1000LL * 1000 * 1000; }
  virtual void onInput(const uint8_t* bytes, size_t count) = 0;
  virtual void onEpoch(const NavSolution& n) = 0;
  // A restart asked for by a command: the receiver is deaf and silent for `pauseNs`.
  virtual void onRestart() {}
  // The protocol's settings as text lines "key=value", and back.
  virtual std::string settingsTextLocked() const { return ""; }
  virtual void restoreSettingsLocked(const std::string& text) { (void)text; }
  // Tells the listener that the state changed.
  void stateChanged();

  // Periodic output: dropped when it does not fit, left out while replaying or restarting.
  void emit(const std::vector<uint8_t>& message);
  void emit(const std::string& message) { emit(std::vector<uint8_t>(message.begin(), message.end())); }
  // An answer to a command (dropped only when the buffer is full); the instant its last byte
  // will have crossed.
  int64_t answer(const std::vector<uint8_t>& message);
  void restart(GpsEngine::Start kind, int64_t pauseNs);
  // Switches the line's format at an elapsed instant (after an answer has gone out at the old).
  void switchFormatAt(const LineFormat& format, int64_t elapsedNs);
  const NavSolution& lastSolution() const { return last_; }
  void note(const std::string& what) const;

  mutable std::mutex mutex_;
  SerialLine* line_ = nullptr;
  GpsEngine engine_;
  NavSolution last_;

 private:
  std::string stateTextLocked() const;
  void scheduleEpoch();
  void epoch(int64_t utcNs);
  void pumpReplay();

  Options options_;
  static constexpr int64_t kLongestCatchUpNs = 5LL * 1000 * 1000 * 1000;
  bool stopped_ = true;
  int64_t lastEpoch_ = 0;  // UTC of the last epoch scheduled
  int64_t silentUntil_ = 0;  // elapsed: restarting, deaf and mute
  std::function<void(const std::string&)> stateListener_;
  std::deque<std::vector<uint8_t>> replay_;
  bool replayPumpPending_ = false;
  uint64_t dropped_ = 0;
};

// Splits a captured byte stream into messages (UBX frames, NMEA sentences, Furuno frames, and
// runs of other bytes), so that answers can go between them.
std::vector<std::vector<uint8_t>> splitCapturedStream(const std::vector<uint8_t>& bytes);

}  // namespace sim
