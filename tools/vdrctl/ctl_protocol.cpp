#include "ctl_protocol.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace ctl {
namespace {

// A settings key: its name, which settings it belongs to, and the range of its field.
struct Key {
  const char* name;
  bool recording;
  long min, max;
};

constexpr Key kKeys[] = {
    {"RECINGMODE1", true, 0, 255},   {"PRERECTIME1", true, 0, 65535}, {"POSTRECTIME1", true, 0, 65535},
    {"PRERECINT1", true, 0, 65535},  {"POSTRECINT1", true, 0, 65535}, {"PRESIZE1", true, 0, 65535},
    {"POSTSIZE1", true, 0, 65535},   {"PREFIELD1", true, 0, 255},     {"POSTFIELD1", true, 0, 255},
    {"ACCSEN", false, 0, 255},       {"ACCSENX", false, -32768, 32767}, {"ACCSENY", false, -32768, 32767},
    {"ACCSENZ", false, -32768, 32767}, {"TRGSET", false, 0, 255},     {"RECMOD", false, 0, 255},
};

const Key* findKey(const std::string& name) {
  for (const Key& k : kKeys) {
    if (name == k.name) return &k;
  }
  return nullptr;
}

std::string upper(std::string s) {
  for (char& c : s) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return s;
}

template <typename T>
bool readPayload(const rd::Frame& frame, uint8_t cmd, T* out) {
  if (frame.cmd() != cmd || frame.payloadSize() != sizeof(T)) return false;
  memcpy(out, frame.payload(), sizeof(T));
  return true;
}

std::string num(long v) { return std::to_string(v); }

}  // namespace

bool parseItem(const std::string& word, Item* item) {
  if (word == "recording") *item = Item::Recording;
  else if (word == "gsensor") *item = Item::Gsensor;
  else if (word == "version") *item = Item::Version;
  else if (word == "status") *item = Item::Status;
  else return false;
  return true;
}

const char* itemName(Item item) {
  switch (item) {
    case Item::Recording: return "recording";
    case Item::Gsensor: return "gsensor";
    case Item::Version: return "version";
    case Item::Status: return "status";
  }
  return "?";
}

Answer answerOf(const rd::Frame& frame) {
  switch (frame.cmd()) {
    case rd::kRspAck: return Answer::Ack;
    case rd::kRspNack: return Answer::Nack;
    case rd::kRspVersion: return Answer::Version;
    case rd::kRspStatus: return Answer::Status;
    case rd::kRspSettings:
      if (frame.payloadByte(0) == rd::kSettingsRecording) return Answer::RecordingSettings;
      if (frame.payloadByte(0) == rd::kSettingsGsensor) return Answer::GsensorSettings;
      return Answer::Unknown;
    default: return Answer::Unknown;
  }
}

const char* answerName(Answer answer) {
  switch (answer) {
    case Answer::Ack: return "ACK";
    case Answer::Nack: return "NACK";
    case Answer::RecordingSettings: return "recording settings";
    case Answer::GsensorSettings: return "G-sensor settings";
    case Answer::Version: return "version";
    case Answer::Status: return "record status";
    case Answer::Unknown: return "unknown frame";
  }
  return "?";
}

Answer answerFor(Item item) {
  switch (item) {
    case Item::Recording: return Answer::RecordingSettings;
    case Item::Gsensor: return Answer::GsensorSettings;
    case Item::Version: return Answer::Version;
    case Item::Status: return Answer::Status;
  }
  return Answer::Unknown;
}

Bytes frameOf(uint8_t cmd, const void* payload, size_t size) {
  Bytes out(rd::kMaxFrame);
  out.resize(rd::buildFrame(cmd, payload, size, out.data()));
  return out;
}

Bytes getRequest(Item item) {
  uint8_t flags[2] = {0, 0};  // bytes 3 and 4
  switch (item) {
    case Item::Recording: flags[0] = rd::kDataRecording; break;
    case Item::Gsensor: flags[1] = rd::kDataGsensor; break;
    case Item::Version: flags[1] = rd::kDataVersion; break;
    case Item::Status: flags[1] = rd::kDataStatus; break;
  }
  return frameOf(rd::kCmdDataRequest, flags, sizeof flags);
}

Bytes triggerRequest() {
  uint8_t b = rd::kControlTrigger;
  return frameOf(rd::kCmdControlRequest, &b, 1);
}

Bytes pingRequest() {
  uint8_t b = rd::kControlPing;
  return frameOf(rd::kCmdControlRequest, &b, 1);
}

Bytes updateRequest(const rd::RecordingSettings& settings) {
  rd::RecordingSettings s = settings;
  s.type = rd::kSettingsRecording;
  return frameOf(rd::kCmdConfigUpdate, &s, sizeof s);
}

Bytes updateRequest(const rd::GsensorSettings& settings) {
  rd::GsensorSettings s = settings;
  s.type = rd::kSettingsGsensor;
  return frameOf(rd::kCmdConfigUpdate, &s, sizeof s);
}

bool parseChanges(const std::vector<std::string>& words, SettingsChange* change, std::string* error) {
  for (const std::string& w : words) {
    size_t eq = w.find('=');
    if (eq == std::string::npos || eq == 0) {
      *error = "expected KEY=VALUE, got \"" + w + "\"";
      return false;
    }
    std::string name = upper(w.substr(0, eq));
    const Key* key = findKey(name);
    if (key == nullptr) {
      *error = "unknown setting \"" + name + "\"";
      return false;
    }
    std::string text = w.substr(eq + 1);
    char* end = nullptr;
    long v = strtol(text.c_str(), &end, 0);
    if (text.empty() || *end != '\0') {
      *error = name + ": not a number: \"" + text + "\"";
      return false;
    }
    if (v < key->min || v > key->max) {
      *error = name + ": " + text + " does not fit the field (" + num(key->min) + ".." + num(key->max) + ")";
      return false;
    }
    (key->recording ? change->recording : change->gsensor).emplace_back(name, v);
  }
  return true;
}

void applyChanges(const SettingsChange& change, rd::RecordingSettings* s) {
  for (const auto& [key, v] : change.recording) {
    auto u16 = static_cast<uint16_t>(v);
    auto u8 = static_cast<uint8_t>(v);
    if (key == "RECINGMODE1") s->RECINGMODE1 = u8;
    else if (key == "PRERECTIME1") s->PRERECTIME1.set(u16);
    else if (key == "POSTRECTIME1") s->POSTRECTIME1.set(u16);
    else if (key == "PRERECINT1") s->PRERECINT1.set(u16);
    else if (key == "POSTRECINT1") s->POSTRECINT1.set(u16);
    else if (key == "PRESIZE1") s->PRESIZE1.set(u16);
    else if (key == "POSTSIZE1") s->POSTSIZE1.set(u16);
    else if (key == "PREFIELD1") s->PREFIELD1 = u8;
    else if (key == "POSTFIELD1") s->POSTFIELD1 = u8;
  }
}

void applyChanges(const SettingsChange& change, rd::GsensorSettings* s) {
  for (const auto& [key, v] : change.gsensor) {
    if (key == "ACCSEN") s->ACCSEN = static_cast<uint8_t>(v);
    else if (key == "ACCSENX") s->ACCSENX.set(static_cast<int16_t>(v));
    else if (key == "ACCSENY") s->ACCSENY.set(static_cast<int16_t>(v));
    else if (key == "ACCSENZ") s->ACCSENZ.set(static_cast<int16_t>(v));
    else if (key == "TRGSET") s->TRGSET = static_cast<uint8_t>(v);
    else if (key == "RECMOD") s->RECMOD = static_cast<uint8_t>(v);
  }
}

long valueOf(const rd::RecordingSettings& s, const std::string& key) {
  for (const auto& [name, value] : fieldsOf(s)) {
    if (name == key) return strtol(value.c_str(), nullptr, 10);
  }
  return -1;
}

long valueOf(const rd::GsensorSettings& s, const std::string& key) {
  for (const auto& [name, value] : fieldsOf(s)) {
    if (name == key) return strtol(value.c_str(), nullptr, 10);
  }
  return -1;
}

namespace {

template <typename Settings>
bool changeKind(Item item, const SettingsChange& change, const std::vector<std::pair<std::string, long>>& keys,
                const Exchange& exchange, SetOutcome* out) {
  rd::Frame f;
  Settings settings;
  out->step = std::string("the request for ") + itemName(item);
  out->got = exchange(getRequest(item), answerFor(item), &f);
  if (out->got == Got::Answer && !readAnswer(f, &settings)) out->got = Got::BadFrame;
  if (out->got != Got::Answer) return false;
  applyChanges(change, &settings);
  out->step = std::string("the new ") + itemName(item) + " settings";
  out->got = exchange(updateRequest(settings), answerFor(item), &f);
  if (out->got == Got::Answer && !readAnswer(f, &settings)) out->got = Got::BadFrame;
  if (out->got != Got::Answer) return false;
  Fields stored = fieldsOf(settings);
  out->stored.insert(out->stored.end(), stored.begin(), stored.end());
  for (const auto& [key, asked] : keys) {
    long kept = valueOf(settings, key);
    if (kept != asked) {
      out->notKept.push_back(key + "=" + num(asked) + " was not kept: the recorder stored " + num(kept));
    }
  }
  out->step.clear();
  return true;
}

}  // namespace

SetOutcome changeSettings(const SettingsChange& change, const Exchange& exchange) {
  SetOutcome out;
  if (!change.recording.empty() &&
      !changeKind<rd::RecordingSettings>(Item::Recording, change, change.recording, exchange, &out)) {
    return out;
  }
  if (!change.gsensor.empty()) changeKind<rd::GsensorSettings>(Item::Gsensor, change, change.gsensor, exchange, &out);
  return out;
}

bool readAnswer(const rd::Frame& frame, rd::RecordingSettings* out) {
  return readPayload(frame, rd::kRspSettings, out) && out->type == rd::kSettingsRecording;
}
bool readAnswer(const rd::Frame& frame, rd::GsensorSettings* out) {
  return readPayload(frame, rd::kRspSettings, out) && out->type == rd::kSettingsGsensor;
}
bool readAnswer(const rd::Frame& frame, rd::Version* out) { return readPayload(frame, rd::kRspVersion, out); }
bool readAnswer(const rd::Frame& frame, rd::StatusPayload* out) { return readPayload(frame, rd::kRspStatus, out); }

Fields fieldsOf(const rd::RecordingSettings& s) {
  return {{"RECINGMODE1", num(s.RECINGMODE1)},        {"PRERECTIME1", num(s.PRERECTIME1.get())},
          {"POSTRECTIME1", num(s.POSTRECTIME1.get())}, {"PRERECINT1", num(s.PRERECINT1.get())},
          {"POSTRECINT1", num(s.POSTRECINT1.get())},   {"PRESIZE1", num(s.PRESIZE1.get())},
          {"POSTSIZE1", num(s.POSTSIZE1.get())},       {"PREFIELD1", num(s.PREFIELD1)},
          {"POSTFIELD1", num(s.POSTFIELD1)}};
}

Fields fieldsOf(const rd::GsensorSettings& s) {
  return {{"ACCSEN", num(s.ACCSEN)},           {"ACCSENX", num(s.ACCSENX.get())}, {"ACCSENY", num(s.ACCSENY.get())},
          {"ACCSENZ", num(s.ACCSENZ.get())},   {"TRGSET", num(s.TRGSET)},         {"RECMOD", num(s.RECMOD)}};
}

Fields fieldsOf(const rd::Version& v) {
  char text[32];
  snprintf(text, sizeof text, "%u.%u.%u.RC%u", v.major, v.minor, v.subminor, v.rc);
  return {{"version", text}};
}

Fields fieldsOf(const rd::StatusPayload& s) {
  auto yes = [&](uint8_t bit) { return std::string(s.state & bit ? "yes" : "no"); };
  std::string card = s.state & rd::kStateCardFailed ? "failed" : s.state & rd::kStateCardFull ? "full" : "ok";
  std::string last = "none";
  if (uint32_t t = s.lastTriggerSecond.get(); t != 0) {
    time_t second = static_cast<time_t>(t);
    struct tm tm;
    gmtime_r(&second, &tm);
    char text[40];
    strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
    last = text;
  }
  return {{"mode", s.state & rd::kStateContinuous ? "continuous" : "event"},
          {"writing", yes(rd::kStateWriting)},
          {"event", yes(rd::kStateEventActive)},
          {"card", card},
          {"overwrite", yes(rd::kStateOverwrite)},
          {"charged", yes(rd::kStateCharged)},
          {"power_loss", yes(rd::kStatePowerLoss)},
          {"free_mib", num(s.freeMiB.get())},
          {"latest_recording", num(s.latestSequence.get())},
          {"last_trigger", last}};
}

Fields describe(const rd::Frame& frame) {
  Answer a = answerOf(frame);
  Fields out = {{"answer", answerName(a)}};
  Fields more;
  rd::RecordingSettings r;
  rd::GsensorSettings g;
  rd::Version v;
  rd::StatusPayload s;
  if (readAnswer(frame, &r)) more = fieldsOf(r);
  else if (readAnswer(frame, &g)) more = fieldsOf(g);
  else if (readAnswer(frame, &v)) more = fieldsOf(v);
  else if (readAnswer(frame, &s)) more = fieldsOf(s);
  else if (a != Answer::Ack && a != Answer::Nack) more = {{"bytes", hexOf(frame.bytes, frame.length)}};
  out.insert(out.end(), more.begin(), more.end());
  return out;
}

std::string joined(const Fields& fields, const char* separator) {
  std::string out;
  for (const auto& [k, v] : fields) out += (out.empty() ? "" : separator) + k + "=" + v;
  return out;
}

bool parseHex(const std::string& text, Bytes* out) {
  out->clear();
  int high = -1;
  for (char c : text) {
    if (c == ' ' || c == ',' || c == ':' || c == '-') {
      if (high >= 0) return false;  // a lone digit
      continue;
    }
    if (!isxdigit(static_cast<unsigned char>(c))) return false;
    int d = isdigit(static_cast<unsigned char>(c)) ? c - '0' : (tolower(static_cast<unsigned char>(c)) - 'a' + 10);
    if (high < 0) {
      high = d;
    } else {
      out->push_back(static_cast<uint8_t>(high << 4 | d));
      high = -1;
    }
  }
  return high < 0 && !out->empty();
}

std::string hexOf(const uint8_t* bytes, size_t count) {
  std::string out;
  char b[4];
  for (size_t i = 0; i < count; ++i) {
    snprintf(b, sizeof b, i == 0 ? "%02X" : " %02X", bytes[i]);
    out += b;
  }
  return out;
}

}  // namespace ctl
