/*
 * zr31camera: what the camera and JPEG driver (and the driver tests) see of the image sensor's
 * I2C client driver. Only primitive types, so that C++ test code can include it too.
 */
#ifndef ZR31CAMERA_H
#define ZR31CAMERA_H

struct i2c_client;

#define ZR31CAMERA_I2C_ADDRESS 0x48

/* The client command that writes the start-up table and then the option table. Its argument
 * is two 32-bit words: option A, option B (non-zero: on). */
#define ZR31CAMERA_CMD_SET_OPTIONS 1

/* One entry of a register table: the register and its 16-bit value, high byte first. A table
 * ends with an entry whose register is ZR31CAMERA_TABLE_END; an entry whose register is
 * ZR31CAMERA_TABLE_PAUSE waits `high` milliseconds. */
struct zr31camera_reg {
	unsigned char reg;
	unsigned char high;
	unsigned char low;
};

#define ZR31CAMERA_TABLE_END 0xff
#define ZR31CAMERA_TABLE_PAUSE 0xfe

#ifdef __cplusplus
extern "C" {
#endif

/* Exported: finds the sensor on the board's I2C bus, makes its client, writes the start-up
 * table. 0, -ENXIO when the sensor does not answer, or the failed write's error. */
int i2c_zr31camera_device_new(struct i2c_client **client);

/* Not exported (the module's own): writes a register table. Declared here for the driver
 * tests. */
int zr31camera_write_table(struct i2c_client *client, const struct zr31camera_reg *table);

#ifdef __cplusplus
}
#endif

#endif
