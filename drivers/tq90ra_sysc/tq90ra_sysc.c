/*
 * tq90ra_sysc: the registers of the SoC's system controller through /dev/sysc. The file
 * position is the register offset; a read or write of 1, 2 or 4 bytes is one register access of
 * that width.
 */
#include <linux/module.h>
#include <linux/kernel.h>
#include <linux/init.h>
#include <linux/fs.h>
#include <linux/cdev.h>
#include <linux/slab.h>
#include <linux/string.h>
#include <linux/errno.h>
#include <linux/ioport.h>
#include <linux/preempt.h>
#include <asm/io.h>
#include <asm/uaccess.h>
#include <asm/semaphore.h>

#define SYSC_NAME "tq90ra_sysc"
#define SYSC_MAJOR 240
#define SYSC_MINOR 103
#define SYSC_PHYS_BASE 0xFFFFD000UL
#define SYSC_BLOCK_SIZE 0x70

typedef struct {
	char name[16];
	void __iomem *base;
	int busy;
	struct semaphore sem;
	dev_t devno;
	struct cdev *cdev;
	struct resource *region;
} SYSC_DEV;

static SYSC_DEV *g_sysc_module;

/* 0, or the error that refuses an access of count bytes at pos. */
static int sysc_check(loff_t pos, size_t count, const void __user *buffer)
{
	if (pos < 0 || pos + count > SYSC_BLOCK_SIZE)
		return -EINVAL;
	if (!access_ok(VERIFY_WRITE, buffer, count))
		return -EFAULT;
	if (count != 1 && count != 2 && count != 4)
		return -EINVAL;
	/*
	 * A wider register starts at a multiple of its width. pos is within the block by now and
	 * count a power of two: a 32-bit mask, as a 64-bit % needs a division helper that the
	 * board's kernel does not export.
	 */
	if ((u32)pos & (count - 1))
		return -EINVAL;
	return 0;
}

static ssize_t sysc_read(struct file *file, char __user *buffer, size_t count, loff_t *pos)
{
	void __iomem *reg;
	u8 bytes[4];
	u32 value;
	ssize_t result;

	if (down_interruptible(&g_sysc_module->sem))
		return -ERESTARTSYS;
	result = sysc_check(*pos, count, buffer);
	if (result == 0) {
		reg = g_sysc_module->base + *pos;
		value = count == 1 ? readb(reg) : count == 2 ? readw(reg) : readl(reg);
		bytes[0] = value & 0xff;
		bytes[1] = (value >> 8) & 0xff;
		bytes[2] = (value >> 16) & 0xff;
		bytes[3] = (value >> 24) & 0xff;
		if (copy_to_user(buffer, bytes, count)) {
			result = -EFAULT;
		} else {
			*pos += count;
			result = count;
		}
	}
	up(&g_sysc_module->sem);
	return result;
}

static ssize_t sysc_write(struct file *file, const char __user *buffer, size_t count, loff_t *pos)
{
	void __iomem *reg;
	u8 bytes[4];
	u32 value;
	ssize_t result;

	if (down_interruptible(&g_sysc_module->sem))
		return -ERESTARTSYS;
	result = sysc_check(*pos, count, buffer);
	if (result == 0 && copy_from_user(bytes, buffer, count))
		result = -EFAULT;
	if (result == 0) {
		reg = g_sysc_module->base + *pos;
		if (count == 1) {
			writeb(bytes[0], reg);
		} else if (count == 2) {
			writew(bytes[0] | (bytes[1] << 8), reg);
		} else {
			value = bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | ((u32)bytes[3] << 24);
			writel(value, reg);
		}
		*pos += count;
		result = count;
	}
	up(&g_sysc_module->sem);
	return result;
}

static int sysc_open(struct inode *inode, struct file *file)
{
	preempt_disable();
	if (g_sysc_module->busy) {
		preempt_enable();
		return -EBUSY;
	}
	g_sysc_module->busy = 1;
	preempt_enable();
	try_module_get(THIS_MODULE);
	return 0;
}

static int sysc_close(struct inode *inode, struct file *file)
{
	if (!g_sysc_module->busy)
		return -ENODEV;
	g_sysc_module->busy = 0;
	module_put(THIS_MODULE);
	return 0;
}

static const struct file_operations sysc_fops = {
	.owner = THIS_MODULE,
	.open = sysc_open,
	.release = sysc_close,
	.read = sysc_read,
	.write = sysc_write,
};

static int __init sysc_module_init(void)
{
	SYSC_DEV *dev;
	int result;

	dev = kzalloc(sizeof(SYSC_DEV), GFP_KERNEL);
	if (!dev)
		return -ENOMEM;
	dev->busy = 0;
	strncpy(dev->name, SYSC_NAME, sizeof(dev->name) - 1);
	dev->devno = MKDEV(SYSC_MAJOR, SYSC_MINOR);
	dev->cdev = cdev_alloc();
	if (!dev->cdev) {
		result = -ENOMEM;
		goto fail_record;
	}
	result = register_chrdev_region(dev->devno, 1, dev->name);
	if (result < 0)
		goto fail_cdev;
	cdev_init(dev->cdev, &sysc_fops);
	dev->cdev->owner = THIS_MODULE;
	result = cdev_add(dev->cdev, dev->devno, 1);
	if (result < 0)
		goto fail_region;
	dev->region = request_mem_region(SYSC_PHYS_BASE, SYSC_BLOCK_SIZE, SYSC_NAME);
	if (!dev->region) {
		result = -EINVAL;
		goto fail_added;
	}
	dev->base = ioremap(SYSC_PHYS_BASE, SYSC_BLOCK_SIZE);
	if (!dev->base) {
		result = -ENOMEM;
		goto fail_claimed;
	}
	sema_init(&dev->sem, 1);
	g_sysc_module = dev;
	return 0;

fail_claimed:
	release_mem_region(SYSC_PHYS_BASE, SYSC_BLOCK_SIZE);
fail_added:
	cdev_del(dev->cdev);
	unregister_chrdev_region(dev->devno, 1);
	goto fail_record;
fail_region:
	unregister_chrdev_region(dev->devno, 1);
fail_cdev:
	cdev_del(dev->cdev);
fail_record:
	kfree(dev);
	return result;
}

static void __exit sysc_module_exit(void)
{
	SYSC_DEV *dev = g_sysc_module;

	iounmap(dev->base);
	release_mem_region(SYSC_PHYS_BASE, SYSC_BLOCK_SIZE);
	cdev_del(dev->cdev);
	unregister_chrdev_region(dev->devno, 1);
	kfree(dev);
	g_sysc_module = NULL;
}

module_init(sysc_module_init);
module_exit(sysc_module_exit);
MODULE_LICENSE("GPL");
