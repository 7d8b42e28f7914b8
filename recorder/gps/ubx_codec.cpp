#include "gps/ubx_codec.h"

#include <cstdio>
#include <cstring>
#include <optional>

#include "core/le_field.h"
#include "core/trace.h"
#include "gps/ubx_debug.h"
#include "platform/platform.h"

#define TAG "UBX__"

namespace ubx {

const uint8_t kPollNav5[8] = {0xB5, 0x62, 0x06, 0x24, 0x00, 0x00, 0x2A, 0x84};
const uint8_t kCfgRst[12] = {0xB5, 0x62, 0x06, 0x04, 0x04, 0x00, 0x00, 0x00, 0x01, 0x00, 0x0F, 0x66};
const uint8_t kCfgPrt[28] = {0xB5, 0x62, 0x06, 0x00, 0x14, 0x00, 0x01, 0x00, 0x00, 0x00, 0xD0, 0x08, 0x00, 0x00,
                             0x80, 0x25, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x9A, 0x79};
const uint8_t kPollPrt[9] = {0xB5, 0x62, 0x06, 0x00, 0x01, 0x00, 0x01, 0x08, 0x22};
const uint8_t kCfgAnt[12] = {0xB5, 0x62, 0x06, 0x13, 0x04, 0x00, 0x01, 0x00, 0x8B, 0x29, 0xD2, 0x10};
const uint8_t kCfgSbas[16] = {0xB5, 0x62, 0x06, 0x16, 0x08, 0x00, 0x01, 0x07,
                              0x02, 0x00, 0x00, 0x02, 0x02, 0x00, 0x32, 0xD9};
const uint8_t kCfgNav5[44] = {0xB5, 0x62, 0x06, 0x24, 0x24, 0x00, 0xFF, 0xFF, 0x00, 0x03, 0x00, 0x00, 0x00, 0x00, 0x10,
                              0x27, 0x00, 0x00, 0x05, 0x00, 0xFA, 0x00, 0xFA, 0x00, 0x64, 0x00, 0x2C, 0x01, 0x6E, 0x00,
                              0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x7E, 0x14};
const uint8_t kMsgTimeutc[11] = {0xB5, 0x62, 0x06, 0x01, 0x03, 0x00, 0x01, 0x21, 0x01, 0x2D, 0x85};
const uint8_t kMsgPosllh[11] = {0xB5, 0x62, 0x06, 0x01, 0x03, 0x00, 0x01, 0x02, 0x01, 0x0E, 0x47};
const uint8_t kMsgSol[11] = {0xB5, 0x62, 0x06, 0x01, 0x03, 0x00, 0x01, 0x06, 0x01, 0x12, 0x4F};
const uint8_t kMsgVelned[11] = {0xB5, 0x62, 0x06, 0x01, 0x03, 0x00, 0x01, 0x12, 0x01, 0x1E, 0x67};
const uint8_t kMsgDop[11] = {0xB5, 0x62, 0x06, 0x01, 0x03, 0x00, 0x01, 0x04, 0x01, 0x10, 0x4B};
const uint8_t kMsgStatus[11] = {0xB5, 0x62, 0x06, 0x01, 0x03, 0x00, 0x01, 0x03, 0x01, 0x0F, 0x49};
const uint8_t kMsgSvinfo[11] = {0xB5, 0x62, 0x06, 0x01, 0x03, 0x00, 0x01, 0x30, 0x01, 0x3C, 0xA3};
const uint8_t kPollMonVer[8] = {0xB5, 0x62, 0x0A, 0x04, 0x00, 0x00, 0x0E, 0x34};

int svinfoChannels(const uint8_t* frame, size_t available) {
  constexpr size_t kFirstBlock = ubxfix::kFrameHead + 8, kBlock = 12;
  if (available < ubxfix::kFrameHead + 5) return 0;
  size_t length = le::get16(frame + 4);
  size_t end = ubxfix::kFrameHead + length;  // the payload's end
  if (end > available) end = available;
  size_t fit = end > kFirstBlock ? (end - kFirstBlock) / kBlock : 0;
  size_t numCh = frame[ubxfix::kFrameHead + 4];
  return static_cast<int>(numCh < fit ? numCh : fit);
}

}  // namespace ubx

namespace {

using namespace ubx;

// The receive state, shared by decoding, the acknowledgement wait and the poll check.
struct RxState {
  int state = 0;
  uint16_t index = 0;
  uint16_t remaining = 0;
  uint8_t cls = 0;
  uint8_t ckA = 0, ckB = 0;
  uint8_t frame[kFrameBufferSize] = {};
};
RxState rx;
uint32_t completion = 0;
// The epoch (GPS time of week, ms) of the NAV frames gathered so far in `completion`.
uint32_t completionEpoch = 0;


// What one byte did: a frame that passed its checksum is `complete`; `result` is its dispatch.
struct Step {
  bool complete = false;
  int result = 0;
};

bool acceptedClass(uint8_t c) {
  switch (c) {
    case kClassNav: case kClassRxm: case kClassInf: case kClassAck:
    case kClassCfg: case kClassMon: case kClassAid: case kClassTim:
      return true;
    default:
      return false;
  }
}

uint16_t payloadLength(const uint8_t* frame) { return le::get16(frame + 4); }

// Copies `n` bytes of a frame into the record; bytes past the frame's own end are zero, so a
// short frame never drags bytes of an earlier frame into the record.
void storeFrame(uint8_t* dst, const uint8_t* frame, size_t n) {
  size_t frameLength = ubxfix::kFrameHead + payloadLength(frame) + 2;
  size_t take = frameLength < n ? frameLength : n;
  memcpy(dst, frame, take);
  memset(dst + take, 0, n - take);
}

int dispatch(const uint8_t* frame, GpsFixRecord* record, int debug) {
  // A frame without payload is a poll (a request for that message), not data: nothing to store.
  if (payloadLength(frame) == 0) return 0;
  switch (frame[2]) {
    case kClassNav: return ProcessClassNav(frame, record, debug);
    case kClassAck: return ProcessClassAck(frame, record);
    case kClassCfg: return ProcessClassCfg(frame, record);
    case kClassMon: return 1;
    default: return 0;
  }
}

void restart() {
  rx.state = 0;
  rx.index = 0;
}

Step step(uint8_t byte, GpsFixRecord* record, int debug) {
  Step s;
  switch (rx.state) {
    case 0:
      if (byte != kSync1) return s;
      rx.frame[0] = byte;
      rx.index = 1;
      rx.state = 1;
      break;
    case 1:
      if (byte != kSync2) {
        restart();
        return s;
      }
      rx.frame[rx.index++] = byte;
      rx.state = 2;
      break;
    case 2:
      if (!acceptedClass(byte)) {
        restart();
        return s;
      }
      rx.frame[rx.index++] = byte;
      rx.cls = byte;
      rx.state = 3;
      break;
    case 3:
    case 4:
      rx.frame[rx.index++] = byte;
      rx.state++;
      break;
    case 5:
      rx.frame[rx.index++] = byte;
      rx.remaining = payloadLength(rx.frame);
      rx.state = rx.remaining ? 6 : 7;  // an empty payload goes straight to the checksum
      break;
    case 6:
      rx.frame[rx.index++] = byte;
      if (--rx.remaining == 0) rx.state = 7;
      break;
    case 7:
      rx.frame[rx.index++] = byte;
      rx.ckA = byte;
      rx.state = 8;
      break;
    default: {  // 8: CK_B
      rx.frame[rx.index++] = byte;
      rx.ckB = byte;
      uint8_t a, b;
      GetCheckSum(rx.frame, rx.index, &a, &b);
      restart();
      if (a == rx.ckA && b == rx.ckB) {
        s.complete = true;
        s.result = dispatch(rx.frame, record, debug);
      }
      return s;
    }
  }
  if (rx.index >= kFrameBufferSize) restart();  // too long for the buffer: dropped
  return s;
}

// An ACK frame's payload names the class and id it answers.
bool ackNames(const uint8_t* frame, uint8_t cls, uint8_t id) {
  return frame[2] == kClassAck && payloadLength(frame) >= 2 && frame[6] == cls && frame[7] == id;
}

void traceAck(const uint8_t* frame) {
  if (frame[3] == kAckAck) {
    TRACE(TAG, "Recieved Ack ClassId %02X, MsgId %02X, ReturnClassId %02X, ReturnMsgId %02X\n", frame[2], frame[3],
          frame[6], frame[7]);
  } else {
    TRACE(TAG, "Recieved Nak!!!! ClassId %02X, MsgId %02X, ReturnClassId %02X, ReturnMsgId %02X\n", frame[2],
          frame[3], frame[6], frame[7]);
  }
}

bool writeWhole(int port, ComWriteFn write, const uint8_t* frame, int n) {
  return write(port, frame, n) >= n;
}

// The step 4 check: the receiver's answer to the CFG-PRT poll must be acknowledged and show the
// settings that were sent.
enum class PollResult { Passed, Failed };

bool prtMatches(const uint8_t* frame) {
  const uint8_t* got = frame + ubxfix::kFrameHead;
  const uint8_t* sent = kCfgPrt + ubxfix::kFrameHead;
  if (payloadLength(frame) < 16) {
    TRACE(TAG, "CFG_PRT Polling CONFIG : mode FAIL");
    return false;
  }
  if ((got[4] & 0xC0) != (sent[4] & 0xC0)) {
    TRACE(TAG, "CFG_PRT Polling CONFIG : mode FAIL");
    return false;
  }
  if (memcmp(got + 8, sent + 8, 4) != 0) {
    TRACE(TAG, "CFG_PRT Polling CONFIG : baudRate FAIL");
    return false;
  }
  if (memcmp(got + 12, sent + 12, 2) != 0) {
    TRACE(TAG, "CFG_PRT Polling CONFIG : inProtoMask FAIL");
    return false;
  }
  if (memcmp(got + 14, sent + 14, 2) != 0) {
    TRACE(TAG, "CFG_PRT Polling CONFIG : outProtoMask FAIL");
    return false;
  }
  TRACE(TAG, "CFG_PRT Polling CONFIG : OK");
  return true;
}

// Another CFG answer is held against the payload that was sent, over the sent payload's length
// (never past either frame).
bool otherCfgMatches(const uint8_t* frame) {
  constexpr size_t kSentPayload = sizeof(kCfgPrt) - ubxfix::kFrameHead - 2;
  return payloadLength(frame) >= kSentPayload &&
         memcmp(frame + ubxfix::kFrameHead, kCfgPrt + ubxfix::kFrameHead, kSentPayload) == 0;
}

// The frames that answer a command: at most five reads, `pauseUs` apart while bytes come, each
// whole frame handed to `onFrame` until it gives a verdict; none from any frame: nullopt.
template <class OnFrame>
auto readAnswers(int port, ComReadFn read, useconds_t pauseUs, OnFrame onFrame) -> decltype(onFrame(nullptr)) {
  static uint8_t buffer[kFrameBufferSize];
  GpsFixRecord own{};
  for (int reads = 0; reads < 5; ++reads) {
    int n = read(port, buffer, static_cast<int>(sizeof buffer));
    for (int i = 0; i < n; ++i) {
      Step s = step(buffer[i], &own, 0);
      if (!s.complete) continue;
      const uint8_t* f = rx.frame;
      TRACE(TAG, "Recieved Message ClassId %02X, MsgId %02X\n", f[2], f[3]);
      if (auto verdict = onFrame(f)) return verdict;
    }
    if (n > 0) plat::usleep(pauseUs);
  }
  return std::nullopt;
}

PollResult waitPoll(int port, ComReadFn read) {
  bool acknowledged = false, matched = false;
  std::optional<PollResult> verdict = readAnswers(port, read, 500000, [&](const uint8_t* f) -> std::optional<PollResult> {
    if (f[2] == kClassAck && payloadLength(f) >= 2 && f[6] == kClassCfg) {
      traceAck(f);
      if (f[3] != kAckAck) return PollResult::Failed;
      acknowledged = true;
    } else if (f[2] == kClassCfg) {
      TRACE(TAG, "Recieved UBX_CLASS_CFG ClassId %02X, MsgId %02X \n", f[2], f[3]);
      if (f[3] == 0x00) {
        if (prtMatches(f)) matched = true;
      } else if (otherCfgMatches(f)) {
        matched = true;
      } else {
        TRACE(TAG, "Received data is different from sent data ");
      }
    }
    if (acknowledged && matched) return PollResult::Passed;
    return std::nullopt;
  });
  if (verdict) return *verdict;
  TRACE(TAG, "~UbxWaitPoll()");
  return PollResult::Failed;
}

bool sendAndWait(int port, ComReadFn read, ComWriteFn write, const uint8_t* frame, int n) {
  if (!writeWhole(port, write, frame, n)) return false;
  if (UbxWaitAck(port, read, write, frame[2], frame[3]) != 0) {
    TRACE(TAG, "failed to UbxWaitAck()");
    return false;
  }
  return true;
}

// Steps 3 and 4: port settings, then their poll, at most six times.
bool configurePort(int port, ComReadFn read, ComWriteFn write) {
  for (int retry = 6;;) {
    if (!writeWhole(port, write, kCfgPrt, sizeof kCfgPrt)) return false;
    plat::usleep(200000);
    if (!writeWhole(port, write, kPollPrt, sizeof kPollPrt)) return false;
    if (waitPoll(port, read) == PollResult::Passed) return true;
    TRACE(TAG, "failed to UbxWaitAck()- retry_cnt: %d \n", retry);
    if (--retry <= 0) return false;
  }
}

}  // namespace

void GetCheckSum(const uint8_t* frame, int frameLength, uint8_t* a, uint8_t* b) {
  uint8_t ca = 0, cb = 0;
  for (int i = 2; frameLength >= 5 && i <= frameLength - 3; ++i) {
    ca = static_cast<uint8_t>(ca + frame[i]);
    cb = static_cast<uint8_t>(cb + ca);
  }
  *a = ca;
  *b = cb;
}

int UbxInit(void* opaque) {
  TRACE(TAG, "UbxInit(%p)\n", opaque);
  rx.state = 0;
  return 1;
}

void UbxResetForTest() {
  restart();
  completion = 0;
}

int ProcessUBX(uint8_t byte, GpsFixRecord* record, int debug) { return step(byte, record, debug).result; }

int ProcessClassNav(const uint8_t* frame, GpsFixRecord* record, int debug) {
  struct Slot {
    uint8_t id;
    uint32_t bit;
    size_t offset, size;
  };
  static constexpr Slot kSlots[] = {
      {0x02, kBitPosllh, ubxfix::kPosllh, ubxfix::kPosllhSize},
      {0x03, kBitStatus, ubxfix::kStatus, ubxfix::kStatusSize},
      {0x12, kBitVelned, ubxfix::kVelned, ubxfix::kVelnedSize},
      {0x21, kBitTimeutc, ubxfix::kTimeutc, ubxfix::kTimeutcSize},
      {0x30, kBitSvinfo, ubxfix::kSvinfo, ubxfix::kSvinfoSize},
      {0x06, kBitSol, ubxfix::kSol, ubxfix::kSolSize},
      {0x04, kBitDop, ubxfix::kDop, ubxfix::kDopSize},
  };
  FILE* file = nullptr;
  if (debug == 1) {
    file = plat::fopen("/mnt/log/ubx_binary.txt", "a");
    if (!file) TRACE(TAG, "file open error ubx_binary.txt");
  }
  const Slot* slot = nullptr;
  for (const Slot& s : kSlots) {
    if (s.id == frame[3]) slot = &s;
  }
  if (!slot) {
    TRACE(TAG, "@@@@@@@@@@@@ Unknown msg ID %X\n", frame[3]);
    if (file) fclose(file);
    return 0;
  }
  storeFrame(record->bytes + slot->offset, frame, slot->size);
  if (debug == 1) {
    ubx::dumpNav(record->bytes + slot->offset, frame, file);
    if (file) fclose(file);
  }
  return static_cast<int>(slot->bit);
}

int ProcessClassAck(const uint8_t* frame, GpsFixRecord* record) {
  storeFrame(record->bytes, frame, 10);
  return 1;
}

int ProcessClassCfg(const uint8_t* frame, GpsFixRecord* record) {
  size_t n;
  switch (frame[3]) {
    case 0x00: n = 28; break;
    case 0x01: n = 11; break;
    case 0x04: n = 12; break;
    case 0x06: n = 10; break;
    case 0x13: n = 12; break;
    case 0x16: n = 16; break;
    case 0x24: n = 44; break;
    default:
      TRACE(TAG, "unknown msg(%02X %02X %02X %02X)\n", frame[0], frame[1], frame[2], frame[3]);
      return 0;
  }
  storeFrame(record->bytes, frame, n);
  return 1;
}

namespace {

// Every NAV message starts with the time of week of the epoch it describes. A frame of another
// epoch than the ones gathered so far starts the set again, so that a completed record never
// joins the position of one second with the time of the previous one (the set would otherwise
// complete in the middle of a burst whenever the first frames read were not an epoch's first).
void gatherNav(uint32_t bit) {
  if (payloadLength(rx.frame) >= 4) {
    uint32_t epoch = le::get32(rx.frame + ubxfix::kFrameHead);
    if (completion != 0 && epoch != completionEpoch) completion = 0;
    completionEpoch = epoch;
  }
  completion |= bit;
}

}  // namespace

int UbxDecode(const uint8_t* bytes, int count, GpsFixRecord* record, int debug) {
  for (int i = 0; i < count; ++i) {
    Step s = step(bytes[i], record, debug);
    if (!s.complete || s.result == 0) continue;
    if (rx.frame[2] == kClassNav) {
      gatherNav(static_cast<uint32_t>(s.result));
    } else if (rx.frame[2] == kClassAck || rx.frame[2] == kClassCfg) {
      // Such a frame took the position's place in the record: the set is complete only once a
      // position has arrived again, so that no record goes out with an answer where its
      // position belongs.
      completion &= ~static_cast<uint32_t>(kBitPosllh);
    }
  }
  if ((completion & kAllNav) == kAllNav) {
    completion = 0;
    return 1;
  }
  return 0;
}

int UbxWaitAck(int port, ComReadFn read, ComWriteFn write, uint8_t cls, uint8_t id) {
  (void)write;
  std::optional<int> verdict = readAnswers(port, read, 100000, [&](const uint8_t* f) -> std::optional<int> {
    if (!ackNames(f, cls, id)) return std::nullopt;
    if (f[3] == kAckAck) {
      traceAck(f);
      return 0;
    }
    if (f[3] == kAckNak) {
      traceAck(f);
      return -1;
    }
    return std::nullopt;
  });
  return verdict.value_or(-1);
}

int UbxProbe(int port, ComReadFn read, ComWriteFn write) {
  TRACE(TAG, "UbxProbe()");
  if (!writeWhole(port, write, kPollNav5, sizeof kPollNav5)) return 0;
  if (UbxWaitAck(port, read, write, kClassCfg, 0x24) == 0) return 1;
  TRACE(TAG, "failed to UbxWaitAck()");
  return 0;
}

int UbxConfig(int port, ComReadFn read, ComWriteFn write) {
  TRACE(TAG, "UbxConfig()");
  if (!sendAndWait(port, read, write, kPollNav5, sizeof kPollNav5)) return 0;
  if (!writeWhole(port, write, kCfgRst, sizeof kCfgRst)) return 0;
  plat::usleep(200000);  // the restart: no answer is awaited
  if (!configurePort(port, read, write)) return 0;
  if (!sendAndWait(port, read, write, kMsgTimeutc, sizeof kMsgTimeutc)) return 0;
  if (!sendAndWait(port, read, write, kCfgAnt, sizeof kCfgAnt)) return 0;
  TRACE(TAG, "@@ Datum : WGS84");
  if (!sendAndWait(port, read, write, kCfgSbas, sizeof kCfgSbas)) return 0;
  if (!sendAndWait(port, read, write, kCfgNav5, sizeof kCfgNav5)) return 0;
  static const uint8_t* const kRates[] = {kMsgPosllh, kMsgSol, kMsgVelned, kMsgTimeutc,
                                          kMsgDop, kMsgStatus, kMsgSvinfo};
  for (const uint8_t* frame : kRates) {
    if (!sendAndWait(port, read, write, frame, 11)) return 0;
  }
  if (!writeWhole(port, write, kPollMonVer, sizeof kPollMonVer)) return 0;
  TRACE(TAG, "~UbxConfig()");
  return 1;
}
