/*
 * The board kernel's camera and JPEG driver, as far as the image sensor goes. The rest of that
 * driver (/dev/cam0, the encoder ring) is the camera model in sim/board/camera_model.*; this
 * part is the C side it calls, because on the board the driver reaches the sensor through the
 * zr31camera module's exported i2c_zr31camera_device_new() and the client it gives.
 *
 * It needs zr31camera loaded first, as the real driver does (it would not load with that
 * symbol unresolved): the board's load order puts it after zr31camera.
 */
#include <linux/module.h>
#include <linux/kernel.h>
#include <linux/init.h>
#include <linux/errno.h>
#include <linux/i2c.h>

#include "zr31camera.h"
#include "cam_jpeg.h"

static int cam_jpeg_loaded;
static struct i2c_client *sensor;

int cam_jpeg_sensor_open(void)
{
	struct i2c_client *client = NULL;
	int result;

	if (!cam_jpeg_loaded)
		return -ENODEV;
	result = i2c_zr31camera_device_new(&client);
	/* The client is kept even when its start-up table failed: the sensor is there. */
	sensor = client;
	return result;
}

struct i2c_client *cam_jpeg_sensor_client(void)
{
	return sensor;
}

int cam_jpeg_sensor_command(unsigned int cmd, void *arg)
{
	if (!cam_jpeg_loaded || !sensor)
		return -ENODEV;
	return sensor->driver->command(sensor, cmd, arg);
}

int cam_jpeg_sensor_options(int option_a, int option_b)
{
	u32 options[2];

	options[0] = option_a ? 1 : 0;
	options[1] = option_b ? 1 : 0;
	return cam_jpeg_sensor_command(ZR31CAMERA_CMD_SET_OPTIONS, options);
}

int cam_jpeg_sensor_write(unsigned char reg, unsigned char value)
{
	u8 buf[3];
	struct i2c_msg msg;
	int result;

	if (!cam_jpeg_loaded || !sensor)
		return -ENODEV;
	buf[0] = reg;
	buf[1] = 0;
	buf[2] = value;
	msg.addr = sensor->addr;
	msg.flags = 0;
	msg.len = sizeof(buf);
	msg.buf = buf;
	result = i2c_transfer(sensor->adapter, &msg, 1);
	return result == 1 ? 0 : (result < 0 ? result : -EIO);
}

static int __init cam_jpeg_init(void)
{
	sensor = NULL;
	cam_jpeg_loaded = 1;
	return 0;
}

static void __exit cam_jpeg_exit(void)
{
	/* The client belongs to zr31camera, which detaches it when it goes. */
	sensor = NULL;
	cam_jpeg_loaded = 0;
}

module_init(cam_jpeg_init);
module_exit(cam_jpeg_exit);
MODULE_LICENSE("GPL");
