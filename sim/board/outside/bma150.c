/*
 * The board kernel's own BMA150 driver, as far as this system relies on it (the G-sensor module
 * calls it):
 *   i2c_bma150_device_new(handle)       makes the sensor's I2C client on bus 0 (address 0x38)
 *                                       once, checks at every call that the chip answers, and
 *                                       stores the client in the handle;
 *   i2c_bma150_set_user_bandwidth(h, hz) sets the sensor's low-pass (25 .. 1500 Hz);
 *   command 5 through i2c_clients_command fills an 8-byte sample record with x, y, z in milli-g,
 *                                       or with 0x7fff in all three when the transfer fails.
 * The chip keeps 10-bit two's complement readings in registers 0x02..0x07 (low bits in bits
 * 7..6 of the even register, high bits in the odd one) and its range and bandwidth in register
 * 0x14; this driver runs it at +-8 g, where one step is 15.625 milli-g.
 *
 * It is a stand-in for a driver outside the system, built like a module so that it goes through
 * the same I2C core as the modules that sit beside it.
 */
#include <linux/module.h>
#include <linux/kernel.h>
#include <linux/init.h>
#include <linux/slab.h>
#include <linux/string.h>
#include <linux/errno.h>
#include <linux/i2c.h>

#define BMA150_BUS 0
#define BMA150_ADDRESS 0x38
#define BMA150_REG_CHIP_ID 0x00
#define BMA150_CHIP_ID 0x02
#define BMA150_REG_ACC_X_LSB 0x02
#define BMA150_REG_RANGE_BW 0x14
#define BMA150_RANGE_SHIFT 3
#define BMA150_RANGE_MASK 0x18
#define BMA150_BW_MASK 0x07
#define BMA150_RANGE_8G 2
#define BMA150_CMD_READ_SAMPLE 5
#define BMA150_FAILED_AXIS 0x7fff

struct bma150_sample {
	s16 x;
	s16 y;
	s16 z;
	u16 unused;
};

struct bma150_handle {
	struct i2c_client *client;
	struct bma150_sample sample;
};

struct bma150_data {
	struct i2c_client client;
	int range_mg; /* full scale of the range in use */
};

static const int bma150_bandwidths[] = { 25, 50, 100, 190, 375, 750, 1500 };
static const int bma150_ranges_mg[] = { 2000, 4000, 8000 };

static struct i2c_driver bma150_driver;
static struct bma150_data *bma150_chip;

static int bma150_chip_answers(struct i2c_client *client)
{
	s32 id = i2c_smbus_read_byte_data(client, BMA150_REG_CHIP_ID);

	if (id < 0)
		return id;
	return id == BMA150_CHIP_ID ? 0 : -ENODEV;
}

static int bma150_update_range_bw(struct i2c_client *client, u8 mask, u8 bits)
{
	s32 value = i2c_smbus_read_byte_data(client, BMA150_REG_RANGE_BW);

	if (value < 0)
		return value;
	/* Bits 7..5 are the chip's own and must be written back as read. */
	return i2c_smbus_write_byte_data(client, BMA150_REG_RANGE_BW, (u8)((value & ~mask) | bits));
}

/* One axis: 10-bit reading from its two registers, in milli-g. */
static s16 bma150_milli_g(u8 lsb, u8 msb, int range_mg)
{
	int raw = (msb << 2) | (lsb >> 6);

	if (raw & 0x200)
		raw -= 0x400;
	return (s16)(raw * range_mg / 512);
}

static int bma150_read_sample(struct bma150_data *data, struct bma150_sample *sample)
{
	u8 reg = BMA150_REG_ACC_X_LSB;
	u8 regs[6];
	struct i2c_msg msgs[2];
	int result;

	msgs[0].addr = data->client.addr;
	msgs[0].flags = 0;
	msgs[0].len = 1;
	msgs[0].buf = &reg;
	msgs[1].addr = data->client.addr;
	msgs[1].flags = I2C_M_RD;
	msgs[1].len = sizeof(regs);
	msgs[1].buf = regs;
	result = i2c_transfer(data->client.adapter, msgs, 2);
	if (result != 2) {
		sample->x = sample->y = sample->z = BMA150_FAILED_AXIS;
		return result < 0 ? result : -EIO;
	}
	sample->x = bma150_milli_g(regs[0], regs[1], data->range_mg);
	sample->y = bma150_milli_g(regs[2], regs[3], data->range_mg);
	sample->z = bma150_milli_g(regs[4], regs[5], data->range_mg);
	return 0;
}

static int bma150_command(struct i2c_client *client, unsigned int cmd, void *arg)
{
	struct bma150_data *data = i2c_get_clientdata(client);

	if (cmd != BMA150_CMD_READ_SAMPLE || !arg)
		return -EINVAL;
	return bma150_read_sample(data, arg);
}

static int bma150_make_client(void)
{
	struct i2c_adapter *adapter = i2c_get_adapter(BMA150_BUS);
	struct bma150_data *data;
	int result;

	if (!adapter)
		return -ENODEV;
	data = kzalloc(sizeof(*data), GFP_KERNEL);
	if (!data) {
		i2c_put_adapter(adapter);
		return -ENOMEM;
	}
	data->client.addr = BMA150_ADDRESS;
	data->client.adapter = adapter;
	data->client.driver = &bma150_driver;
	strncpy(data->client.name, "bma150", I2C_NAME_SIZE - 1);
	i2c_set_clientdata(&data->client, data);

	result = bma150_chip_answers(&data->client);
	if (!result)
		result = bma150_update_range_bw(&data->client, BMA150_RANGE_MASK,
						BMA150_RANGE_8G << BMA150_RANGE_SHIFT);
	if (!result)
		result = i2c_attach_client(&data->client);
	if (result) {
		kfree(data);
		i2c_put_adapter(adapter);
		return result;
	}
	data->range_mg = bma150_ranges_mg[BMA150_RANGE_8G];
	bma150_chip = data;
	return 0;
}

int i2c_bma150_device_new(struct bma150_handle *handle)
{
	int result;

	if (!handle)
		return -EINVAL;
	if (bma150_chip)
		result = bma150_chip_answers(&bma150_chip->client);
	else
		result = bma150_make_client();
	if (result)
		return result;
	handle->client = &bma150_chip->client;
	return 0;
}
EXPORT_SYMBOL(i2c_bma150_device_new);

int i2c_bma150_set_user_bandwidth(struct bma150_handle *handle, int bandwidth)
{
	unsigned code;

	if (!handle || !handle->client)
		return -ENODEV;
	for (code = 0; code < ARRAY_SIZE(bma150_bandwidths); code++) {
		if (bma150_bandwidths[code] == bandwidth)
			return bma150_update_range_bw(handle->client, BMA150_BW_MASK, (u8)code);
	}
	return -EINVAL;
}
EXPORT_SYMBOL(i2c_bma150_set_user_bandwidth);

static int bma150_detach_client(struct i2c_client *client)
{
	struct bma150_data *data = i2c_get_clientdata(client);
	int result = i2c_detach_client(client);

	if (result)
		return result;
	if (data == bma150_chip)
		bma150_chip = NULL;
	i2c_put_adapter(client->adapter);
	kfree(data);
	return 0;
}

static struct i2c_driver bma150_driver = {
	.driver = { .name = "bma150" },
	.detach_client = bma150_detach_client,
	.command = bma150_command,
};

static int __init bma150_init(void)
{
	bma150_chip = NULL;
	return i2c_add_driver(&bma150_driver);
}

static void __exit bma150_exit(void)
{
	i2c_del_driver(&bma150_driver);
}

module_init(bma150_init);
module_exit(bma150_exit);
MODULE_LICENSE("GPL");
