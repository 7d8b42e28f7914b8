/*
 * tq90ra_timb: Timer B as a square-wave generator. At load it starts the buzzer tone, 2300 Hz
 * with 50 % duty on channel 0, and leaves it running; Timer A decides when the tone reaches the
 * buzzer.
 */
#include <linux/module.h>
#include <linux/kernel.h>
#include <linux/init.h>
#include <linux/fs.h>
#include <linux/cdev.h>
#include <linux/slab.h>
#include <linux/string.h>
#include <linux/errno.h>
#include <linux/preempt.h>
#include <asm/io.h>
#include <asm/uaccess.h>
#include <asm/semaphore.h>

#define TIMB_NAME "timb"
#define TIMB_MAJOR 240
#define TIMB_MINOR 100
#define TIMB_PHYS_BASE 0xFFFD3000UL
#define TIMB_BLOCK_SIZE 0x40
#define TIMB_REQUEST_TYPE 'x'
#define TIMB_TONE_CHANNEL 0
#define TIMB_TONE_HZ 2300

#define TIMB_ENABLE 0x00
#define TIMB_CONTROL 0x04
#define TIMB_MODE 0x14
#define TIMB_REG18 0x18
#define TIMB_PERIOD 0x1c
#define TIMB_COMPARE(c) (0x20 + 4 * (c))
#define TIMB_CHANNELS 8 /* compare registers up to the end of the block */

#define TIMB_IOC_READ_REG 0xc00c7801
#define TIMB_IOC_WRITE_REG 0x400c7802
#define TIMB_IOC_START 0x40087803
#define TIMB_IOC_ENABLE 0x40087804

typedef struct {
	u32 channel;
	u32 frequency;
} TIMB_PWM_ARG;

typedef struct {
	u32 unused;
	u32 offset;
	u32 value;
} TIMB_REG_ARG;

typedef struct {
	char name[16];
	void __iomem *base;
	int busy;
	struct semaphore sem;
	dev_t devno;
	struct cdev *cdev;
} TIMB_DEV;

static TIMB_DEV *g_timb_module;

static void timb_pwm_start(u32 channel, u32 frequency)
{
	void __iomem *base = g_timb_module->base;
	u32 period_us = 1000000 / frequency;
	u32 count = period_us * 65535 / 21406;

	writew(readw(base + TIMB_ENABLE) | (1U << channel), base + TIMB_ENABLE);
	writew(0, base + TIMB_MODE);
	writew((count & 0xffff) / 2, base + TIMB_COMPARE(channel));
	writew(count & 0xffff, base + TIMB_PERIOD);
	writew(0x81, base + TIMB_CONTROL);
}

static int timb_reg_ok(u32 offset)
{
	return (offset & 1) == 0 && offset + 2 <= TIMB_BLOCK_SIZE;
}

/* A register request's argument, fetched from the caller and checked against the block. */
static int timb_fetch_reg(TIMB_REG_ARG *reg, const void __user *user)
{
	if (copy_from_user(reg, user, sizeof(*reg)) || !timb_reg_ok(reg->offset))
		return -EINVAL;
	return 0;
}

static int timb_open(struct inode *inode, struct file *file)
{
	preempt_disable();
	if (g_timb_module->busy) {
		preempt_enable();
		return -EBUSY;
	}
	g_timb_module->busy = 1;
	preempt_enable();
	try_module_get(THIS_MODULE);
	return 0;
}

static int timb_close(struct inode *inode, struct file *file)
{
	if (!g_timb_module->busy)
		return -ENODEV;
	g_timb_module->busy = 0;
	module_put(THIS_MODULE);
	return 0;
}

static int timb_ioctl(struct inode *inode, struct file *file, unsigned int cmd, unsigned long data)
{
	void __user *user = (void __user *)data;
	TIMB_PWM_ARG pwm;
	TIMB_REG_ARG reg;
	int result = 0;

	if (_IOC_TYPE(cmd) != TIMB_REQUEST_TYPE)
		return -ENOTTY;
	if (down_interruptible(&g_timb_module->sem))
		return -ERESTARTSYS;

	switch (cmd) {
	case TIMB_IOC_START:
		pwm.channel = TIMB_TONE_CHANNEL;
		pwm.frequency = TIMB_TONE_HZ;
		if (user && copy_from_user(&pwm, user, sizeof(pwm))) {
			result = -EINVAL;
			break;
		}
		/* A channel without a compare register or a frequency of 0 would reach past the
		 * block or divide by zero. */
		if (pwm.channel >= TIMB_CHANNELS || pwm.frequency == 0) {
			result = -EINVAL;
			break;
		}
		timb_pwm_start(pwm.channel, pwm.frequency);
		break;
	case TIMB_IOC_ENABLE:
		pwm.channel = TIMB_TONE_CHANNEL;
		if (user && copy_from_user(&pwm, user, sizeof(pwm))) {
			result = -EINVAL;
			break;
		}
		if (pwm.channel + 7 > 15) {
			result = -EINVAL;
			break;
		}
		writew(readw(g_timb_module->base + TIMB_ENABLE) | (1U << (pwm.channel + 7)),
		       g_timb_module->base + TIMB_ENABLE);
		break;
	case TIMB_IOC_WRITE_REG:
		result = timb_fetch_reg(&reg, user);
		if (result)
			break;
		writew(reg.value & 0xffff, g_timb_module->base + reg.offset);
		break;
	case TIMB_IOC_READ_REG:
		result = timb_fetch_reg(&reg, user);
		if (result)
			break;
		reg.value = readw(g_timb_module->base + reg.offset);
		if (copy_to_user(user, &reg, sizeof(reg)))
			result = -EFAULT;
		break;
	default:
		result = -EFAULT;
		break;
	}

	up(&g_timb_module->sem);
	return result;
}

static const struct file_operations timb_fops = {
	.owner = THIS_MODULE,
	.open = timb_open,
	.release = timb_close,
	.ioctl = timb_ioctl,
};

static int __init timb_module_init(void)
{
	TIMB_DEV *dev;
	int result;

	dev = kzalloc(sizeof(TIMB_DEV), GFP_KERNEL);
	if (!dev)
		return -ENOMEM;
	dev->devno = MKDEV(TIMB_MAJOR, TIMB_MINOR);
	dev->cdev = cdev_alloc();
	if (!dev->cdev) {
		result = -ENOMEM;
		goto fail_record;
	}
	strncpy(dev->name, TIMB_NAME, sizeof(dev->name) - 1);
	result = register_chrdev_region(dev->devno, 1, dev->name);
	if (result < 0)
		goto fail_cdev;
	cdev_init(dev->cdev, &timb_fops);
	dev->cdev->owner = THIS_MODULE;
	result = cdev_add(dev->cdev, dev->devno, 1);
	if (result < 0)
		goto fail_region;
	dev->base = ioremap(TIMB_PHYS_BASE, TIMB_BLOCK_SIZE);
	if (!dev->base) {
		result = -ENOMEM;
		cdev_del(dev->cdev);
		unregister_chrdev_region(dev->devno, 1);
		goto fail_record;
	}
	g_timb_module = dev;

	sema_init(&dev->sem, 1);
	writew(0x0f, dev->base + TIMB_MODE);
	writew(0, dev->base + TIMB_REG18);
	writew(1, dev->base + TIMB_CONTROL);
	timb_pwm_start(TIMB_TONE_CHANNEL, TIMB_TONE_HZ);
	return 0;

fail_region:
	unregister_chrdev_region(dev->devno, 1);
fail_cdev:
	cdev_del(dev->cdev);
fail_record:
	kfree(dev);
	return result;
}

static void __exit timb_module_exit(void)
{
	TIMB_DEV *dev = g_timb_module;

	timb_pwm_start(TIMB_TONE_CHANNEL, TIMB_TONE_HZ);
	cdev_del(dev->cdev);
	unregister_chrdev_region(dev->devno, 1);
	iounmap(dev->base);
	kfree(dev);
	g_timb_module = NULL;
	printk("[TIMB]: tq90ra TIMB module cleanup successfully.\n");
}

module_init(timb_module_init);
module_exit(timb_module_exit);
MODULE_LICENSE("GPL");
