// The camera sensor's I2C client driver through the emulated kernel, called as the camera driver
// calls it; the sensor model on the bus records every register write.
#include <cerrno>
#include <cstdint>
#include <future>
#include <utility>
#include <vector>

#include "board/outside/cam_jpeg.h"
#include "drivers/support/other_i2c_client.h"
#include "host_support/io_board.h"
#include "zr31camera.h"

namespace {

using testing_board::IoBoardTest;
using Writes = std::vector<std::pair<int, int>>;  // register, value

const Writes kStartUp = {{0x01, 0x0001}, {0x07, 0x0001}, {0x07, 0x0000},
                         {0x01, 0x0004}, {0x0d, 0x0001}, {0x0d, 0x0000}};

Writes optionTable(int mode, int control) {
  return {{0x00, 0x0000}, {0x01, 0x0001}, {0x08, mode}, {0x01, 0x0004}, {0x20, control}};
}

Writes operator+(Writes a, const Writes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class Zr31Camera : public IoBoardTest {
 protected:
  Writes writes() const {
    Writes out;
    for (const auto& w : io->sensor().writes()) out.emplace_back(w.reg, w.value);
    return out;
  }
  int command(unsigned cmd, uint32_t optionA, uint32_t optionB) {
    uint32_t words[2] = {optionA, optionB};
    return cam_jpeg_sensor_command(cmd, words);
  }
  // The sensor client, made as the camera driver makes it at open; the start-up table is then
  // forgotten so that a test sees only its own writes.
  i2c_client* openSensor() {
    EXPECT_EQ(cam_jpeg_sensor_open(), 0);
    io->sensor().clearWrites();
    return cam_jpeg_sensor_client();
  }
};

TEST_F(Zr31Camera, LoadsWithTheBoardAndFindsTheSensorOnlyWhenAsked) {
  EXPECT_NE(sim::kernel::logText().find("i2c-zr31camera: i2c_zr31camera_init:"), std::string::npos);
  EXPECT_TRUE(writes().empty()) << "the driver does not probe at load";
  i2c_client* client = nullptr;
  ASSERT_EQ(i2c_zr31camera_device_new(&client), 0);
  EXPECT_NE(client, nullptr);
  EXPECT_EQ(writes(), kStartUp);
  // A second call keeps the client and writes the start-up table again.
  io->sensor().clearWrites();
  ASSERT_EQ(cam_jpeg_sensor_open(), 0);
  EXPECT_EQ(writes(), kStartUp);
  EXPECT_EQ(cam_jpeg_sensor_client(), client);
  EXPECT_EQ(sim::kernel::rmmod("zr31camera"), 0);
  EXPECT_NE(sim::kernel::logText().find("i2c-zr31camera: i2c_zr31camera_exit:"), std::string::npos);
}

TEST_F(Zr31Camera, OptionCommandWritesTheStartUpThenThePatchedOptionTable) {
  openSensor();
  struct Case {
    uint32_t a, b;
    int mode, control;
  } cases[] = {{0, 0, 0xc800, 0x0000}, {1, 1, 0xc803, 0xc000}, {7, 0, 0xc802, 0x8000}, {0, 0xffffffff, 0xc801, 0x4000}};
  for (const Case& c : cases) {
    io->sensor().clearWrites();
    EXPECT_EQ(command(ZR31CAMERA_CMD_SET_OPTIONS, c.a, c.b), 0);
    EXPECT_EQ(writes(), kStartUp + optionTable(c.mode, c.control)) << c.a << " " << c.b;
  }
  EXPECT_EQ(io->sensor().reg(0x08), 0xc801);
  EXPECT_EQ(io->sensor().reg(0x20), 0x4000);
  // The option table is copied for each command: the constant keeps its values.
  io->sensor().clearWrites();
  EXPECT_EQ(command(ZR31CAMERA_CMD_SET_OPTIONS, 0, 0), 0);
  EXPECT_EQ(io->sensor().reg(0x08), 0xc800);
}

TEST_F(Zr31Camera, OtherCommandsAndAMissingArgumentAreRefusedWithoutAWrite) {
  openSensor();
  EXPECT_EQ(command(0, 1, 1), -EINVAL);
  EXPECT_EQ(command(2, 1, 1), -EINVAL);
  EXPECT_EQ(cam_jpeg_sensor_command(ZR31CAMERA_CMD_SET_OPTIONS, nullptr), -EINVAL);
  EXPECT_TRUE(writes().empty());
}

TEST_F(Zr31Camera, TablesEndAtTheirMarkAndPausesWaitWithoutWriting) {
  i2c_client* client = openSensor();
  const zr31camera_reg empty[] = {{ZR31CAMERA_TABLE_END, 0, 0}, {0x01, 0x12, 0x34}};
  EXPECT_EQ(zr31camera_write_table(client, empty), 0);
  EXPECT_TRUE(writes().empty());
  EXPECT_EQ(zr31camera_write_table(client, nullptr), -EINVAL);

  const zr31camera_reg paused[] = {{0x05, 0x00, 0x01}, {ZR31CAMERA_TABLE_PAUSE, 5, 0x77}, {0x06, 0xab, 0xcd},
                                   {ZR31CAMERA_TABLE_END, 0, 0}};
  auto done = std::async(std::launch::async, [&] { return zr31camera_write_table(client, paused); });
  ASSERT_TRUE(sleeping(1));
  EXPECT_EQ(writes(), (Writes{{0x05, 0x0001}}));
  io->events().advance(4 * sim::kNsPerMs);
  EXPECT_TRUE(stillWaiting(done));
  io->events().advance(1 * sim::kNsPerMs);
  EXPECT_EQ(done.get(), 0);
  auto w = io->sensor().writes();
  ASSERT_EQ(w.size(), 2u);
  EXPECT_EQ(w[1].reg, 0x06);
  EXPECT_EQ(w[1].value, 0xabcd);
  EXPECT_EQ(w[1].elapsedNs - w[0].elapsedNs, 5 * sim::kNsPerMs);
}

TEST_F(Zr31Camera, AFailedWriteStopsTheTableAndItsErrorReachesTheCaller) {
  openSensor();
  io->sensor().failWriteAfter(2);  // the third write of the start-up table
  EXPECT_EQ(command(ZR31CAMERA_CMD_SET_OPTIONS, 1, 1), -EREMOTEIO);
  EXPECT_EQ(writes(), (Writes{{0x01, 0x0001}, {0x07, 0x0001}})) << "no option table after a failed start-up table";

  io->sensor().clearWrites();
  io->sensor().failWriteAfter(6 + 2);  // the option table's mode register
  EXPECT_EQ(command(ZR31CAMERA_CMD_SET_OPTIONS, 1, 1), -EREMOTEIO);
  EXPECT_EQ(writes(), kStartUp + Writes({{0x00, 0x0000}, {0x01, 0x0001}}));

  io->sensor().clearWrites();
  io->sensor().failWriteAfter(0);
  i2c_client* client = nullptr;
  EXPECT_EQ(i2c_zr31camera_device_new(&client), -EREMOTEIO) << "a start-up table that fails fails the call";
  EXPECT_NE(client, nullptr) << "the sensor is there all the same";
}

TEST_F(Zr31Camera, WithoutTheSensorOnTheBusThereIsNoClient) {
  sim::kernel::detachI2cDevice(sim::Tq90raBoard::kI2cBus, sim::Zr31SensorModel::kAddress);
  i2c_client* client = nullptr;
  EXPECT_EQ(i2c_zr31camera_device_new(&client), -ENXIO);
  EXPECT_EQ(client, nullptr);
  EXPECT_EQ(cam_jpeg_sensor_open(), -ENXIO);
  EXPECT_EQ(command(ZR31CAMERA_CMD_SET_OPTIONS, 0, 0), -ENODEV) << "the camera driver has no sensor to command";

}

// Found while there, then gone: the next call notices (its start-up table is not acknowledged)
// but the client its holder has stays valid and keeps the address, and works once the sensor
// answers again.
TEST_F(Zr31Camera, ASecondCallThatFailsLeavesTheFirstClientInPlace) {
  i2c_client* first = openSensor();  // held by the camera driver
  ASSERT_NE(first, nullptr);
  sim::kernel::detachI2cDevice(sim::Tq90raBoard::kI2cBus, sim::Zr31SensorModel::kAddress);
  i2c_client* second = nullptr;
  EXPECT_EQ(i2c_zr31camera_device_new(&second), -EREMOTEIO);
  EXPECT_EQ(second, first);
  int other = other_i2c_client_attach(sim::Tq90raBoard::kI2cBus, sim::Zr31SensorModel::kAddress, 0, 0, 0);
  if (other == 0) other_i2c_client_detach();
  ASSERT_EQ(other, -EBUSY) << "the first client still holds the sensor's address";
  sim::kernel::attachI2cDevice(sim::Tq90raBoard::kI2cBus, sim::Zr31SensorModel::kAddress,
                               std::shared_ptr<sim::Zr31SensorModel>(&io->sensor(), [](sim::Zr31SensorModel*) {}));
  io->sensor().clearWrites();
  EXPECT_EQ(command(ZR31CAMERA_CMD_SET_OPTIONS, 0, 0), 0) << "through the camera driver's client";
  EXPECT_EQ(writes(), kStartUp + optionTable(0xc800, 0x0000));
}

}  // namespace
