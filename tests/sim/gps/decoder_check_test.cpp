// The receiver models' output, captured at the board's end of the line, decoded by a decoder
// that is not ours (gpsd's gpsdecode): no errors, valid checksums, and the vehicle's true
// position, time, speed and course.
#include <gtest/gtest.h>

#include <cmath>

#include "board/gps/nmea_receiver.h"
#include "board/gps/ubx_frame.h"
#include "board/gps/ublox_receiver.h"
#include "sim/gps/receiver_fixture.h"

namespace {

using testing_board::Decoded;
using testing_board::ReceiverFixture;

class DecoderCheck : public ReceiverFixture {
 protected:
  // Every position report checked against the truth at its time; how many there were.
  int checkAgainstTheVehicle(const Decoded& d) {
    int reports = 0;
    for (const std::string& line : d.json) {
      if (testing_board::jsonText(line, "class") != "TPV" || testing_board::jsonNumber(line, "mode") < 2) continue;
      bool hasLat = false, hasSpeed = false, hasTrack = false;
      double lat = testing_board::jsonNumber(line, "lat", &hasLat);
      double lon = testing_board::jsonNumber(line, "lon");
      if (!hasLat) continue;
      int64_t seconds = testing_board::isoSeconds(testing_board::jsonText(line, "time"));
      sim::VehicleState truth = vehicle->at(elapsedOf(seconds * 1000000000LL));
      EXPECT_NEAR(lat, truth.latDeg, 1e-6) << line;
      EXPECT_NEAR(lon, truth.lonDeg, 1e-6) << line;
      // Speed and course as the decoder reports them, or from the velocity it decoded (north and
      // east in centimetres a second leave the course good to half a degree at walking pace).
      bool hasVelocity = false;
      double north = testing_board::jsonNumber(line, "velN", &hasVelocity);
      double east = testing_board::jsonNumber(line, "velE");
      double speed = hasVelocity ? std::hypot(north, east) : testing_board::jsonNumber(line, "speed", &hasSpeed);
      double track = hasVelocity ? std::atan2(east, north) * 180 / M_PI : testing_board::jsonNumber(line, "track", &hasTrack);
      if (hasVelocity || hasSpeed) {
        EXPECT_NEAR(speed, truth.speedMps, 0.01) << line;
      }
      if ((hasVelocity || hasTrack) && truth.speedMps > 1) {
        EXPECT_NEAR(std::remainder(track - truth.headingDeg, 360), 0, hasVelocity ? 0.6 : 0.01) << line;
      }
      ++reports;
    }
    return reports;
  }
  // 45 s of output, in which the car has left its start: decoded without a complaint, and right.
  void expectTheDecoderToFindTheTruth(const std::string& out) {
    ASSERT_GT(vehicle->at(sim::Clock::elapsed()).distanceM, 50) << "the car has moved";
    Decoded d = testing_board::gpsdecode(out);
    EXPECT_EQ(d.status, 0);
    EXPECT_EQ(d.errors, "");
    EXPECT_GE(checkAgainstTheVehicle(d), 40);
  }
};

TEST_F(DecoderCheck, TheUbloxModelsUbxOutputDecodesToTheTruth) {
  install<sim::UbloxReceiver>(1);
  send(sim::ubxFrame(0x06, 0x00, sim::UbxPayload().u1(1).u1(0).u2(0).u4(0x8D0).u4(9600).u2(1).u2(1).u2(0).u2(0).bytes()));
  for (uint8_t id : {0x02, 0x03, 0x04, 0x06, 0x12, 0x21, 0x30}) send(sim::ubxFrame(0x06, 0x01, {0x01, id, 0x01}));
  std::string out = run(45);
  int bad = 0;
  EXPECT_GT(testing_board::ubxMessages(out, &bad).size(), 250u);
  EXPECT_EQ(bad, 0);
  expectTheDecoderToFindTheTruth(out);
}

TEST_F(DecoderCheck, TheNmeaModelsSentencesDecodeToTheTruth) {
  install<sim::NmeaReceiver>(1);
  std::string out = run(45);
  int bad = 0;
  EXPECT_GT(testing_board::nmeaSentences(out, &bad).size(), 250u);
  EXPECT_EQ(bad, 0);
  expectTheDecoderToFindTheTruth(out);
}

}  // namespace
