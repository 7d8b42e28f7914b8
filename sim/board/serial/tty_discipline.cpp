#include "board/serial/tty_discipline.h"

#include <algorithm>
#include <cstring>

namespace sim {

struct termios TtyDiscipline::linuxDefaults() {
  struct termios t;
  std::memset(&t, 0, sizeof t);
  t.c_iflag = ICRNL | IXON;
  t.c_oflag = OPOST | ONLCR;
  t.c_cflag = B9600 | CS8 | CREAD | HUPCL | CLOCAL;
  t.c_lflag = ISIG | ICANON | ECHO | ECHOE | ECHOK | ECHOCTL | ECHOKE | IEXTEN;
  t.c_cc[VINTR] = 003;
  t.c_cc[VQUIT] = 034;
  t.c_cc[VERASE] = 0177;
  t.c_cc[VKILL] = 025;
  t.c_cc[VEOF] = 004;
  t.c_cc[VTIME] = 0;
  t.c_cc[VMIN] = 1;
  t.c_cc[VSTART] = 021;
  t.c_cc[VSTOP] = 023;
  t.c_cc[VSUSP] = 032;
  t.c_cc[VREPRINT] = 022;
  t.c_cc[VDISCARD] = 017;
  t.c_cc[VWERASE] = 027;
  t.c_cc[VLNEXT] = 026;
  t.c_ispeed = B9600;
  t.c_ospeed = B9600;
  return t;
}

void TtyDiscipline::setSettings(const struct termios& t) {
  bool wasCanonical = canonical();
  t_ = t;
  // The speed fields follow the speed bits of the control flags, as the kernel reports them.
  t_.c_ispeed = t_.c_ospeed = t_.c_cflag & CBAUD;
  if (wasCanonical && !canonical()) {
    // Lines, complete or not, become plain characters.
    for (const std::string& l : lines_) raw_.insert(raw_.end(), l.begin(), l.end());
    raw_.insert(raw_.end(), line_.begin(), line_.end());
    lines_.clear();
    line_.clear();
  } else if (!wasCanonical && canonical() && !raw_.empty()) {
    line_.assign(raw_.begin(), raw_.end());
    raw_.clear();
  }
}

void TtyDiscipline::put(uint8_t c) {
  if (canonical()) {
    if (line_.size() < kQueueSize - 1) line_.push_back(static_cast<char>(c));
  } else if (raw_.size() < kQueueSize) {
    raw_.push_back(c);
  }
}

void TtyDiscipline::echoChar(uint8_t c, std::vector<uint8_t>* echo) const {
  uint8_t out[2];
  size_t n = output(c, out);
  echo->insert(echo->end(), out, out + n);
}

void TtyDiscipline::receive(const LineByte& b, std::vector<uint8_t>* echo) {
  uint8_t c = b.value;
  const tcflag_t iflag = t_.c_iflag;
  if (b.flags & LineByte::kBreak) {
    if (iflag & (IGNBRK | BRKINT)) return;
    if (iflag & PARMRK) {
      put(0xFF);
      put(0);
    }
    put(0);
    return;
  }
  if ((b.flags & (LineByte::kParityError | LineByte::kFramingError)) && (iflag & INPCK)) {
    if (iflag & IGNPAR) return;
    if (iflag & PARMRK) {
      put(0xFF);
      put(0);
      put(c);
    } else {
      put(0);
    }
    return;
  }
  if (iflag & ISTRIP) c &= 0x7F;
  if (c == '\r') {
    if (iflag & IGNCR) return;
    if (iflag & ICRNL) c = '\n';
  } else if (c == '\n' && (iflag & INLCR)) {
    c = '\r';
  }
  if ((iflag & IXON) && (isSpecial(c, VSTART) || isSpecial(c, VSTOP))) return;
  if ((t_.c_lflag & ISIG) && (isSpecial(c, VINTR) || isSpecial(c, VQUIT) || isSpecial(c, VSUSP))) return;
  if (canonical()) {
    receiveCanonical(c, echo);
    return;
  }
  put(c);
  if (t_.c_lflag & ECHO) echoChar(c, echo);
}

void TtyDiscipline::receiveCanonical(uint8_t c, std::vector<uint8_t>* echo) {
  const tcflag_t lflag = t_.c_lflag;
  if (isSpecial(c, VERASE)) {
    if (!line_.empty()) {
      line_.pop_back();
      if ((lflag & ECHO) && (lflag & ECHOE)) echo->insert(echo->end(), {'\b', ' ', '\b'});
    }
    return;
  }
  if (isSpecial(c, VKILL)) {
    line_.clear();
    if ((lflag & ECHO) && (lflag & ECHOK)) echoChar('\n', echo);
    return;
  }
  if (isSpecial(c, VEOF)) {
    lines_.push_back(line_);
    line_.clear();
    return;
  }
  bool ends = c == '\n' || isSpecial(c, VEOL) || isSpecial(c, VEOL2);
  put(c);
  if (lflag & ECHO) {
    echoChar(c, echo);
  } else if (c == '\n' && (lflag & ECHONL)) {
    echoChar(c, echo);
  }
  if (ends) {
    lines_.push_back(line_);
    line_.clear();
  }
}

size_t TtyDiscipline::readable() const {
  if (!canonical()) return raw_.size();
  return lines_.empty() ? 0 : lines_.front().size();
}

size_t TtyDiscipline::queued() const {
  size_t n = raw_.size() + line_.size();
  for (const std::string& l : lines_) n += l.size();
  return n;
}

bool TtyDiscipline::endOfFile() const { return canonical() && !lines_.empty() && lines_.front().empty(); }

size_t TtyDiscipline::take(uint8_t* out, size_t n) {
  if (!canonical()) {
    n = std::min(n, raw_.size());
    std::copy_n(raw_.begin(), n, out);
    raw_.erase(raw_.begin(), raw_.begin() + static_cast<std::ptrdiff_t>(n));
    return n;
  }
  if (lines_.empty()) return 0;
  std::string& first = lines_.front();
  if (first.empty()) {  // a line ended by EOF alone: this read gives 0
    lines_.pop_front();
    return 0;
  }
  n = std::min(n, first.size());
  std::memcpy(out, first.data(), n);
  first.erase(0, n);
  if (first.empty()) lines_.pop_front();
  return n;
}

void TtyDiscipline::flushInput() {
  raw_.clear();
  lines_.clear();
  line_.clear();
}

size_t TtyDiscipline::output(uint8_t c, uint8_t out[2]) const {
  if (t_.c_oflag & OPOST) {
    if (c == '\n' && (t_.c_oflag & ONLCR)) {
      out[0] = '\r';
      out[1] = '\n';
      return 2;
    }
    if (c == '\r' && (t_.c_oflag & OCRNL)) c = '\n';
  }
  out[0] = c;
  return 1;
}

}  // namespace sim
