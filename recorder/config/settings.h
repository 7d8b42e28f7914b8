// The recorder settings record gConfig: every user setting, shared by pointer with every thread.
//
// Its first 56 bytes (the nine encoding settings and five reserved words) are also handed to the
// camera driver as they stand, so the layout is fixed and checked below.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

#include "core/shared_field.h"

struct RecorderSettings {
  SharedField<int32_t> RECINGMODE1;   // 1 continuous recording, 2 event recording
  SharedField<int32_t> PRERECTIME1;   // seconds kept before a trigger
  SharedField<int32_t> POSTRECTIME1;  // seconds recorded after it
  SharedField<int32_t> PRERECINT1;    // picture rate before the trigger
  SharedField<int32_t> POSTRECINT1;   // picture rate after it
  SharedField<int32_t> PRESIZE1;
  SharedField<int32_t> POSTSIZE1;
  SharedField<int32_t> PREFIELD1;
  SharedField<int32_t> POSTFIELD1;
  SharedField<int32_t> reserved[5];
  SharedField<int32_t> BEEPRECORD;
  SharedField<int32_t> ACCSEN;
  SharedField<int16_t> ACCSENX;
  SharedField<int16_t> ACCSENY;
  SharedField<int16_t> ACCSENZ;
  SharedField<uint8_t> TRGSET;  // bit 0 G-sensor, bit 1 REC button, bit 2 serial command
  SharedField<uint8_t> RECMOD;  // 1 stop when full, 2 overwrite
  SharedField<int32_t> PASSWORD;
};
static_assert(offsetof(RecorderSettings, POSTFIELD1) == 32);
static_assert(offsetof(RecorderSettings, BEEPRECORD) == 56, "the camera driver reads the first 56 bytes");
static_assert(offsetof(RecorderSettings, ACCSENX) == 64);
static_assert(offsetof(RecorderSettings, TRGSET) == 70);
static_assert(offsetof(RecorderSettings, RECMOD) == 71);
static_assert(offsetof(RecorderSettings, PASSWORD) == 72);
static_assert(sizeof(RecorderSettings) == 76);

constexpr int32_t RECINGMODE_CONTINUOUS = 1;
constexpr int32_t RECINGMODE_EVENT = 2;

extern RecorderSettings gConfig;

// Card paths of the settings files: "%s/%s/%s" of the mount point, "config" and the name.
#define CONFIG_DIR_NAME "config"
#define SET_DAT_NAME "set.dat"
#define SET_INI_NAME "set.ini"
#define TIME_INI_NAME "time.ini"
#define VERSION_INI_NAME "version.ini"
#define FIRMWARE_VERSION_FILE "/version"

void SetDefaultParameter(RecorderSettings* settings);
int ReadConfigFile(RecorderSettings* settings);
int WriteConfigFile(RecorderSettings* settings);
int ReadTimeConfigFile(time_t* clock);
int CreateVersionFile();
int CmpFirmwareVersion(const char* version, const char* path);

// The keys of section SET, in the order the reader takes them. `set` stores a value read from a
// file as the field keeps it (the narrow fields keep the low bits).
struct SettingKey {
  const char* name;
  int32_t (*get)(const RecorderSettings& s);
  void (*set)(RecorderSettings& s, int32_t value);
};
extern const SettingKey kSettingKeys[];
extern const size_t kSettingKeyCount;
// The key of that name (exact spelling), or null.
const SettingKey* FindSettingKey(const char* name);

// What a validation replaced and by which rule, for the PC tools that tell a user why a value
// did not take (the program itself passes no log: it replaces values silently).
struct SettingReplacement {
  const char* key;
  int32_t from;
  int32_t to;
  const char* rule;
};
struct SettingReplacements {
  static constexpr int kMax = 24;  // more than the rules can replace in one pass
  SettingReplacement items[kMax];
  int count = 0;
};

// The two validation rule sets, exposed for tests and tools: the reader's and the writer's.
void ValidateReadSettings(RecorderSettings* settings, SettingReplacements* log = nullptr);
void ValidateWriteSettings(RecorderSettings* settings);
