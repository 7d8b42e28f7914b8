// vdrctl: speaks the recorder's controller protocol over a serial device, a real one or the
// pseudo-terminal that recorder-sim --serial 1=pty prints.
//
//   vdrctl [options] PORT get recording|gsensor|version|status ...
//   vdrctl [options] PORT set KEY=VALUE ...
//   vdrctl [options] PORT trigger
//   vdrctl [options] PORT ping
//   vdrctl [options] PORT raw HEX
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <time.h>
#include <unistd.h>
#include <vector>

#include "ctl_protocol.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;  // NACK, no answer, a bad frame, a setting not kept
constexpr int kExitUsage = 2;

void usage(FILE* out) {
  fprintf(out,
          "usage: vdrctl [-t SECONDS] [-v] PORT COMMAND\n"
          "  PORT                  the serial device (/dev/ttyUSB0, or the pseudo-terminal of\n"
          "                        recorder-sim --serial 1=pty)\n"
          "commands:\n"
          "  get ITEM...           ITEM: recording, gsensor, version, status\n"
          "  set KEY=VALUE...      change settings: RECINGMODE1 PRERECTIME1 POSTRECTIME1 PRERECINT1\n"
          "                        POSTRECINT1 PRESIZE1 POSTSIZE1 PREFIELD1 POSTFIELD1 (recording),\n"
          "                        ACCSEN ACCSENX ACCSENY ACCSENZ TRGSET RECMOD (G-sensor)\n"
          "  trigger               ask for an event recording (TRGSET bit 2 must be set)\n"
          "  ping                  check that the recorder answers\n"
          "  raw HEX               send bytes as they are and show every frame that comes back\n"
          "options:\n"
          "  -t SECONDS            how long to wait for an answer (default 5)\n"
          "  -v                    show the frames sent and received\n"
          "exit status: 0 done, 1 refused (NACK), no answer, a bad frame or a setting not kept,\n"
          "             2 usage or port errors\n");
}

int64_t nowMs() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

class Port {
 public:
  ~Port() {
    if (fd_ >= 0) {
      if (haveSaved_) tcsetattr(fd_, TCSANOW, &saved_);
      close(fd_);
    }
  }

  bool open(const char* path, std::string* error) {
    fd_ = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd_ < 0) {
      *error = std::string("cannot open ") + path + ": " + strerror(errno);
      return false;
    }
    struct termios t;
    if (tcgetattr(fd_, &t) != 0) {
      *error = std::string(path) + " is not a serial device: " + strerror(errno);
      return false;
    }
    saved_ = t;
    haveSaved_ = true;
    // The recorder's line: 9600 baud, 8 data bits, no parity, one stop bit, raw.
    cfmakeraw(&t);
    t.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB | CRTSCTS);
    t.c_cflag |= CLOCAL | CREAD | CS8;
    cfsetispeed(&t, B9600);
    cfsetospeed(&t, B9600);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    if (tcsetattr(fd_, TCSANOW, &t) != 0) {
      *error = std::string("cannot set up ") + path + ": " + strerror(errno);
      return false;
    }
    tcflush(fd_, TCIFLUSH);  // nothing left over from before counts as an answer
    return true;
  }

  bool send(const ctl::Bytes& bytes, std::string* error) {
    size_t done = 0;
    int64_t deadline = nowMs() + 2000;
    while (done < bytes.size()) {
      ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
      if (n > 0) {
        done += static_cast<size_t>(n);
      } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
        *error = std::string("cannot write to the port: ") + strerror(errno);
        return false;
      } else if (nowMs() > deadline) {
        *error = "the port takes no more bytes";
        return false;
      } else {
        struct pollfd p = {fd_, POLLOUT, 0};
        poll(&p, 1, 100);
      }
    }
    return true;
  }

  // Bytes that arrive before the deadline; false at the deadline or on an error.
  bool receive(int64_t deadline, uint8_t* byte) {
    for (;;) {
      ssize_t n = ::read(fd_, byte, 1);
      if (n == 1) return true;
      if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
      int64_t left = deadline - nowMs();
      if (left <= 0) return false;
      struct pollfd p = {fd_, POLLIN, 0};
      poll(&p, 1, static_cast<int>(left > 200 ? 200 : left));
    }
  }

 private:
  int fd_ = -1;
  struct termios saved_ {};
  bool haveSaved_ = false;
};

struct Options {
  double timeoutSeconds = 5;
  bool verbose = false;
};

class Session {
 public:
  Session(Port& port, const Options& o) : port_(port), o_(o) {}

  bool send(const ctl::Bytes& frame) {
    if (o_.verbose) fprintf(stderr, "> %s\n", ctl::hexOf(frame).c_str());
    std::string error;
    if (!port_.send(frame, &error)) {
      fprintf(stderr, "vdrctl: %s\n", error.c_str());
      return false;
    }
    return true;
  }

  // Waits for one of the wanted answers (a NACK always ends the wait); other frames are passed by.
  ctl::Got await(const std::vector<ctl::Answer>& wanted, rd::Frame* frame) {
    int64_t deadline = nowMs() + static_cast<int64_t>(o_.timeoutSeconds * 1000);
    uint8_t byte;
    while (port_.receive(deadline, &byte)) {
      switch (decoder_.feed(byte)) {
        case rd::FrameDecoder::Event::None:
          continue;
        case rd::FrameDecoder::Event::BadChecksum:
          fprintf(stderr, "vdrctl: a frame with a bad checksum arrived\n");
          return ctl::Got::BadFrame;
        case rd::FrameDecoder::Event::Frame:
          break;
      }
      frame->length = decoder_.frameLength();
      memcpy(frame->bytes, decoder_.frame(), frame->length);
      if (o_.verbose) fprintf(stderr, "< %s\n", ctl::hexOf(frame->bytes, frame->length).c_str());
      ctl::Answer a = ctl::answerOf(*frame);
      if (a == ctl::Answer::Nack) return ctl::Got::Nack;
      for (ctl::Answer w : wanted) {
        if (a == w) return ctl::Got::Answer;
      }
      if (o_.verbose) fprintf(stderr, "vdrctl: passed by: %s\n", ctl::answerName(a));
    }
    return ctl::Got::Timeout;
  }

  // Sends the request and waits for the answer.
  ctl::Got ask(const ctl::Bytes& request, ctl::Answer wanted, rd::Frame* frame) {
    if (!send(request)) return ctl::Got::Timeout;
    return await({wanted}, frame);
  }
  // Says what went wrong with a request; true when it got its answer.
  bool report(ctl::Got got, const std::string& what) const {
    switch (got) {
      case ctl::Got::Answer:
        return true;
      case ctl::Got::Nack:
        fprintf(stderr, "vdrctl: the recorder refused %s (NACK)\n", what.c_str());
        return false;
      case ctl::Got::Timeout:
        fprintf(stderr, "vdrctl: no answer to %s within %g s\n", what.c_str(), o_.timeoutSeconds);
        return false;
      case ctl::Got::BadFrame:
        fprintf(stderr, "vdrctl: a bad frame came in answer to %s\n", what.c_str());
        return false;
    }
    return false;
  }
  bool exchange(const ctl::Bytes& request, ctl::Answer wanted, const std::string& what, rd::Frame* frame) {
    return report(ask(request, wanted, frame), what);
  }

  double timeout() const { return o_.timeoutSeconds; }

 private:
  Port& port_;
  Options o_;
  rd::FrameDecoder decoder_{rd::FrameDecoder::LenZero::CarriesNone};  // answers: ACK and NACK are empty
};

void printFields(const ctl::Fields& fields) {
  for (const auto& [k, v] : fields) printf("%s=%s\n", k.c_str(), v.c_str());
}

int commandGet(Session& s, const std::vector<std::string>& args) {
  if (args.empty()) {
    fprintf(stderr, "vdrctl: get what? recording, gsensor, version or status\n");
    return kExitUsage;
  }
  std::vector<ctl::Item> items;
  for (const std::string& a : args) {
    ctl::Item item;
    if (!ctl::parseItem(a, &item)) {
      fprintf(stderr, "vdrctl: cannot get \"%s\": recording, gsensor, version or status\n", a.c_str());
      return kExitUsage;
    }
    items.push_back(item);
  }
  for (ctl::Item item : items) {
    rd::Frame f;
    std::string what = std::string("the request for ") + ctl::itemName(item);
    if (!s.exchange(ctl::getRequest(item), ctl::answerFor(item), what, &f)) return kExitFailed;
    ctl::Fields fields = ctl::describe(f);
    fields.erase(fields.begin());  // the answer's name: the item asked for
    if (items.size() > 1) printf("[%s]\n", ctl::itemName(item));
    printFields(fields);
  }
  return kExitOk;
}

int commandSet(Session& s, const std::vector<std::string>& args) {
  ctl::SettingsChange change;
  std::string error;
  if (args.empty() || !ctl::parseChanges(args, &change, &error)) {
    fprintf(stderr, "vdrctl: %s\n", args.empty() ? "set what? KEY=VALUE ..." : error.c_str());
    return kExitUsage;
  }
  ctl::SetOutcome outcome = ctl::changeSettings(change, [&](const ctl::Bytes& request, ctl::Answer wanted, rd::Frame* f) {
    return s.ask(request, wanted, f);
  });
  if (!s.report(outcome.got, outcome.step)) return kExitFailed;
  printFields(outcome.stored);
  for (const std::string& line : outcome.notKept) fprintf(stderr, "vdrctl: %s\n", line.c_str());
  return outcome.notKept.empty() ? kExitOk : kExitFailed;
}

int commandControl(Session& s, const ctl::Bytes& request, const char* what) {
  rd::Frame f;
  if (!s.exchange(request, ctl::Answer::Ack, what, &f)) return kExitFailed;
  printf("ACK\n");
  return kExitOk;
}

// Sends the bytes as given and shows every frame that arrives until the wait ends.
int commandRaw(Session& s, const std::vector<std::string>& args) {
  std::string text;
  for (const std::string& a : args) text += a + " ";
  ctl::Bytes bytes;
  if (!ctl::parseHex(text, &bytes)) {
    fprintf(stderr, "vdrctl: raw wants pairs of hex digits, e.g. F0 02 92 01 00 7B\n");
    return kExitUsage;
  }
  if (!s.send(bytes)) return kExitFailed;
  int frames = 0;
  rd::Frame f;
  for (;;) {
    ctl::Got got = s.await({}, &f);
    if (got == ctl::Got::Timeout) break;
    if (got == ctl::Got::BadFrame) return kExitFailed;
    ++frames;
    printf("%s\n", ctl::joined(ctl::describe(f)).c_str());
  }
  if (frames == 0) printf("no answer within %g s\n", s.timeout());
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  int i = 1;
  for (; i < argc && argv[i][0] == '-'; ++i) {
    std::string a = argv[i];
    if (a == "-h" || a == "--help") {
      usage(stdout);
      return kExitOk;
    } else if (a == "-v") {
      o.verbose = true;
    } else if (a == "-t" && i + 1 < argc) {
      char* end = nullptr;
      o.timeoutSeconds = strtod(argv[++i], &end);
      if (*end != '\0' || o.timeoutSeconds <= 0) {
        fprintf(stderr, "vdrctl: -t wants a number of seconds\n");
        return kExitUsage;
      }
    } else {
      usage(stderr);
      return kExitUsage;
    }
  }
  if (argc - i < 2) {
    usage(stderr);
    return kExitUsage;
  }
  const char* path = argv[i];
  std::string command = argv[i + 1];
  std::vector<std::string> args(argv + i + 2, argv + argc);
  if (command != "get" && command != "set" && command != "trigger" && command != "ping" && command != "raw") {
    fprintf(stderr, "vdrctl: unknown command \"%s\"\n", command.c_str());
    usage(stderr);
    return kExitUsage;
  }

  if ((command == "trigger" || command == "ping") && !args.empty()) {
    fprintf(stderr, "vdrctl: %s takes no arguments\n", command.c_str());
    return kExitUsage;
  }

  Port port;
  std::string error;
  if (!port.open(path, &error)) {
    fprintf(stderr, "vdrctl: %s\n", error.c_str());
    return kExitUsage;
  }
  Session session(port, o);
  if (command == "get") return commandGet(session, args);
  if (command == "set") return commandSet(session, args);
  if (command == "trigger") return commandControl(session, ctl::triggerRequest(), "the trigger");
  if (command == "ping") return commandControl(session, ctl::pingRequest(), "the ping");
  return commandRaw(session, args);
}
