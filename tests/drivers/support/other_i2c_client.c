/*
 * For driver tests: a client of another driver on an I2C bus whose command 5 writes a fixed
 * x, y, z into the record it is given. Attached after the bma150 driver's client, it answers
 * i2c_clients_command after it and so decides what the sample record holds.
 */
#include <linux/kernel.h>
#include <linux/errno.h>
#include <linux/string.h>
#include <linux/i2c.h>

#include "other_i2c_client.h"

static s16 other_sample[3];

static int other_command(struct i2c_client *client, unsigned int cmd, void *arg)
{
	if (cmd != 5 || !arg)
		return -EINVAL;
	memcpy(arg, other_sample, sizeof(other_sample));
	return 0;
}

static struct i2c_driver other_driver = {
	.driver = { .name = "other" },
	.command = other_command,
};

static struct i2c_client other_client;

int other_i2c_client_attach(int bus, unsigned short address, short x, short y, short z)
{
	other_sample[0] = x;
	other_sample[1] = y;
	other_sample[2] = z;
	memset(&other_client, 0, sizeof(other_client));
	other_client.addr = address;
	other_client.adapter = i2c_get_adapter(bus);
	other_client.driver = &other_driver;
	if (!other_client.adapter)
		return -ENODEV;
	return i2c_attach_client(&other_client);
}

void other_i2c_client_detach(void)
{
	i2c_detach_client(&other_client);
}
