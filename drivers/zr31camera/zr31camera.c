/*
 * zr31camera: the I2C client driver of the ZR31CAMERA image sensor (legacy driver model). It
 * has no device file: the camera and JPEG driver behind /dev/cam0 calls
 * i2c_zr31camera_device_new() when it opens, which finds the sensor at 0x48 and writes its
 * start-up table, and sets the sensor's two options through the client command 1.
 *
 * A sensor register holds a 16-bit value; one register write is one 3-byte I2C write
 * (register, value high byte, value low byte).
 */
#include <linux/module.h>
#include <linux/kernel.h>
#include <linux/init.h>
#include <linux/slab.h>
#include <linux/string.h>
#include <linux/errno.h>
#include <linux/delay.h>
#include <linux/i2c.h>

#include "zr31camera.h"

#define ZR31CAMERA_NAME "ZR31CAMERA"
#define ZR31CAMERA_MSG_LEN 3

/* Option table entries that the options patch. */
#define OPTION_ENTRY_MODE 2
#define OPTION_ENTRY_CONTROL 4

static unsigned short normal_i2c[] = { ZR31CAMERA_I2C_ADDRESS, I2C_CLIENT_END };
I2C_CLIENT_INSMOD;

static const struct zr31camera_reg zr31camera_table_init[] = {
	{ 0x01, 0x00, 0x01 },
	{ 0x07, 0x00, 0x01 },
	{ 0x07, 0x00, 0x00 },
	{ 0x01, 0x00, 0x04 },
	{ 0x0d, 0x00, 0x01 },
	{ 0x0d, 0x00, 0x00 },
	{ ZR31CAMERA_TABLE_END, 0x00, 0x00 },
};

static const struct zr31camera_reg zr31camera_table_option[] = {
	{ 0x00, 0x00, 0x00 },
	{ 0x01, 0x00, 0x01 },
	{ 0x08, 0xc8, 0x00 },
	{ 0x01, 0x00, 0x04 },
	{ 0x20, 0x00, 0x00 },
	{ ZR31CAMERA_TABLE_END, 0x00, 0x00 },
};

#define OPTION_TABLE_ENTRIES (sizeof(zr31camera_table_option) / sizeof(zr31camera_table_option[0]))

static struct i2c_driver i2c_zr31camera_driver;

/* The adapter last announced to the driver, and the sensor's client once found. */
static struct i2c_adapter *tq90ra_adapter;
static struct i2c_client *zr31camera_client;

int zr31camera_write_table(struct i2c_client *client, const struct zr31camera_reg *table)
{
	const struct zr31camera_reg *entry;
	struct i2c_msg msg;
	u8 buf[ZR31CAMERA_MSG_LEN];
	int result;

	if (!table)
		return -EINVAL;
	for (entry = table; entry->reg != ZR31CAMERA_TABLE_END; entry++) {
		if (entry->reg == ZR31CAMERA_TABLE_PAUSE) {
			mdelay(entry->high);
			continue;
		}
		buf[0] = entry->reg;
		buf[1] = entry->high;
		buf[2] = entry->low;
		msg.addr = client->addr;
		msg.flags = 0;
		msg.len = ZR31CAMERA_MSG_LEN;
		msg.buf = buf;
		result = i2c_transfer(client->adapter, &msg, 1);
		if (result != 1 && result != 0)
			return result;
	}
	return 0;
}

static int zr31camera_set(struct i2c_client *client, const u32 *options)
{
	struct zr31camera_reg table[OPTION_TABLE_ENTRIES];

	memcpy(table, zr31camera_table_option, sizeof(table));
	if (options[0]) {
		table[OPTION_ENTRY_MODE].low |= 0x02;
		table[OPTION_ENTRY_CONTROL].high |= 0x80;
	}
	if (options[1]) {
		table[OPTION_ENTRY_MODE].low |= 0x01;
		table[OPTION_ENTRY_CONTROL].high |= 0x40;
	}
	return zr31camera_write_table(client, table);
}

static int i2c_zr31camera_command(struct i2c_client *client, unsigned int cmd, void *arg)
{
	int result;

	if (cmd != ZR31CAMERA_CMD_SET_OPTIONS)
		return -EINVAL;
	/* The options are read from the caller's record: without one there is nothing to set. */
	if (!arg)
		return -EINVAL;
	result = zr31camera_write_table(client, zr31camera_table_init);
	if (result)
		return result;
	return zr31camera_set(client, arg);
}

static int i2c_zr31camera_attach(struct i2c_adapter *adapter, int address, int kind)
{
	struct i2c_client *client = kzalloc(sizeof(*client), GFP_KERNEL);
	int result;

	if (!client)
		return -ENOMEM;
	strncpy(client->name, ZR31CAMERA_NAME, I2C_NAME_SIZE - 1);
	i2c_set_clientdata(client, client);
	client->driver = &i2c_zr31camera_driver;
	client->addr = address;
	client->adapter = adapter;
	client->flags = 0;
	result = i2c_attach_client(client);
	if (result) {
		kfree(client);
		return result;
	}
	zr31camera_client = client;
	return 0;
}

static int i2c_zr31camera_attach_adapter(struct i2c_adapter *adapter)
{
	tq90ra_adapter = adapter;
	return 0;
}

static int i2c_zr31camera_detach_client(struct i2c_client *client)
{
	int result = i2c_detach_client(client);

	if (result)
		return result;
	if (client == zr31camera_client)
		zr31camera_client = NULL;
	kfree(i2c_get_clientdata(client));
	return 0;
}

int i2c_zr31camera_device_new(struct i2c_client **client)
{
	int result;

	/* A client made by an earlier call stays: its holder may still use it, and the I2C core
	 * would skip its address in a new probe anyway. The start-up table goes through it again,
	 * so a sensor that has gone from the bus is noticed by the failed write. */
	if (zr31camera_client) {
		*client = zr31camera_client;
		return zr31camera_write_table(zr31camera_client, zr31camera_table_init);
	}
	if (!tq90ra_adapter)
		return -ENXIO;
	result = i2c_probe(tq90ra_adapter, &addr_data, i2c_zr31camera_attach);
	if (result)
		return result;
	if (!zr31camera_client)
		return -ENXIO;
	*client = zr31camera_client;
	return zr31camera_write_table(zr31camera_client, zr31camera_table_init);
}
EXPORT_SYMBOL(i2c_zr31camera_device_new);

static struct i2c_driver i2c_zr31camera_driver = {
	.driver = { .name = ZR31CAMERA_NAME },
	.attach_adapter = i2c_zr31camera_attach_adapter,
	.detach_client = i2c_zr31camera_detach_client,
	.command = i2c_zr31camera_command,
};

static int __init i2c_zr31camera_init(void)
{
	printk(KERN_INFO "i2c-zr31camera: %s:\n", "i2c_zr31camera_init");
	tq90ra_adapter = NULL;
	zr31camera_client = NULL;
	return i2c_add_driver(&i2c_zr31camera_driver);
}

static void __exit i2c_zr31camera_exit(void)
{
	printk(KERN_INFO "i2c-zr31camera: %s:\n", "i2c_zr31camera_exit");
	i2c_del_driver(&i2c_zr31camera_driver);
	tq90ra_adapter = NULL;
	zr31camera_client = NULL;
}

module_init(i2c_zr31camera_init);
module_exit(i2c_zr31camera_exit);
MODULE_LICENSE("GPL");
