// The recorder's answers on the controller's port: ACK, NACK, the two settings frames, the
// firmware version and the record status.
#include <cstdio>
#include <cstring>

#include "config/settings.h"
#include "core/trace.h"
#include "platform/platform.h"
#include "serial/rd_com.h"
#include "serial/serial_port.h"

#define TAG RD_COM_TAG

namespace {

constexpr char kVersionPrefix[] = "VERSION=KVOX_";
constexpr size_t kVersionLineMax = 39;

int gPort = 0;  // the controller thread's port; 0: none

int writeFrame(const uint8_t* bytes, size_t count) {
  int written = WriteComPort(gPort, bytes, static_cast<int>(count));
  if (written != static_cast<int>(count)) {
    TRACE(TAG, "failed to WriteComPort()");  // not repeated: the controller asks again
    return -1;
  }
  return 0;
}

int sendFrame(uint8_t cmd, const void* payload, size_t count) {
  uint8_t frame[rd::kMaxFrame];
  return writeFrame(frame, rd::buildFrame(cmd, payload, count, frame));
}

}  // namespace

void RdComSetPort(int handle) { gPort = handle; }
int RdComPort() { return gPort; }

int SendAck() { return sendFrame(rd::kRspAck, nullptr, 0); }
int SendNack() { return sendFrame(rd::kRspNack, nullptr, 0); }

int SendRecordingSettingsFrame(const RecorderSettings* s) {
  rd::RecordingSettings p;
  p.type = rd::kSettingsRecording;
  p.one = 1;
  // Each value cut to the width of its field on the line.
  p.RECINGMODE1 = static_cast<uint8_t>(s->RECINGMODE1.load());
  p.PRERECTIME1.set(static_cast<uint16_t>(s->PRERECTIME1.load()));
  p.POSTRECTIME1.set(static_cast<uint16_t>(s->POSTRECTIME1.load()));
  p.PRERECINT1.set(static_cast<uint16_t>(s->PRERECINT1.load()));
  p.POSTRECINT1.set(static_cast<uint16_t>(s->POSTRECINT1.load()));
  p.PRESIZE1.set(static_cast<uint16_t>(s->PRESIZE1.load()));
  p.POSTSIZE1.set(static_cast<uint16_t>(s->POSTSIZE1.load()));
  p.PREFIELD1 = static_cast<uint8_t>(s->PREFIELD1.load());
  p.POSTFIELD1 = static_cast<uint8_t>(s->POSTFIELD1.load());
  return sendFrame(rd::kRspSettings, &p, sizeof p);
}

int SendGsensorSettingsFrame(const RecorderSettings* s) {
  rd::GsensorSettings p;
  p.type = rd::kSettingsGsensor;
  p.ACCSEN = static_cast<uint8_t>(s->ACCSEN.load());
  p.ACCSENX.set(s->ACCSENX.load());
  p.ACCSENY.set(s->ACCSENY.load());
  p.ACCSENZ.set(s->ACCSENZ.load());
  p.TRGSET = s->TRGSET.load();
  p.RECMOD = s->RECMOD.load();
  return sendFrame(rd::kRspSettings, &p, sizeof p);
}

rd::Version ReadFirmwareVersion() {
  rd::Version v = {0, 0, 0, 0};
  FILE* f = plat::fopen(FIRMWARE_VERSION_FILE, "r");
  if (f == nullptr) {
    TRACE(TAG, "Failed to fopen(%s)\n", FIRMWARE_VERSION_FILE);
    return v;
  }
  char line[kVersionLineMax + 1];
  bool got = fgets(line, sizeof line, f) != nullptr;
  fclose(f);
  if (!got) {
    TRACE(TAG, "Failed to fgets()");
    return v;
  }
  line[strcspn(line, "\n")] = '\0';
  TRACE(TAG, "ROM VERSION : %s\n", line);
  if (strncmp(line, kVersionPrefix, sizeof kVersionPrefix - 1) != 0) {
    TRACE(TAG, "@@ Invalid Firmware Naming");
    return v;
  }
  int major = 0, minor = 0, subminor = 0, rc = 0;  // a part that is missing stays 0
  sscanf(line, "VERSION=KVOX_%d.%d.%d.RC%d", &major, &minor, &subminor, &rc);
  TRACE(TAG, "Major:%d Minor:%d SubMinor:%d RC:%d\n", major, minor, subminor, rc);
  v.major = static_cast<uint8_t>(major);
  v.minor = static_cast<uint8_t>(minor);
  v.subminor = static_cast<uint8_t>(subminor);
  v.rc = static_cast<uint8_t>(rc);
  return v;
}

int SendVersionFrame() {
  rd::Version v = ReadFirmwareVersion();
  return sendFrame(rd::kRspVersion, &v, sizeof v);
}

int SendRecordStatusFrame(const rd::RecordStatus* status) {
  rd::StatusPayload p = rd::statusPayload(*status);
  return sendFrame(rd::kRspStatus, &p, sizeof p);
}
