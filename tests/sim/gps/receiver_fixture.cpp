#include "sim/gps/receiver_fixture.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace testing_board {

std::vector<UbxMessage> ubxMessages(const std::string& s, int* bad) {
  std::vector<UbxMessage> out;
  if (bad) *bad = 0;
  for (size_t i = 0; i + 8 <= s.size(); ++i) {
    if (static_cast<uint8_t>(s[i]) != 0xB5 || static_cast<uint8_t>(s[i + 1]) != 0x62) continue;
    size_t len = static_cast<uint8_t>(s[i + 4]) | (static_cast<uint8_t>(s[i + 5]) << 8);
    if (i + 8 + len > s.size()) break;
    uint8_t a = 0, b = 0;
    for (size_t k = i + 2; k < i + 6 + len; ++k) {
      a = static_cast<uint8_t>(a + static_cast<uint8_t>(s[k]));
      b = static_cast<uint8_t>(b + a);
    }
    if (a != static_cast<uint8_t>(s[i + 6 + len]) || b != static_cast<uint8_t>(s[i + 7 + len])) {
      if (bad) ++*bad;
      continue;
    }
    UbxMessage m{static_cast<uint8_t>(s[i + 2]), static_cast<uint8_t>(s[i + 3]),
                 std::vector<uint8_t>(s.begin() + static_cast<std::ptrdiff_t>(i + 6),
                                      s.begin() + static_cast<std::ptrdiff_t>(i + 6 + len))};
    out.push_back(m);
    i += 7 + len;
  }
  return out;
}

std::vector<std::string> nmeaSentences(const std::string& s, int* bad) {
  std::vector<std::string> out;
  if (bad) *bad = 0;
  for (size_t at = s.find('$'); at != std::string::npos; at = s.find('$', at + 1)) {
    size_t end = s.find("\r\n", at);
    if (end == std::string::npos) break;
    std::string line = s.substr(at, end - at);
    size_t star = line.find('*');
    if (line.find('$', 1) != std::string::npos) continue;  // a binary frame's '$', not a sentence
    unsigned sum = 0;
    for (size_t k = 1; k < star && star != std::string::npos; ++k) sum ^= static_cast<unsigned char>(line[k]);
    if (star == std::string::npos || star + 3 != line.size() || strtoul(line.c_str() + star + 1, nullptr, 16) != sum) {
      if (bad) ++*bad;
      continue;
    }
    out.push_back(line);
  }
  return out;
}

Decoded gpsdecode(const std::string& bytes) {
  Decoded d;
  char in[] = "/tmp/gpsdecode-in-XXXXXX";
  int fd = mkstemp(in);
  if (fd < 0) return d;
  (void)!write(fd, bytes.data(), bytes.size());
  close(fd);
  std::string errPath = std::string(in) + ".err";
  std::string command = std::string("gpsdecode -j < ") + in + " 2> " + errPath;
  FILE* p = popen(command.c_str(), "r");
  if (p) {
    char line[4096];
    while (fgets(line, sizeof line, p)) d.json.emplace_back(line);
    d.status = pclose(p);
  }
  std::ifstream err(errPath);
  std::stringstream e;
  e << err.rdbuf();
  d.errors = e.str();
  unlink(in);
  unlink(errPath.c_str());
  return d;
}

double jsonNumber(const std::string& line, const std::string& key, bool* found) {
  size_t at = line.find("\"" + key + "\":");
  if (found) *found = at != std::string::npos;
  if (at == std::string::npos) return 0;
  return strtod(line.c_str() + at + key.size() + 3, nullptr);
}

std::string jsonText(const std::string& line, const std::string& key) {
  size_t at = line.find("\"" + key + "\":\"");
  if (at == std::string::npos) return "";
  at += key.size() + 4;
  return line.substr(at, line.find('"', at) - at);
}

int64_t isoSeconds(const std::string& text) {
  struct tm tm = {};
  if (!strptime(text.c_str(), "%Y-%m-%dT%H:%M:%S", &tm)) return -1;
  return static_cast<int64_t>(timegm(&tm));
}

}  // namespace testing_board
