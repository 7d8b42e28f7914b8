// The controller's side of the recorder's command protocol: the requests a controller sends and
// the answers it reads, as text. Shared by vdrctl and the simulated board's controller model;
// the frames themselves are the program's own definitions (serial/rd_frame.h).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "serial/rd_frame.h"

namespace ctl {

using Bytes = std::vector<uint8_t>;
// One answer as named values, in the order a reader expects them: ("PRERECTIME1", "15").
using Fields = std::vector<std::pair<std::string, std::string>>;

// What can be asked for with "get".
enum class Item { Recording, Gsensor, Version, Status };
bool parseItem(const std::string& word, Item* item);
const char* itemName(Item item);

// What an answer frame is.
enum class Answer { Ack, Nack, RecordingSettings, GsensorSettings, Version, Status, Unknown };
Answer answerOf(const rd::Frame& frame);
const char* answerName(Answer answer);
// The answer that a request for the item is waited for with.
Answer answerFor(Item item);

// ---- requests --------------------------------------------------------------------------
Bytes frameOf(uint8_t cmd, const void* payload, size_t size);
Bytes getRequest(Item item);
Bytes triggerRequest();
Bytes pingRequest();
Bytes updateRequest(const rd::RecordingSettings& settings);
Bytes updateRequest(const rd::GsensorSettings& settings);

// The settings a controller can change, by their names in the settings file.
struct SettingsChange {
  std::vector<std::pair<std::string, long>> recording;  // keys of the recording settings
  std::vector<std::pair<std::string, long>> gsensor;    // keys of the G-sensor settings
};
// Reads "KEY=VALUE" words; false with a message for an unknown key or a value that does not
// fit the key's field on the line.
bool parseChanges(const std::vector<std::string>& words, SettingsChange* change, std::string* error);
void applyChanges(const SettingsChange& change, rd::RecordingSettings* settings);
void applyChanges(const SettingsChange& change, rd::GsensorSettings* settings);
// The key's value in a settings answer.
long valueOf(const rd::RecordingSettings& settings, const std::string& key);
long valueOf(const rd::GsensorSettings& settings, const std::string& key);

// ---- answers ---------------------------------------------------------------------------
// The payload of an answer as its structure; false when the frame is not that answer or its
// length does not match.
bool readAnswer(const rd::Frame& frame, rd::RecordingSettings* out);
bool readAnswer(const rd::Frame& frame, rd::GsensorSettings* out);
bool readAnswer(const rd::Frame& frame, rd::Version* out);
bool readAnswer(const rd::Frame& frame, rd::StatusPayload* out);

Fields fieldsOf(const rd::RecordingSettings& s);
Fields fieldsOf(const rd::GsensorSettings& s);
Fields fieldsOf(const rd::Version& v);
Fields fieldsOf(const rd::StatusPayload& s);
// Any answer frame as named values ("answer" first), for the timeline and vdrctl -v.
Fields describe(const rd::Frame& frame);
// "KEY=VALUE KEY=VALUE ..."
std::string joined(const Fields& fields, const char* separator = " ");

// ---- exchanges -------------------------------------------------------------------------
// How one request went: the answer waited for came, a NACK came instead, nothing came in time,
// or a frame with a bad checksum (or the wrong length for its kind) came.
enum class Got { Answer, Nack, Timeout, BadFrame };
// Sends a request and waits for the wanted answer (a NACK always ends the wait).
using Exchange = std::function<Got(const Bytes& request, Answer wanted, rd::Frame* answer)>;

struct SetOutcome {
  Got got = Got::Answer;
  std::string step;                  // the request that failed ("the new recording settings")
  Fields stored;                     // the settings the recorder answered with
  std::vector<std::string> notKept;  // "PRERECTIME1=10 was not kept: the recorder stored 15"
};
// Reads the settings of each kind the change touches, changes the keys, sends them and compares
// the settings the recorder answers with (its own rules may store another value).
SetOutcome changeSettings(const SettingsChange& change, const Exchange& exchange);

// ---- bytes -----------------------------------------------------------------------------
// "F0 02 92 01 00 7B", "f002920100 7b" or "F0,02,...": pairs of hex digits, separators ignored.
bool parseHex(const std::string& text, Bytes* out);
std::string hexOf(const uint8_t* bytes, size_t count);
inline std::string hexOf(const Bytes& bytes) { return hexOf(bytes.data(), bytes.size()); }

}  // namespace ctl
