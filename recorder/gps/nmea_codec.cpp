#include "gps/nmea_codec.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/trace.h"

#define GSV_TAG "GPGSV___"
#define KVOXL_TAG "KVOXL___"

using nmeafix::GgaRecord;
using nmeafix::GsvRecord;
using nmeafix::KvoxlRecord;
using nmeafix::RmcRecord;

namespace {

constexpr int kScanLimit = 960;  // bytes of a block the receiver looks at (the last ones)
constexpr int kSlots = 25;
constexpr int kSlotWidth = 25;
constexpr int kMinFields = 5;

NmeaDecoderState decoder;
GgaRecord gga;
GsvRecord gsv;
RmcRecord rmc;
KvoxlRecord kvoxl;

using Slots = char[kSlots][kSlotWidth];

// The field slots of a sentence. Missing fields of GGA and KVOXL read as 0 from the 0xFF fill;
// GSV and RMC start from empty slots, so a short sentence never takes fields of the one before.
// A sentence with fewer than kMinFields fields is refused: false, after `complaint` is traced.
bool splitFields(const char* fields, Slots& slots, bool fillFF, const char* complaint, int* stored) {
  memset(slots, fillFF ? 0xFF : 0, sizeof slots);
  *stored = GetFieldAll(fields, &slots[0][0], kSlots, kSlotWidth);
  if (*stored < kMinFields) {
    perror(complaint);
    return false;
  }
  return true;
}

long number(const char* s) { return strtol(s, nullptr, 10); }
double real(const char* s) { return strtod(s, nullptr); }

// A two-digit group of a time or date field: the two characters alone.
int twoDigits(const char* s) {
  char group[3] = {s[0], s[0] != '\0' ? s[1] : '\0', '\0'};
  return static_cast<int>(strtol(group, nullptr, 10));
}

// A number truncated to a byte; what does not fit a byte (or is not a number) is 0.
uint8_t truncatedByte(double v) {
  if (!std::isfinite(v) || v <= -1.0 || v >= 256.0) return 0;
  return static_cast<uint8_t>(static_cast<int>(v));
}

void bump(le::U16& counter) { counter.set(static_cast<uint16_t>(counter.get() + 1)); }

// The hhmmss time and the position fields (latitude, N/S, longitude, E/W) that GGA and RMC
// share, each sentence at its own place.
template <class Record>
void readTime(const char* hhmmss, Record* r) {
  r->hour = static_cast<uint8_t>(twoDigits(hhmmss));
  r->minute = static_cast<uint8_t>(twoDigits(hhmmss + 2));
  r->second = static_cast<uint8_t>(twoDigits(hhmmss + 4));
}

template <class Record>
void readPosition(const char (*from)[kSlotWidth], Record* r) {
  r->latitude.set(real(from[0]));
  r->ns = from[1][0];
  r->longitude.set(real(from[2]));
  r->ew = from[3][0];
}

// ---- sentence text -------------------------------------------------------------------------

// One sentence being written: pieces appended with bounds, then the checksum and CR LF.
class SentenceText {
 public:
  __attribute__((format(printf, 2, 3))) void add(const char* fmt, ...) {
    if (!ok_) return;
    va_list ap;
    va_start(ap, fmt);
    int n = vsnprintf(text_ + len_, sizeof text_ - len_, fmt, ap);
    va_end(ap);
    if (n < 0 || static_cast<size_t>(n) >= sizeof text_ - len_) {
      ok_ = false;
      return;
    }
    len_ += static_cast<size_t>(n);
  }
  // A character field; a NUL character is written as an empty field, never into the text.
  void addChar(char c) {
    if (c != '\0') add("%c", c);
  }
  // Ends the sentence with its checksum and puts it at `out` if it fits `room` with its NUL:
  // the length written, else 0.
  int finish(char* out, size_t room) {
    add("%02X\r\n", MakeCheckSum(text_, static_cast<int>(len_)));
    if (!ok_ || len_ + 1 > room) return 0;
    memcpy(out, text_, len_ + 1);
    return static_cast<int>(len_);
  }

 private:
  char text_[256] = {};
  size_t len_ = 0;
  bool ok_ = true;
};

bool timeAndPositionEmpty(uint8_t h, uint8_t m, uint8_t s, double lat, double lon) {
  return h == 0 && m == 0 && s == 0 && lat == 0.0 && lon == 0.0;
}

// "llll.llll,a,yyyyy.yyyy,a": the position as GGA and RMC write it.
void addPosition(SentenceText& s, double lat, char ns, double lon, char ew) {
  s.add("%09.4f,", lat);
  s.addChar(ns);
  s.add(",%010.4f,", lon);
  s.addChar(ew);
}

}  // namespace

const NmeaSentence nmea[] = {
    {"GPGGA", &gga, ResetGPGGA, DecodeGPGGA, EncodeGPGGA},
    {"GPGSV", &gsv, ResetGPGSV, DecodeGPGSV, EncodeGPGSV},
    {"GPRMC", &rmc, ResetGPRMC, DecodeGPRMC, EncodeGPRMC},
    {"KVOXL", &kvoxl, ResetKVOXL, DecodeKVOXL, EncodeKVOXL},
};
const int total_messages = sizeof nmea / sizeof nmea[0];

const NmeaDecoderState& NmeaDecoder() { return decoder; }
const GgaRecord& NmeaGga() { return gga; }
const GsvRecord& NmeaGsv() { return gsv; }
const RmcRecord& NmeaRmc() { return rmc; }
const KvoxlRecord& NmeaKvoxl() { return kvoxl; }

// ---- splitting and checksum ------------------------------------------------------------------

int GetAField(const char* text, char* slot, int width) {
  int len = 0;
  while (text[len] != '\0' && text[len] != ',' && text[len] != '*') ++len;
  int kept = len < width - 1 ? len : width - 1;
  memcpy(slot, text, static_cast<size_t>(kept));
  slot[kept] = '\0';
  return len;
}

int GetFieldAll(const char* text, char* slots, int count, int width) {
  if (text == nullptr || slots == nullptr || count <= 0 || width <= 0) return -1;
  int stored = 0;
  for (const char* p = text; *p != '\0' && *p != '*'; ++p) {
    if (*p != ',') continue;
    if (p[1] == '\0') break;
    if (stored < count) {
      GetAField(p + 1, slots + static_cast<size_t>(stored) * static_cast<size_t>(width), width);
      ++stored;
    }
  }
  return stored;
}

uint8_t MakeCheckSum(const char* text, int length) {
  uint8_t sum = 0;
  bool started = false;
  for (int i = 0; i < length && text[i] != '\0'; ++i) {
    char c = text[i];
    if (c == '$') {
      sum = 0;
      started = true;
    } else if (started) {
      if (c == '*') break;
      sum ^= static_cast<uint8_t>(c);
    }
  }
  return sum;
}

// ---- resets ----------------------------------------------------------------------------------

void ResetGPGGA(void* record) {
  GgaRecord* r = static_cast<GgaRecord*>(record);
  memset(r, 0, sizeof *r);
  r->altitudeUnit = 'M';
  r->geoidUnit = 'M';
}

void ResetGPGSV(void* record) {
  GsvRecord* r = static_cast<GsvRecord*>(record);
  memset(r, 0, sizeof *r);
}

void ResetGPRMC(void* record) {
  RmcRecord* r = static_cast<RmcRecord*>(record);
  memset(r, 0, sizeof *r);
  r->status = 'V';
  r->day = 1;
  r->month = 1;
  r->year.set(2000);
}

// Only the two first values and X: the update counter goes on, so a record is copied to the fix
// again only once a new sentence has come.
void ResetKVOXL(void* record) {
  KvoxlRecord* r = static_cast<KvoxlRecord*>(record);
  r->value1 = 0;
  r->value2 = 0;
  r->x.set(0);
}

// ---- decoders --------------------------------------------------------------------------------

int DecodeGPGGA(const char* fields, void* record) {
  GgaRecord* r = static_cast<GgaRecord*>(record);
  Slots f;
  int n;
  if (!splitFields(fields, f, true, "GetFieldAll", &n)) return -1;
  readTime(f[0], r);
  readPosition(f + 1, r);
  r->quality = static_cast<uint8_t>(f[5][0] - '0');
  r->satellites = static_cast<uint8_t>(twoDigits(f[6]));
  r->hdop.set(real(f[7]));
  r->altitude.set(real(f[8]));
  r->altitudeUnit = f[9][0];
  r->geoidSeparation.set(real(f[10]));
  r->geoidUnit = f[11][0];
  bump(r->counter);
  return 0;
}

int DecodeGPGSV(const char* fields, void* record) {
  GsvRecord* r = static_cast<GsvRecord*>(record);
  Slots f;
  int n;
  if (!splitFields(fields, f, false, "GetFieldAll", &n)) return -1;
  long messages = number(f[0]);
  if (messages < 1 || messages > nmeafix::kGsvMaxMessages) return -1;
  if (messages > 8) {
    TRACE(GSV_TAG, "Number of GPGSV Messages : %ld\n", messages);
    return -1;
  }
  long m = number(f[1]);
  if (m < 1 || m > nmeafix::kGsvMaxMessages) {
    TRACE(GSV_TAG, "Msg Num : %ld\n", m);
    return -1;
  }
  r->messages = static_cast<uint8_t>(messages);
  r->inView.set(static_cast<uint16_t>(number(f[2])));
  for (int j = 0; j < nmeafix::kGsvPerMessage; ++j) {
    nmeafix::GsvSatellite& s = r->satellite[m - 1][j];
    s.prn.set(static_cast<uint16_t>(number(f[3 + 4 * j])));
    s.elevation.set(static_cast<int16_t>(number(f[4 + 4 * j])));
    s.azimuth.set(static_cast<int16_t>(number(f[5 + 4 * j])));
    s.snr.set(static_cast<int16_t>(number(f[6 + 4 * j])));
  }
  bump(r->counter);
  return 0;
}

int DecodeGPRMC(const char* fields, void* record) {
  RmcRecord* r = static_cast<RmcRecord*>(record);
  Slots f;
  int n;
  if (!splitFields(fields, f, false, "ProcessGPRMC:GetFieldAll", &n)) return -1;
  readTime(f[0], r);
  r->status = f[1][0];
  readPosition(f + 2, r);
  r->speedKnots.set(real(f[6]));
  r->course.set(real(f[7]));
  r->day = static_cast<uint8_t>(twoDigits(f[8]));
  r->month = static_cast<uint8_t>(twoDigits(f[8] + 2));
  r->year.set(static_cast<uint16_t>(2000 + twoDigits(f[8] + 4)));
  r->variation = truncatedByte(real(f[9]));
  r->variationDir = f[10][0];
  bump(r->counter);
  return 0;
}

int DecodeKVOXL(const char* fields, void* record) {
  TRACE(KVOXL_TAG, "DecodeKVOXL()");
  if (record == nullptr) return -1;
  TRACE(KVOXL_TAG, "Start ProcessKVOXL ");
  KvoxlRecord* r = static_cast<KvoxlRecord*>(record);
  Slots f;
  int n;
  if (!splitFields(fields, f, true, "GetFieldAll", &n)) return -1;
  TRACE(KVOXL_TAG, "Start1: ProcessKVOXL  %d \n", n);
  r->value1 = static_cast<uint8_t>(number(f[0]));
  r->value2 = static_cast<uint8_t>(number(f[1]));
  r->x.set(static_cast<int16_t>(number(f[2])));
  r->y.set(static_cast<int16_t>(number(f[3])));
  r->z.set(static_cast<int16_t>(number(f[4])));
  bump(r->counter);
  return 0;
}

// ---- encoders --------------------------------------------------------------------------------

int EncodeGPGGA(char* out, size_t room, const GpsFixRecord* fix) {
  const GgaRecord& r = nmeaRecords(*fix).gga;
  double lat = r.latitude.get(), lon = r.longitude.get();
  if (timeAndPositionEmpty(r.hour, r.minute, r.second, lat, lon)) return 0;
  SentenceText s;
  s.add("$GPGGA,%02d%02d%02d,", r.hour, r.minute, r.second);
  addPosition(s, lat, r.ns, lon, r.ew);
  s.add(",%1d,%02d,%2.1f,%.1f,M,%.1f,M,,0*", r.quality, r.satellites, r.hdop.get(), r.altitude.get(),
        r.geoidSeparation.get());
  return s.finish(out, room);
}

int EncodeGPGSV(char* out, size_t room, const GpsFixRecord* fix) {
  const GsvRecord& r = nmeaRecords(*fix).gsv;
  // The record holds nine messages; a count beyond them has nothing behind it to write.
  int messages = r.messages < nmeafix::kGsvMaxMessages ? r.messages : nmeafix::kGsvMaxMessages;
  const size_t start = strnlen(out, room);  // GSV lines go at the end of the text already there
  size_t total = start;
  for (int m = 1; m <= messages; ++m) {
    SentenceText s;
    s.add("$GPGSV,%d,%d,%02d", r.messages, m, r.inView.get());
    for (int j = 0; j < nmeafix::kGsvPerMessage; ++j) {
      const nmeafix::GsvSatellite& sat = r.satellite[m - 1][j];
      s.add(",%02d,%02d,%03d,%02d", sat.prn.get(), sat.elevation.get(), sat.azimuth.get(), sat.snr.get());
    }
    s.add("*");
    int n = total < room ? s.finish(out + total, room - total) : 0;
    if (n == 0) break;
    total += static_cast<size_t>(n);
  }
  return static_cast<int>(total - start);
}

int EncodeGPRMC(char* out, size_t room, const GpsFixRecord* fix) {
  const RmcRecord& r = nmeaRecords(*fix).rmc;
  double lat = r.latitude.get(), lon = r.longitude.get();
  if (timeAndPositionEmpty(r.hour, r.minute, r.second, lat, lon)) return 0;
  SentenceText s;
  s.add("$GPRMC,%02d%02d%02d,", r.hour, r.minute, r.second);
  s.addChar(r.status);
  s.add(",");
  addPosition(s, lat, r.ns, lon, r.ew);
  s.add(",%.1f,%.1f,%02d%02d%02d,,", r.speedKnots.get(), r.course.get(), r.day, r.month, r.year.get() % 100);
  s.addChar(r.encodedDir);
  s.add(",*");
  return s.finish(out, room);
}

int EncodeKVOXL(char* out, size_t room, const GpsFixRecord* fix) {
  const KvoxlRecord& r = nmeaRecords(*fix).kvoxl;
  SentenceText s;
  s.add("$KVOXL,%d,%d,", r.value1, r.value2);
  s.add("%d,%d,%d,", r.x.get(), r.y.get(), r.z.get());
  s.add("%02d%02d%02d,", r.hour, r.minute, r.second);
  s.add("%02d%02d%02d,,,,*", r.day, r.month, r.year.get() % 100);
  return s.finish(out, room);
}

// ---- the protocol handlers -----------------------------------------------------------------

// The marks of what was last copied go back to 0 with the records' counters: otherwise the
// first sentence after a restart whose counter met an old mark would be lost.
int NmeaInit(void* /*arg*/) {
  decoder.state = 0;
  decoder.index = 0;
  decoder.m_dwCommandCount = 0;
  decoder.count_gga = decoder.count_gsv = decoder.count_rmc = decoder.count_kvoxl = 0;
  for (int i = 0; i < total_messages; ++i) nmea[i].Reset(nmea[i].record);
  return 0;
}

int NmeaSetSpeedUnit(int flag) {
  decoder.SpeedUnit = flag != 0 ? 1 : 0;
  return 0;
}

int ProcessCommand(const char* name, const char* fields) {
  for (int i = 0; i < total_messages; ++i) {
    const NmeaSentence& row = nmea[i];
    if (row.Decode == nullptr || strncmp(row.name, name, strlen(row.name)) != 0) continue;
    row.Decode(fields, row.record);
    return 1;
  }
  return 0;
}

namespace {

// The value of an upper-case hex digit, -1 for anything else.
int hexDigit(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void processSentence() {
  ProcessCommand(decoder.name, decoder.text);
  ++decoder.m_dwCommandCount;
}

void receive(uint8_t c) {
  NmeaDecoderState& d = decoder;
  switch (d.state) {
    case 0:
      if (c == '$') {
        d.checksum = 0;
        d.index = 0;
        d.state = 1;
      }
      break;
    case 1:
      d.checksum ^= c;
      if (c == ',' || c == '*') {
        d.name[d.index] = '\0';
        d.text[0] = static_cast<char>(c);
        d.index = 1;
        d.state = 2;
      } else {
        d.name[d.index++] = static_cast<char>(c);
        if (d.index >= sizeof d.name) d.state = 0;  // no name is that long
      }
      break;
    case 2:
      if (c == '*') {
        d.text[d.index] = '\0';
        d.state = 3;
      } else if (c == '\r') {  // a sentence without a checksum
        d.text[d.index] = '\0';
        processSentence();
        d.state = 0;
      } else {
        d.checksum ^= c;
        d.text[d.index++] = static_cast<char>(c);
        if (d.index >= sizeof d.text) d.state = 0;
      }
      break;
    case 3: {
      // Both digits are compared: one matching digit says nothing about the other.
      int v = hexDigit(c);
      if (v < 0) {
        d.state = 0;
        break;
      }
      d.received = static_cast<uint8_t>(v << 4);
      d.state = 4;
      break;
    }
    case 4: {
      int v = hexDigit(c);
      if (v >= 0 && (d.received | v) == d.checksum) processSentence();
      d.state = 0;
      break;
    }
    default:
      d.state = 0;
      break;
  }
}

}  // namespace

int NmeaDecode(const uint8_t* bytes, int count, GpsFixRecord* fix, int /*debug*/) {
  if (bytes != nullptr && count > 0) {
    if (count > kScanLimit) {
      bytes += count - kScanLimit;
      count = kScanLimit;
    }
    for (int i = 0; i < count; ++i) receive(bytes[i]);
  }
  if (fix == nullptr || rmc.counter.get() == decoder.count_rmc) return -1;
  nmeafix::NmeaFix& out = nmeaRecords(*fix);
  if (gga.counter.get() != decoder.count_gga) {
    out.gga = gga;
    decoder.count_gga = gga.counter.get();
  }
  if (gsv.counter.get() != decoder.count_gsv) {
    out.gsv = gsv;
    decoder.count_gsv = gsv.counter.get();
  }
  out.rmc = rmc;
  decoder.count_rmc = rmc.counter.get();
  if (kvoxl.counter.get() != decoder.count_kvoxl) {
    out.kvoxl = kvoxl;
    decoder.count_kvoxl = kvoxl.counter.get();
  }
  return 0;
}

int NmeaEncode(uint8_t* out, int size, const void* source) {
  if (out == nullptr || source == nullptr || size <= 0) return 0;
  const GpsFixRecord* fix = static_cast<const GpsFixRecord*>(source);
  char* text = reinterpret_cast<char*>(out);
  size_t room = static_cast<size_t>(size);
  size_t total = 0;
  text[0] = '\0';
  for (int i = 0; i < total_messages; ++i) {
    if (nmea[i].Encode == nullptr) continue;
    total += static_cast<size_t>(nmea[i].Encode(text + total, room - total, fix));
  }
  return static_cast<int>(total);
}
