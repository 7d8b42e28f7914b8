/*
 * tq90ra_gsnr: the board's three-axis accelerometer (BMA150 on I2C bus 0) through /dev/gsnr.
 *
 * The sensor itself is run by the kernel's bma150 driver; this module asks it for a client at
 * each open, for a bandwidth change on request, and for one sample per read. A read first
 * sleeps for the read wait (3 ticks unless a request changed it) and then samples, so the
 * reader's loop is paced by this sleep.
 */
#include <linux/module.h>
#include <linux/kernel.h>
#include <linux/init.h>
#include <linux/fs.h>
#include <linux/cdev.h>
#include <linux/slab.h>
#include <linux/string.h>
#include <linux/errno.h>
#include <linux/wait.h>
#include <linux/sched.h>
#include <linux/preempt.h>
#include <linux/i2c.h>
#include <asm/uaccess.h>
#include <asm/semaphore.h>

#define GSNR_NAME "gsnr"
#define GSNR_MAJOR 240
#define GSNR_MINOR 104
#define GSNR_REQUEST_TYPE 'g'
#define GSNR_DEFAULT_READ_TIMEOUT 3 /* ticks: 30 ms */
#define GSNR_FAILED_AXIS 0x7fff

/* Requests */
#define CMD_GSNR_SET_CONFIG 0x40086702
#define CMD_GSNR_NONE 0xc0046701

/* ---- the kernel's bma150 driver, as far as this module relies on it ---- */

/* One sample, filled by the driver's command 5; x = y = z = 0x7fff when the transfer failed. */
struct bma150_sample {
	s16 x;
	s16 y;
	s16 z;
	u16 unused;
};

/* The driver's functions take the client pointer with the sample record right behind it. */
struct bma150_handle {
	struct i2c_client *client;
	struct bma150_sample sample;
};

#define BMA150_CMD_READ_SAMPLE 5

extern int i2c_bma150_device_new(struct bma150_handle *handle);
extern int i2c_bma150_set_user_bandwidth(struct bma150_handle *handle, int bandwidth);

/* ---- the device ---- */

typedef struct {
	s32 bandwidth;
	s32 read_timeout; /* ticks */
} GSNR_CONFIG;

typedef struct {
	char name[16];
	unsigned char busy;
	int data_ready;
	wait_queue_head_t wait;
	struct semaphore read_sem;
	struct semaphore req_sem;
	dev_t devno;
	struct cdev *cdev;
	struct bma150_handle bma150;
} GSNR_DEV;

static GSNR_DEV *gp_gsnr_module;

/* The read wait in ticks, for every opener; it keeps its value until the module is unloaded. */
static int gReadTimeout;

static int gsnr_open(struct inode *inode, struct file *file)
{
	GSNR_DEV *dev = gp_gsnr_module;
	int result;

	preempt_disable();
	if (dev->busy) {
		preempt_enable();
		printk("<6>%s (major=%d, minor=%d) Busy somebody opened\n", dev->name, GSNR_MAJOR,
		       GSNR_MINOR);
		return -EBUSY;
	}
	dev->busy = 1;
	preempt_enable();

	result = i2c_bma150_device_new(&dev->bma150);
	if (result) {
		/* Nobody holds the device: a later open may find the sensor. */
		dev->busy = 0;
		return result;
	}
	try_module_get(THIS_MODULE);
	return 0;
}

static int gsnr_close(struct inode *inode, struct file *file)
{
	GSNR_DEV *dev = gp_gsnr_module;

	if (dev->busy) {
		dev->busy = 0;
		module_put(THIS_MODULE);
	}
	return 0;
}

static int gsnr_sample_failed(const struct bma150_sample *s)
{
	return s->x == GSNR_FAILED_AXIS && s->y == GSNR_FAILED_AXIS && s->z == GSNR_FAILED_AXIS;
}

static ssize_t gsnr_read(struct file *file, char __user *buffer, size_t count, loff_t *position)
{
	GSNR_DEV *dev = gp_gsnr_module;
	struct bma150_sample *sample = &dev->bma150.sample;
	long wait;
	ssize_t result;

	if (down_interruptible(&dev->read_sem))
		return -ERESTARTSYS;
	dev->data_ready = 0;
	/* The scheduler takes a negative wait as none. */
	wait = gReadTimeout > 0 ? gReadTimeout : 0;
	/* Whatever ends the sleep (the time, a signal), a sample is taken. */
	wait_event_interruptible_timeout(dev->wait, dev->data_ready, wait);

	i2c_clients_command(dev->bma150.client->adapter, BMA150_CMD_READ_SAMPLE, sample);
	if (gsnr_sample_failed(sample)) {
		printk("G Sensor I2C Read failed..\n");
		up(&dev->read_sem);
		return -1;
	}

	/* Never beyond the 8-byte record. */
	if (count > sizeof(*sample))
		count = sizeof(*sample);
	if (count && copy_to_user(buffer, sample, count))
		result = -EFAULT;
	else
		result = count;
	up(&dev->read_sem);
	return result;
}

static int gsnr_ioctl(struct inode *inode, struct file *file, unsigned int cmd, unsigned long arg)
{
	GSNR_DEV *dev = gp_gsnr_module;
	GSNR_CONFIG config;
	int result = 0;

	if (_IOC_TYPE(cmd) != GSNR_REQUEST_TYPE)
		return -EINVAL;
	if (down_interruptible(&dev->req_sem))
		return -ERESTARTSYS;

	switch (cmd) {
	case CMD_GSNR_SET_CONFIG:
		if (copy_from_user(&config, (const void __user *)arg, sizeof(config))) {
			result = -EFAULT;
			break;
		}
		gReadTimeout = config.read_timeout;
		/* A bandwidth the sensor does not know leaves it as it was. */
		i2c_bma150_set_user_bandwidth(&dev->bma150, config.bandwidth);
		break;
	case CMD_GSNR_NONE:
		break;
	default:
		result = -EINVAL;
		break;
	}

	up(&dev->req_sem);
	return result;
}

static const struct file_operations gsnr_fops = {
	.owner = THIS_MODULE,
	.open = gsnr_open,
	.release = gsnr_close,
	.read = gsnr_read,
	.ioctl = gsnr_ioctl,
};

static int __init gsnr_init(void)
{
	GSNR_DEV *dev;
	int result;

	dev = kzalloc(sizeof(GSNR_DEV), GFP_KERNEL);
	if (!dev)
		return -ENOMEM;
	strncpy(dev->name, GSNR_NAME, sizeof(dev->name) - 1);
	gReadTimeout = GSNR_DEFAULT_READ_TIMEOUT;
	dev->devno = MKDEV(GSNR_MAJOR, GSNR_MINOR);
	/* Ready before the device can be opened. */
	init_waitqueue_head(&dev->wait);
	sema_init(&dev->req_sem, 1);
	sema_init(&dev->read_sem, 1);
	gp_gsnr_module = dev;

	dev->cdev = cdev_alloc();
	if (!dev->cdev) {
		result = -ENOMEM;
		goto fail_record;
	}
	result = register_chrdev_region(dev->devno, 1, dev->name);
	if (result < 0)
		goto fail_cdev;
	cdev_init(dev->cdev, &gsnr_fops);
	dev->cdev->owner = THIS_MODULE;
	result = cdev_add(dev->cdev, dev->devno, 1);
	if (result < 0)
		goto fail_region;
	return 0;

fail_region:
	unregister_chrdev_region(dev->devno, 1);
fail_cdev:
	cdev_del(dev->cdev);
fail_record:
	gp_gsnr_module = NULL;
	kfree(dev);
	return result;
}

static void __exit gsnr_cleanup(void)
{
	GSNR_DEV *dev = gp_gsnr_module;

	cdev_del(dev->cdev);
	unregister_chrdev_region(dev->devno, 1);
	kfree(dev);
	gp_gsnr_module = NULL;
}

module_init(gsnr_init);
module_exit(gsnr_cleanup);
MODULE_LICENSE("GPL");
