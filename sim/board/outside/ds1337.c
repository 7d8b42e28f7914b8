/*
 * The board kernel's own DS1337 driver, as far as this system relies on it: a legacy I2C client
 * driver for the clock chip at address 0x68, and ds1337_do_command(bus, command, time) for the
 * RTC module: command 0 reads the chip's date and time, command 1 writes them. The chip keeps
 * BCD registers 0x00..0x06 (seconds, minutes, hours, weekday 1..7, date, month with the century
 * in bit 7, two-digit year); this driver runs it in 24-hour mode.
 *
 * It is a stand-in for a driver outside the system, built like a module so that it goes through
 * the same I2C core as the modules that will sit beside it.
 */
#include <linux/module.h>
#include <linux/kernel.h>
#include <linux/init.h>
#include <linux/slab.h>
#include <linux/string.h>
#include <linux/errno.h>
#include <linux/i2c.h>
#include <linux/rtc.h>

#define DS1337_GET_DATE 0
#define DS1337_SET_DATE 1
#define DS1337_REG_SECONDS 0x00
#define DS1337_CENTURY 0x80

static unsigned short normal_i2c[] = { 0x68, I2C_CLIENT_END };
I2C_CLIENT_INSMOD_1(ds1337);

static struct i2c_driver ds1337_driver;
static LIST_HEAD(ds1337_clients);

struct ds1337_data {
	struct i2c_client client;
	struct list_head list;
};

static unsigned bcd2bin(u8 v)
{
	return (v & 0x0f) + (v >> 4) * 10;
}

static u8 bin2bcd(unsigned v)
{
	return (u8)(((v / 10) << 4) | (v % 10));
}

static int ds1337_get_datetime(struct i2c_client *client, struct rtc_time *dt)
{
	u8 reg = DS1337_REG_SECONDS;
	u8 buf[7];
	struct i2c_msg msgs[2];
	int result;

	msgs[0].addr = client->addr;
	msgs[0].flags = 0;
	msgs[0].len = 1;
	msgs[0].buf = &reg;
	msgs[1].addr = client->addr;
	msgs[1].flags = I2C_M_RD;
	msgs[1].len = sizeof(buf);
	msgs[1].buf = buf;
	result = i2c_transfer(client->adapter, msgs, 2);
	if (result != 2)
		return result < 0 ? result : -EIO;

	dt->tm_sec = bcd2bin(buf[0] & 0x7f);
	dt->tm_min = bcd2bin(buf[1] & 0x7f);
	dt->tm_hour = bcd2bin(buf[2] & 0x3f);
	dt->tm_wday = bcd2bin(buf[3] & 0x07) - 1;
	dt->tm_mday = bcd2bin(buf[4] & 0x3f);
	dt->tm_mon = bcd2bin(buf[5] & 0x1f) - 1;
	dt->tm_year = bcd2bin(buf[6]) + ((buf[5] & DS1337_CENTURY) ? 100 : 0);
	return 0;
}

static int ds1337_set_datetime(struct i2c_client *client, struct rtc_time *dt)
{
	u8 buf[8];
	struct i2c_msg msg;
	int year = dt->tm_year;
	int result;

	buf[0] = DS1337_REG_SECONDS;
	buf[1] = bin2bcd(dt->tm_sec);
	buf[2] = bin2bcd(dt->tm_min);
	buf[3] = bin2bcd(dt->tm_hour);
	buf[4] = bin2bcd(dt->tm_wday + 1);
	buf[5] = bin2bcd(dt->tm_mday);
	buf[6] = bin2bcd(dt->tm_mon + 1);
	if (year >= 100) {
		year -= 100;
		buf[6] |= DS1337_CENTURY;
	}
	buf[7] = bin2bcd(year % 100);

	msg.addr = client->addr;
	msg.flags = 0;
	msg.len = sizeof(buf);
	msg.buf = buf;
	result = i2c_transfer(client->adapter, &msg, 1);
	if (result != 1)
		return result < 0 ? result : -EIO;
	return 0;
}

static int ds1337_command(struct i2c_client *client, unsigned int cmd, void *arg)
{
	switch (cmd) {
	case DS1337_GET_DATE:
		return ds1337_get_datetime(client, arg);
	case DS1337_SET_DATE:
		return ds1337_set_datetime(client, arg);
	default:
		return -EINVAL;
	}
}

int ds1337_do_command(int bus, int cmd, void *arg)
{
	struct list_head *walk;
	struct ds1337_data *data;

	list_for_each(walk, &ds1337_clients) {
		data = list_entry(walk, struct ds1337_data, list);
		if (i2c_adapter_id(data->client.adapter) == bus)
			return ds1337_command(&data->client, cmd, arg);
	}
	return -ENODEV;
}
EXPORT_SYMBOL(ds1337_do_command);

static int ds1337_detect(struct i2c_adapter *adapter, int address, int kind)
{
	struct ds1337_data *data = kzalloc(sizeof(*data), GFP_KERNEL);
	int result;

	if (!data)
		return -ENOMEM;
	data->client.addr = address;
	data->client.adapter = adapter;
	data->client.driver = &ds1337_driver;
	strncpy(data->client.name, "ds1337", I2C_NAME_SIZE - 1);
	i2c_set_clientdata(&data->client, data);
	result = i2c_attach_client(&data->client);
	if (result) {
		kfree(data);
		return result;
	}
	list_add_tail(&data->list, &ds1337_clients);
	return 0;
}

static int ds1337_attach_adapter(struct i2c_adapter *adapter)
{
	return i2c_probe(adapter, &addr_data, ds1337_detect);
}

static int ds1337_detach_client(struct i2c_client *client)
{
	struct ds1337_data *data = i2c_get_clientdata(client);
	int result = i2c_detach_client(client);

	if (result)
		return result;
	list_del(&data->list);
	kfree(data);
	return 0;
}

static struct i2c_driver ds1337_driver = {
	.driver = { .name = "ds1337" },
	.attach_adapter = ds1337_attach_adapter,
	.detach_client = ds1337_detach_client,
	.command = ds1337_command,
};

static int __init ds1337_init(void)
{
	return i2c_add_driver(&ds1337_driver);
}

static void __exit ds1337_exit(void)
{
	i2c_del_driver(&ds1337_driver);
}

module_init(ds1337_init);
module_exit(ds1337_exit);
MODULE_LICENSE("GPL");
