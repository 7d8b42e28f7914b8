/* The I2C core of this kernel, with its legacy driver model: a driver is told of every adapter
 * (attach_adapter), probes the addresses it knows (i2c_probe), makes a client for each chip it
 * finds and attaches it (i2c_attach_client); other drivers reach a chip's driver through
 * i2c_clients_command. Transfers go to the device models that the board put on the bus
 * (sim/kernel/kernel.h: attachI2cDevice). */
#ifndef _LINUX_I2C_H
#define _LINUX_I2C_H

#include "types.h"
#include "device.h"
#include "list.h"

#define I2C_NAME_SIZE 20
#define I2C_CLIENT_END 0xfffeU
#define I2C_M_RD 0x0001
#define I2C_DRIVERID_I2CDEV 900
#define I2C_CLASS_HWMON (1 << 0)

struct i2c_adapter;
struct i2c_client;

/* "class" is a word of C++: the emulation's own C++ sees the field under another name. */
#ifdef __cplusplus
#define SIMK_I2C_CLASS i2c_class
#else
#define SIMK_I2C_CLASS class
#endif

struct i2c_msg {
	__u16 addr;
	__u16 flags;
	__u16 len;
	__u8 *buf;
};

struct i2c_driver {
	int id;
	unsigned int SIMK_I2C_CLASS;
	int (*attach_adapter)(struct i2c_adapter *);
	int (*detach_adapter)(struct i2c_adapter *);
	int (*detach_client)(struct i2c_client *);
	int (*probe)(struct i2c_client *);
	int (*remove)(struct i2c_client *);
	void (*shutdown)(struct i2c_client *);
	int (*suspend)(struct i2c_client *, int);
	int (*resume)(struct i2c_client *);
	int (*command)(struct i2c_client *client, unsigned int cmd, void *arg);
	struct device_driver driver;
	struct list_head list;
};

struct i2c_adapter {
	struct module *owner;
	unsigned int id;
	unsigned int SIMK_I2C_CLASS;
	void *algo_data;
	struct device dev;
	int nr;
	char name[48];
};

struct i2c_client {
	unsigned short flags;
	unsigned short addr;
	char name[I2C_NAME_SIZE];
	struct i2c_adapter *adapter;
	struct i2c_driver *driver;
	struct device dev;
	int irq;
	struct list_head list;
};

struct i2c_client_address_data {
	unsigned short *normal_i2c;
	unsigned short *probe;
	unsigned short *ignore;
	unsigned short **forces;
};

/* The address lists and module parameters a legacy driver declares beside normal_i2c[]. */
#define I2C_CLIENT_MODULE_PARM(var, desc) \
	static unsigned short var[] = { I2C_CLIENT_END, I2C_CLIENT_END }
#define I2C_CLIENT_INSMOD_COMMON \
	I2C_CLIENT_MODULE_PARM(probe, "List of adapter,address pairs to scan additionally"); \
	I2C_CLIENT_MODULE_PARM(ignore, "List of adapter,address pairs not to scan"); \
	static const struct i2c_client_address_data addr_data = { \
		normal_i2c, probe, ignore, forces }
#define I2C_CLIENT_INSMOD \
	I2C_CLIENT_MODULE_PARM(force, "List of adapter,address pairs to boldly assume to be present"); \
	static unsigned short *forces[] = { force, NULL }; \
	I2C_CLIENT_INSMOD_COMMON
#define I2C_CLIENT_INSMOD_1(chip1) \
	enum chips { any_chip, chip1 }; \
	I2C_CLIENT_MODULE_PARM(force, "List of adapter,address pairs to boldly assume to be present"); \
	static unsigned short *forces[] = { force, NULL }; \
	I2C_CLIENT_INSMOD_COMMON

static inline void *i2c_get_clientdata(struct i2c_client *client) { return dev_get_drvdata(&client->dev); }
static inline void i2c_set_clientdata(struct i2c_client *client, void *data) { dev_set_drvdata(&client->dev, data); }
static inline int i2c_adapter_id(struct i2c_adapter *adap) { return adap->nr; }

SIMK_EXTERN_C_BEGIN
int i2c_register_driver(struct module *owner, struct i2c_driver *driver);
int i2c_del_driver(struct i2c_driver *driver);
int i2c_probe(struct i2c_adapter *adapter, const struct i2c_client_address_data *address_data,
	      int (*found_proc)(struct i2c_adapter *, int, int));
int i2c_attach_client(struct i2c_client *client);
int i2c_detach_client(struct i2c_client *client);
/* The number of messages done, or a negative error (a chip that does not answer: -EREMOTEIO). */
int i2c_transfer(struct i2c_adapter *adap, struct i2c_msg *msgs, int num);
int i2c_master_send(struct i2c_client *client, const char *buf, int count);
int i2c_master_recv(struct i2c_client *client, char *buf, int count);
void i2c_clients_command(struct i2c_adapter *adap, unsigned int cmd, void *arg);
struct i2c_adapter *i2c_get_adapter(int id);
void i2c_put_adapter(struct i2c_adapter *adap);
s32 i2c_smbus_read_byte_data(struct i2c_client *client, u8 command);
s32 i2c_smbus_write_byte_data(struct i2c_client *client, u8 command, u8 value);
s32 i2c_smbus_read_i2c_block_data(struct i2c_client *client, u8 command, u8 length, u8 *values);
s32 i2c_smbus_write_i2c_block_data(struct i2c_client *client, u8 command, u8 length, const u8 *values);
SIMK_EXTERN_C_END

#define i2c_add_driver(driver) i2c_register_driver(THIS_MODULE, driver)

#endif
