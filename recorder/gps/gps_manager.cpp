#include "gps/gps_manager.h"

#include <cstring>

#include "core/trace.h"
#include "gps/furuno_codec.h"
#include "gps/nmea_codec.h"
#include "gps/ubx_codec.h"

#define TAG "GPSMGR___"

// One row per protocol, indexed by its id; a protocol without a hook has none here.
const GpsProtocolRow Manager[GPS_PROTOCOL_COUNT] = {
    {GPS_PROTO_UBX, 0, "UBX", UbxInit, UbxDecode, nullptr, nullptr, UbxProbe, UbxConfig},
    {GPS_PROTO_FURUNO, 0, "FURUNO", FurunoInit, FurunoDecode, FurunoEncode, nullptr, FurunoProbe, FurunoConfig},
    {GPS_PROTO_NMEA, 0, "NMEA", NmeaInit, NmeaDecode, NmeaEncode, NmeaSetSpeedUnit, nullptr, nullptr},
    {GPS_PROTO_GARMIN, 0, "GARMIN", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
};

namespace {

bool validId(int32_t protocol) { return protocol >= 0 && protocol < GPS_PROTOCOL_COUNT; }

}  // namespace

int MgrSetProtocol(GpsMgrContext* ctx, int32_t protocol) {
  if (!validId(protocol)) return -1;
  ctx->protocol = protocol;
  TRACE(TAG, "MgrSetProtocol : %d\n", protocol);
  return 0;
}

int32_t MgrGetProtocol(const GpsMgrContext* ctx) { return ctx->protocol; }

int MgrSetSpeedUnit(GpsMgrContext* ctx, int32_t unit) {
  if (!validId(ctx->protocol)) return -1;
  ctx->speedUnit = unit != 0 ? 1 : 0;
  const GpsProtocolRow& row = Manager[ctx->protocol];
  return row.SetSpeedUnit ? row.SetSpeedUnit(ctx->speedUnit) : 0;
}

int MgrInit(GpsMgrContext* ctx, void* opaque, int32_t protocol, int32_t speedUnit) {
  if (MgrSetProtocol(ctx, protocol) != 0) return -1;
  if (MgrSetSpeedUnit(ctx, speedUnit) != 0) return -1;
  const GpsProtocolRow& row = Manager[ctx->protocol];
  return row.Init ? row.Init(opaque) : 0;
}

int MgrProbe(GpsMgrContext* ctx, int port, int32_t protocol, ComReadFn read, ComWriteFn write) {
  if (!validId(protocol) || !Manager[protocol].Probe) return 0;
  int found = Manager[protocol].Probe(port, read, write);
  if (found != 0) {
    ctx->protocol = protocol;
    TRACE(TAG, ">>> %s GPS detected <<<\n", Manager[protocol].name);
  }
  return found;
}

int MgrConfig(GpsMgrContext* ctx, int port, int32_t protocol, ComReadFn read, ComWriteFn write) {
  (void)ctx;
  if (!validId(protocol) || !Manager[protocol].Config) return 0;
  return Manager[protocol].Config(port, read, write);
}

int MgrDecode(GpsMgrContext* ctx, const uint8_t* bytes, int count, GpsFixRecord* record, int debug) {
  if (!validId(ctx->protocol) || !Manager[ctx->protocol].Decode) return 0;
  return Manager[ctx->protocol].Decode(bytes, count, record, debug);
}

int MgrEncode(GpsMgrContext* ctx, uint8_t* output, int size, const void* source) {
  if (!validId(ctx->protocol) || !Manager[ctx->protocol].Encode) return 0;
  return Manager[ctx->protocol].Encode(output, size, source) != 0 ? 1 : 0;
}

int MgrQuarryProtocol(const GpsMgrContext* ctx, int32_t protocol, char* name) {
  (void)ctx;
  if (!validId(protocol)) return -1;
  memcpy(name, Manager[protocol].name, strlen(Manager[protocol].name) + 1);
  return 0;
}
