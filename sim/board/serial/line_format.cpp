#include "board/serial/line_format.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace sim {
namespace {

struct SpeedEntry {
  speed_t speed;
  int baud;
};

constexpr SpeedEntry kSpeeds[] = {
    {B0, 0},           {B50, 50},         {B75, 75},         {B110, 110},       {B134, 134},
    {B150, 150},       {B200, 200},       {B300, 300},       {B600, 600},       {B1200, 1200},
    {B1800, 1800},     {B2400, 2400},     {B4800, 4800},     {B9600, 9600},     {B19200, 19200},
    {B38400, 38400},   {B57600, 57600},   {B115200, 115200}, {B230400, 230400}, {B460800, 460800},
    {B500000, 500000}, {B576000, 576000}, {B921600, 921600}, {B1000000, 1000000}};

}  // namespace

int baudOfSpeed(speed_t speed) {
  for (const SpeedEntry& e : kSpeeds) {
    if (e.speed == speed) return e.baud;
  }
  return -1;
}

speed_t speedOfBaud(int baud) {
  for (const SpeedEntry& e : kSpeeds) {
    if (e.baud == baud) return e.speed;
  }
  return B0;
}

int64_t LineFormat::frameNs() const {
  return baud > 0 ? std::llround(frameBits() * 1e9 / baud) : 0;
}

int64_t LineFormat::receiveNs() const {
  return baud > 0 ? std::llround((frameBits() - stopBits + 1) * 1e9 / baud) : 0;
}

std::string LineFormat::text() const {
  char buf[32];
  snprintf(buf, sizeof buf, "%d %d%c%d", baud, dataBits,
           parity == Parity::None ? 'N' : parity == Parity::Even ? 'E' : 'O', stopBits);
  return buf;
}

LineFormat LineFormat::fromTermios(const struct termios& t) {
  LineFormat f;
  int baud = baudOfSpeed(t.c_cflag & CBAUD);
  f.baud = baud < 0 ? 0 : baud;
  switch (t.c_cflag & CSIZE) {
    case CS5: f.dataBits = 5; break;
    case CS6: f.dataBits = 6; break;
    case CS7: f.dataBits = 7; break;
    default: f.dataBits = 8; break;
  }
  f.parity = (t.c_cflag & PARENB) == 0 ? Parity::None : (t.c_cflag & PARODD) ? Parity::Odd : Parity::Even;
  f.stopBits = (t.c_cflag & CSTOPB) ? 2 : 1;
  return f;
}

bool LineFormat::parse(const std::string& text, LineFormat* out) {
  LineFormat f;
  char* end = nullptr;
  long baud = strtol(text.c_str(), &end, 10);
  if (end == text.c_str() || baud <= 0 || speedOfBaud(static_cast<int>(baud)) == B0) return false;
  f.baud = static_cast<int>(baud);
  while (*end == ' ') ++end;
  if (*end != '\0') {
    char parity = 0;
    int bits = 0, stops = 0;
    char extra = 0;
    if (sscanf(end, "%1d%c%1d%c", &bits, &parity, &stops, &extra) != 3) return false;
    if (bits < 5 || bits > 8 || stops < 1 || stops > 2) return false;
    f.dataBits = bits;
    f.stopBits = stops;
    if (parity == 'N') f.parity = Parity::None;
    else if (parity == 'E') f.parity = Parity::Even;
    else if (parity == 'O') f.parity = Parity::Odd;
    else return false;
  }
  *out = f;
  return true;
}

}  // namespace sim
