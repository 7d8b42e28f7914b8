#include "config/settings.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "config/profile.h"
#include "core/sd_card.h"
#include "core/trace.h"
#include "platform/platform.h"

#define TAG "CONFIG__"

RecorderSettings gConfig;

namespace {

constexpr const char* kSection = "SET";
constexpr const char* kDefaultUtcTime = "2008.01.01;00:00:00";

void configPath(char* out, size_t size, const char* name) {
  snprintf(out, size, "%s/%s/%s", SD_MOUNT_POINT, CONFIG_DIR_NAME, name);
}

bool exists(const char* path) {
  struct stat st;
  return plat::stat(path, &st) == 0;
}

bool oneOf(int32_t v, std::initializer_list<int32_t> allowed) {
  for (int32_t a : allowed) {
    if (v == a) return true;
  }
  return false;
}

void limitAxisLevels(RecorderSettings* s) {
  if (s->ACCSEN & 1) return;  // one simple level for all axes: the axis levels are not used
  for (SharedField<int16_t>* axis : {&s->ACCSENX, &s->ACCSENY, &s->ACCSENZ}) {
    if (abs(static_cast<int>(*axis)) > 8) *axis = 4;
  }
}

// Writes the file to the card before closing it: a settings file must survive a power cut.
int flushAndClose(FILE* f) {
  fflush(f);
  int fd = fileno(f);
  if (fd < 0) {
    TRACE(TAG, "failed to fileno()");
  } else {
    plat::fsync(fd);
  }
  fclose(f);
  return 0;
}

}  // namespace

#define SETTING_KEY(field, type)                                                   \
  {                                                                                \
    #field, [](const RecorderSettings& s) { return static_cast<int32_t>(s.field); }, \
        [](RecorderSettings& s, int32_t v) { s.field = static_cast<type>(v); }       \
  }
const SettingKey kSettingKeys[] = {
    SETTING_KEY(RECINGMODE1, int32_t), SETTING_KEY(PRERECTIME1, int32_t), SETTING_KEY(POSTRECTIME1, int32_t),
    SETTING_KEY(PRERECINT1, int32_t),  SETTING_KEY(POSTRECINT1, int32_t), SETTING_KEY(PRESIZE1, int32_t),
    SETTING_KEY(POSTSIZE1, int32_t),   SETTING_KEY(PREFIELD1, int32_t),   SETTING_KEY(POSTFIELD1, int32_t),
    SETTING_KEY(BEEPRECORD, int32_t),  SETTING_KEY(ACCSEN, int32_t),      SETTING_KEY(ACCSENX, int16_t),
    SETTING_KEY(ACCSENY, int16_t),     SETTING_KEY(ACCSENZ, int16_t),     SETTING_KEY(TRGSET, uint8_t),
    SETTING_KEY(RECMOD, uint8_t),      SETTING_KEY(PASSWORD, int32_t),
};
#undef SETTING_KEY
const size_t kSettingKeyCount = sizeof kSettingKeys / sizeof kSettingKeys[0];

const SettingKey* FindSettingKey(const char* name) {
  for (const SettingKey& k : kSettingKeys) {
    if (strcmp(k.name, name) == 0) return &k;
  }
  return nullptr;
}

void SetDefaultParameter(RecorderSettings* s) {
  s->RECINGMODE1 = RECINGMODE_EVENT;
  s->PRERECTIME1 = 15;
  s->POSTRECTIME1 = 5;
  s->PRERECINT1 = 10;
  s->POSTRECINT1 = 10;
  s->PRESIZE1 = 64;
  s->POSTSIZE1 = 64;
  s->PREFIELD1 = 4;
  s->POSTFIELD1 = 4;
  for (auto& r : s->reserved) r = 0;
  s->BEEPRECORD = 1;
  s->ACCSEN = 9;
  s->ACCSENX = 4;
  s->ACCSENY = 4;
  s->ACCSENZ = 4;
  s->TRGSET = 3;
  s->RECMOD = 2;
  s->PASSWORD = 0;
}

namespace {

// Replaces a field's value, noting it in the log when there is one.
template <typename T>
void replace(SharedField<T>& field, int32_t to, const char* key, const char* rule, SettingReplacements* log) {
  int32_t from = field;
  if (from == to) return;
  field = static_cast<T>(to);
  if (log != nullptr && log->count < SettingReplacements::kMax) log->items[log->count++] = {key, from, to, rule};
}

}  // namespace

void ValidateReadSettings(RecorderSettings* s, SettingReplacements* log) {
  if (!oneOf(s->RECINGMODE1, {1, 2})) replace(s->RECINGMODE1, RECINGMODE_EVENT, "RECINGMODE1", "1 or 2", log);
  if (!oneOf(s->RECMOD, {1, 2})) replace(s->RECMOD, 2, "RECMOD", "1 or 2", log);

  if (s->RECINGMODE1 == RECINGMODE_EVENT) {
    const char* rates = "event mode: 1, 10, 15 or 30";
    if (!oneOf(s->PRERECINT1, {1, 10, 15, 30})) replace(s->PRERECINT1, 10, "PRERECINT1", rates, log);
    if (!oneOf(s->POSTRECINT1, {1, 10, 15, 30})) replace(s->POSTRECINT1, 10, "POSTRECINT1", rates, log);
    if (s->PRERECINT1 != s->POSTRECINT1) {
      const char* same = "event mode: PRERECINT1 and POSTRECINT1 must be equal";
      replace(s->PRERECINT1, 10, "PRERECINT1", same, log);
      replace(s->POSTRECINT1, 10, "POSTRECINT1", same, log);
    }
    int32_t rate = s->PRERECINT1;
    int32_t pre = s->PRERECTIME1, post = s->POSTRECTIME1;
    auto pairIs = [&](int32_t a, int32_t b) { return pre == a && post == b; };
    auto resetPair = [&](int32_t a, int32_t b, const char* rule) {
      replace(s->PRERECTIME1, a, "PRERECTIME1", rule, log);
      replace(s->POSTRECTIME1, b, "POSTRECTIME1", rule, log);
    };
    if (rate == 1) {
      resetPair(2, 5, "event mode at rate 1: the times are always 2 and 5");
    } else if (rate == 10 || rate == 15) {
      if (!(pairIs(10, 10) || pairIs(12, 8) || pairIs(15, 5) || pairIs(15, 15) || pairIs(18, 12) || pairIs(20, 10))) {
        resetPair(15, 5, "event mode at rate 10 or 15: PRERECTIME1,POSTRECTIME1 one of 10,10 12,8 15,5 15,15 18,12 20,10");
      }
    } else if (!(pairIs(10, 10) || pairIs(12, 8) || pairIs(15, 5))) {  // rate 30
      resetPair(15, 5, "event mode at rate 30: PRERECTIME1,POSTRECTIME1 one of 10,10 12,8 15,5");
    }
  } else {
    const char* rates = "continuous mode: 1, 5, 10 or 15";
    if (!oneOf(s->PRERECINT1, {1, 5, 10, 15})) replace(s->PRERECINT1, 10, "PRERECINT1", rates, log);
    if (!oneOf(s->POSTRECINT1, {1, 5, 10, 15})) replace(s->POSTRECINT1, 10, "POSTRECINT1", rates, log);
    if (s->PRERECINT1 != s->POSTRECINT1) {
      const char* same = "continuous mode: PRERECINT1 and POSTRECINT1 must be equal";
      replace(s->PRERECINT1, 10, "PRERECINT1", same, log);
      replace(s->POSTRECINT1, 10, "POSTRECINT1", same, log);
    }
  }

  if (!oneOf(s->PREFIELD1, {2, 4})) replace(s->PREFIELD1, 4, "PREFIELD1", "2 or 4", log);
  if (!oneOf(s->POSTFIELD1, {2, 4})) replace(s->POSTFIELD1, 4, "POSTFIELD1", "2 or 4", log);
  if (s->PREFIELD1 != s->POSTFIELD1) {
    const char* same = "PREFIELD1 and POSTFIELD1 must be equal";
    replace(s->PREFIELD1, 4, "PREFIELD1", same, log);
    replace(s->POSTFIELD1, 4, "POSTFIELD1", same, log);
  }

  if (s->PREFIELD1 == 4) {
    const char* sizes = "fields 4: 32 or 64";
    if (!oneOf(s->PRESIZE1, {32, 64})) replace(s->PRESIZE1, 64, "PRESIZE1", sizes, log);
    if (!oneOf(s->POSTSIZE1, {32, 64})) replace(s->POSTSIZE1, 64, "POSTSIZE1", sizes, log);
  } else {
    const char* sizes = "fields 2: 10 or 20";
    if (!oneOf(s->PRESIZE1, {10, 20})) replace(s->PRESIZE1, 20, "PRESIZE1", sizes, log);
    if (!oneOf(s->POSTSIZE1, {10, 20})) replace(s->POSTSIZE1, 20, "POSTSIZE1", sizes, log);
  }

  if (!(s->ACCSEN & 1)) {  // bit 0 set: one level for all axes, the axis levels are not used
    const char* level = "ACCSEN bit 0 clear: an axis level from -8 to 8";
    if (abs(static_cast<int>(s->ACCSENX)) > 8) replace(s->ACCSENX, 4, "ACCSENX", level, log);
    if (abs(static_cast<int>(s->ACCSENY)) > 8) replace(s->ACCSENY, 4, "ACCSENY", level, log);
    if (abs(static_cast<int>(s->ACCSENZ)) > 8) replace(s->ACCSENZ, 4, "ACCSENZ", level, log);
  }
  if (s->PASSWORD < 4639 || s->PASSWORD > 31636) replace(s->PASSWORD, 0, "PASSWORD", "4639 to 31636, else 0", log);
}

void ValidateWriteSettings(RecorderSettings* s) {
  if (!oneOf(s->RECINGMODE1, {1, 2})) s->RECINGMODE1 = RECINGMODE_EVENT;
  if (!oneOf(s->RECMOD, {1, 2})) s->RECMOD = 2;

  if (s->RECINGMODE1 == RECINGMODE_EVENT) {
    if (!oneOf(s->PRERECTIME1, {10, 12, 15})) s->PRERECTIME1 = 15;
    if (!oneOf(s->POSTRECTIME1, {5, 8, 10})) s->POSTRECTIME1 = 5;
    if (s->PRERECTIME1 + s->POSTRECTIME1 > 20) {
      s->PRERECTIME1 = 15;
      s->POSTRECTIME1 = 5;
    }
    if (!oneOf(s->PRERECINT1, {10, 15, 30})) s->PRERECINT1 = 10;
    if (!oneOf(s->POSTRECINT1, {10, 15, 30})) s->POSTRECINT1 = 10;
  } else {
    if (!oneOf(s->PRERECINT1, {5, 10, 15})) s->PRERECINT1 = 10;
    if (!oneOf(s->POSTRECINT1, {5, 10, 15})) s->POSTRECINT1 = 10;
  }

  if (!oneOf(s->PREFIELD1, {2, 4})) s->PREFIELD1 = 4;
  if (!oneOf(s->POSTFIELD1, {2, 4})) s->POSTFIELD1 = 4;
  auto sizeFor = [](SharedField<int32_t>& size, int32_t field) {
    if (field == 2) {
      if (!oneOf(size, {10, 20})) size = 20;
    } else if (!oneOf(size, {32, 64})) {
      size = 64;
    }
  };
  sizeFor(s->PRESIZE1, s->PREFIELD1);
  sizeFor(s->POSTSIZE1, s->POSTFIELD1);

  limitAxisLevels(s);
}

int ReadConfigFile(RecorderSettings* settings) {
  if (settings == nullptr) return -1;
  char path[128];
  configPath(path, sizeof path, SET_DAT_NAME);
  if (!exists(path)) {
    configPath(path, sizeof path, SET_INI_NAME);
    if (!exists(path)) return -1;
  }

  // Read and validate a copy, then publish it: the other threads never see a value that the
  // rules would refuse.
  RecorderSettings s = *settings;
  for (size_t i = 0; i < kSettingKeyCount; ++i) {
    const SettingKey& k = kSettingKeys[i];
    k.set(s, GetPrivateProfileInt(kSection, k.name, k.get(s), path));
  }
  ValidateReadSettings(&s);
  *settings = s;
  return 0;
}

int WriteConfigFile(RecorderSettings* s) {
  if (s == nullptr) return -1;
  ValidateWriteSettings(s);
  char path[128];
  configPath(path, sizeof path, SET_DAT_NAME);
  FILE* f = plat::fopen(path, "w");
  if (f == nullptr) {
    TRACE(TAG, "Error : File open %s\n", path);
    return -1;
  }
  fprintf(f, "[SET]\n");
  fprintf(f, "POSTFIELD1=%d\n", static_cast<int>(s->POSTFIELD1));
  fprintf(f, "POSTRECINT1=%d\n", static_cast<int>(s->POSTRECINT1));
  fprintf(f, "POSTSIZE1=%d\n", static_cast<int>(s->POSTSIZE1));
  fprintf(f, "RECMOD=%d\n", static_cast<int>(s->RECMOD));
  fprintf(f, "TRGSET=%d\n", static_cast<int>(s->TRGSET));
  fprintf(f, "ACCSEN=%d\n", static_cast<int>(s->ACCSEN));
  fprintf(f, "ACCSENX=%d\n", static_cast<int>(s->ACCSENX));
  fprintf(f, "ACCSENY=%d\n", static_cast<int>(s->ACCSENY));
  fprintf(f, "ACCSENZ=%d\n", static_cast<int>(s->ACCSENZ));
  fprintf(f, "RECINGMODE1=%d\n", static_cast<int>(s->RECINGMODE1));
  fprintf(f, "PRERECTIME1=%d\n", static_cast<int>(s->PRERECTIME1));
  fprintf(f, "POSTRECTIME1=%d\n", static_cast<int>(s->POSTRECTIME1));
  fprintf(f, "PRERECINT1=%d\n", static_cast<int>(s->PRERECINT1));
  fprintf(f, "PRESIZE1=%d\n", static_cast<int>(s->PRESIZE1));
  fprintf(f, "PREFIELD1=%d\n", static_cast<int>(s->PREFIELD1));
  fprintf(f, "BEEPRECORD=%d\n", static_cast<int>(s->BEEPRECORD));
  return flushAndClose(f);
}

int ReadTimeConfigFile(time_t* clock) {
  char path[128];
  configPath(path, sizeof path, TIME_INI_NAME);
  if (!exists(path)) return -1;

  char value[64];
  snprintf(value, sizeof value, "%s", kDefaultUtcTime);
  pthread_mutex_lock(&wlock);
  GetPrivateProfileString2(kSection, "UTCTIME", value, value, sizeof value, path);
  pthread_mutex_unlock(&wlock);
  TRACE(TAG, "szVal %s\n", value);

  // Only the last two characters are examined for the line end.
  size_t len = strlen(value);
  for (size_t back = 1; back <= 2 && back <= len; ++back) {
    char& c = value[len - back];
    if (c == '\r' || c == '\n') c = '\0';
  }
  TRACE(TAG, "szVal %s\n", value);

  if (plat::remove(path) != 0) TRACE(TAG, "fail to remove(%s)\n", path);
  TRACE(TAG, "time.ini %s(%d)\n", value, static_cast<int>(strlen(value)));
  if (strcmp(value, kDefaultUtcTime) == 0) return -1;

  struct tm tm = {};
  int fields = sscanf(value, "%04d.%02d.%02d;%02d:%02d:%02d", &tm.tm_year, &tm.tm_mon, &tm.tm_mday, &tm.tm_hour,
                      &tm.tm_min, &tm.tm_sec);
  if (fields < 3) {
    // Without a whole date the value must never reach the clock; missing time fields are 0.
    TRACE(TAG, "invalid UTCTIME, ignored");
    return -1;
  }
  tm.tm_year -= 1900;
  tm.tm_mon -= 1;
  time_t converted = mktime(&tm);
  if (converted == static_cast<time_t>(-1)) {
    TRACE(TAG, "invalid UTCTIME, ignored");
    return -1;
  }
  *clock = converted;
  TRACE(TAG, "~ReadTimeConfigFile(%lu)\n", static_cast<unsigned long>(*clock));
  return 0;
}

int CmpFirmwareVersion(const char* version, const char* path) {
  if (!exists(path)) return -1;
  FILE* f = plat::fopen(path, "r");
  if (f == nullptr) {
    TRACE(TAG, "Error : File open %s\n", path);
    return -1;
  }
  char first[40] = "", second[40] = "";
  int words = fscanf(f, "%39s %39s", first, second);
  fclose(f);
  if (words != 2) return -1;
  return strcmp(second, version) == 0 ? 0 : -1;
}

int CreateVersionFile() {
  char version[40];
  FILE* f = exists(FIRMWARE_VERSION_FILE) ? plat::fopen(FIRMWARE_VERSION_FILE, "r") : nullptr;
  if (f == nullptr) {
    if (exists(FIRMWARE_VERSION_FILE)) TRACE(TAG, "Failed to fopen(%s)\n", FIRMWARE_VERSION_FILE);
    TRACE(TAG, "Error : GetFirmwareVersion()");
    return -1;
  }
  bool got = fgets(version, sizeof version, f) != nullptr;
  fclose(f);
  if (!got) {
    TRACE(TAG, "Failed to fgets()");
    TRACE(TAG, "Error : GetFirmwareVersion()");
    return -1;
  }
  version[strcspn(version, "\n")] = '\0';
  TRACE(TAG, "Firmware Version : [%s]\n", version);

  char path[128];
  configPath(path, sizeof path, VERSION_INI_NAME);
  if (exists(path) && CmpFirmwareVersion(version, path) == 0) {
    TRACE(TAG, "@@ Same version");
    return 0;
  }
  FILE* out = plat::fopen(path, "w");
  if (out == nullptr) {
    TRACE(TAG, "Error : File open %s\n", path);
    return -1;
  }
  fprintf(out, "[INFO]\n%s\n", version);
  return flushAndClose(out);
}
