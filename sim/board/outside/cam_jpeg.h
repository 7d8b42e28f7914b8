/*
 * What the camera model (C++) calls of the camera driver's sensor side (cam_jpeg.c). Results
 * are 0 or a negative errno; -ENODEV while the driver is not loaded or has no sensor client.
 */
#ifndef SIM_OUTSIDE_CAM_JPEG_H
#define SIM_OUTSIDE_CAM_JPEG_H

struct i2c_client;

#ifdef __cplusplus
extern "C" {
#endif

/* At the open of /dev/cam0: i2c_zr31camera_device_new(), which finds the sensor and writes its
 * start-up table. */
int cam_jpeg_sensor_open(void);
/* The client the last open got (each open makes a new one: an older one is gone). */
struct i2c_client *cam_jpeg_sensor_client(void);
/* The sensor client's command (1 sets the options from two 32-bit words). */
int cam_jpeg_sensor_command(unsigned int cmd, void *arg);
int cam_jpeg_sensor_options(int option_a, int option_b);
/* CAM_REG_WRITE: the 8-bit value into the sensor register (high byte 0). */
int cam_jpeg_sensor_write(unsigned char reg, unsigned char value);

#ifdef __cplusplus
}
#endif

#endif
