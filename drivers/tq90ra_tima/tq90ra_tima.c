/*
 * tq90ra_tima: Timer A as a 25 ms tick that drives three blink channels on pins 0..2 of GPIO
 * port C. Channel 0 gates the buzzer (its pin takes the tone of Timer B while on); channels 1 and
 * 2 are the LEDs. The recorder sends one blink request per channel through /dev/tima0.
 */
#include <linux/module.h>
#include <linux/kernel.h>
#include <linux/init.h>
#include <linux/fs.h>
#include <linux/cdev.h>
#include <linux/slab.h>
#include <linux/string.h>
#include <linux/errno.h>
#include <linux/interrupt.h>
#include <linux/irq.h>
#include <linux/preempt.h>
#include <asm/io.h>
#include <asm/uaccess.h>
#include <asm/semaphore.h>
#include <asm/system.h>

#define TIMA_NAME "tima"
#define TIMA_MAJOR 125
#define TIMA_MINOR 0
#define TIMA_PHYS_BASE 0xFFFFB000UL
#define TIMA_BLOCK_SIZE 0xB4
#define TIMA_IRQ 4
#define TIMA_CHANNELS 3
#define TIMA_TICK_MS 25
#define TIMA_REQUEST_TYPE 'x'

#define TIMA_RELOAD 0x00
#define TIMA_CONTROL 0x08
#define TIMA_ACK 0x0c
#define TIMA_ACK_VALUE 0xAA

/* Port C of the GPIO block, at its fixed kernel virtual addresses. */
#define TIMA_GPIOC_DATA ((void __iomem *)0xFA0F1010UL)
#define TIMA_GPIOC_FUNC ((void __iomem *)0xFA0F1014UL)
#define TIMA_PIN_GPIO 2 /* the pin is a plain output */
#define TIMA_PIN_TONE 1 /* pin 0 carries Timer B's tone to the buzzer */

#define TIMA_IOC_READ_REG 0xc00c7801
#define TIMA_IOC_WRITE_REG 0x400c7802
#define TIMA_IOC_NOP3 0x40087803
#define TIMA_IOC_NOP4 0x40087804
#define TIMA_IOC_BLINK 0x40187805

typedef struct {
	u32 continuous;
	u32 count;
	u32 function;
	u32 level;
	u32 off_ticks;
	u32 on_ticks;
	u32 counter;
} TIMA_CHANNEL;

typedef struct {
	u32 channel;
	u32 continuous;
	u32 count;
	u32 on_ms;
	u32 off_ms;
	u32 start_level;
} TIMA_BLINK_REQ;

typedef struct {
	u32 unused;
	u32 offset;
	u32 value;
} TIMA_REG_ARG;

typedef struct {
	char name[16];
	void __iomem *base;
	int busy;
	TIMA_CHANNEL channel[TIMA_CHANNELS];
	struct semaphore sem;
	dev_t devno;
	struct cdev *cdev;
} TIMA_DEV;

static TIMA_DEV *g_tima_module;

static void tima_gpioc_out(u32 pin, u32 level)
{
	u32 word = readl(TIMA_GPIOC_DATA);

	word = (word & ~(1U << pin)) | ((level & 1) << pin);
	writel(word, TIMA_GPIOC_DATA);
}

static void tima_gpioc_mode(u32 pin, u32 code)
{
	u32 word = readl(TIMA_GPIOC_FUNC);

	word = (word & ~(3U << (2 * pin))) | ((code & 3) << (2 * pin));
	writel(word, TIMA_GPIOC_FUNC);
}

static irqreturn_t tima_interrupt(int irq, void *dev_id)
{
	int c;

	for (c = 0; c < TIMA_CHANNELS; c++) {
		TIMA_CHANNEL *ch = &g_tima_module->channel[c];

		if (!ch->continuous && !ch->count)
			continue;
		ch->counter++;
		if (ch->level == 1 && ch->counter >= ch->on_ticks) {
			ch->counter = 0;
			ch->level = 0;
			tima_gpioc_out(c, 0);
			if (c == 0)
				tima_gpioc_mode(0, TIMA_PIN_GPIO);
			ch->count--;
		} else if (ch->level == 0 && ch->counter >= ch->off_ticks) {
			ch->counter = 0;
			ch->level = 1;
			tima_gpioc_out(c, 1);
			if (c == 0)
				tima_gpioc_mode(0, TIMA_PIN_TONE);
		}
	}
	writel(TIMA_ACK_VALUE, g_tima_module->base + TIMA_ACK);
	return IRQ_HANDLED;
}

static void tima_blink(const TIMA_BLINK_REQ *req)
{
	TIMA_CHANNEL *ch;
	u32 c = req->channel;
	/* Any non-zero start level means on: other values would reach other bits of port C. */
	u32 level = req->start_level ? 1 : 0;
	unsigned long flags;

	if (c >= TIMA_CHANNELS)
		return;
	ch = &g_tima_module->channel[c];
	/* The tick changes the same record and pins: it must not see the request half done. */
	local_irq_save(flags);
	ch->counter = 0;
	ch->continuous = req->continuous;
	ch->count = req->count;
	ch->on_ticks = req->on_ms / TIMA_TICK_MS;
	ch->off_ticks = req->off_ms / TIMA_TICK_MS;
	ch->level = level;
	tima_gpioc_out(c, level);
	if (c == 0)
		tima_gpioc_mode(0, level ? TIMA_PIN_TONE : TIMA_PIN_GPIO);
	else
		tima_gpioc_mode(c, TIMA_PIN_GPIO);
	local_irq_restore(flags);
}

static int tima_reg_ok(u32 offset)
{
	return (offset & 3) == 0 && offset + 4 <= TIMA_BLOCK_SIZE;
}

/* A register request's argument, fetched from the caller and checked against the block. */
static int tima_fetch_reg(TIMA_REG_ARG *reg, const void __user *user)
{
	if (copy_from_user(reg, user, sizeof(*reg)) || !tima_reg_ok(reg->offset))
		return -EINVAL;
	return 0;
}

static int tima_open(struct inode *inode, struct file *file)
{
	preempt_disable();
	if (g_tima_module->busy) {
		preempt_enable();
		return -EBUSY;
	}
	g_tima_module->busy = 1;
	preempt_enable();
	try_module_get(THIS_MODULE);
	return 0;
}

static int tima_close(struct inode *inode, struct file *file)
{
	if (!g_tima_module->busy)
		return -ENODEV;
	g_tima_module->busy = 0;
	module_put(THIS_MODULE);
	return 0;
}

static int tima_ioctl(struct inode *inode, struct file *file, unsigned int cmd, unsigned long data)
{
	void __user *user = (void __user *)data;
	TIMA_BLINK_REQ req;
	TIMA_REG_ARG reg;
	int result = 0;

	if (_IOC_TYPE(cmd) != TIMA_REQUEST_TYPE)
		return -ENOTTY;
	if (down_interruptible(&g_tima_module->sem))
		return -ERESTARTSYS;

	switch (cmd) {
	case TIMA_IOC_BLINK:
		if (!user)
			break;
		if (copy_from_user(&req, user, sizeof(req))) {
			result = -EINVAL;
			break;
		}
		tima_blink(&req);
		break;
	case TIMA_IOC_WRITE_REG:
		result = tima_fetch_reg(&reg, user);
		if (result)
			break;
		writel(reg.value, g_tima_module->base + reg.offset);
		break;
	case TIMA_IOC_READ_REG:
		result = tima_fetch_reg(&reg, user);
		if (result)
			break;
		reg.value = readl(g_tima_module->base + reg.offset) & 0xffff;
		if (copy_to_user(user, &reg, sizeof(reg)))
			result = -EFAULT;
		break;
	case TIMA_IOC_NOP3:
	case TIMA_IOC_NOP4:
		break;
	default:
		result = -EFAULT;
		break;
	}

	up(&g_tima_module->sem);
	return result;
}

static const struct file_operations tima_fops = {
	.owner = THIS_MODULE,
	.open = tima_open,
	.release = tima_close,
	.ioctl = tima_ioctl,
};

static void tima_channels_reset(u32 leds_continuous)
{
	unsigned long flags;
	int c;

	local_irq_save(flags);
	for (c = 0; c < TIMA_CHANNELS; c++) {
		TIMA_CHANNEL *ch = &g_tima_module->channel[c];

		ch->continuous = c == 0 ? 0 : leds_continuous;
		ch->function = TIMA_PIN_GPIO;
		ch->on_ticks = 20;
		ch->off_ticks = 20;
		ch->count = 0;
		ch->level = 0;
		ch->counter = 0;
		tima_gpioc_out(c, 0);
		tima_gpioc_mode(c, TIMA_PIN_GPIO);
	}
	local_irq_restore(flags);
}

static int __init tima_module_init(void)
{
	TIMA_DEV *dev;
	u32 count = 75000, code = 0, control = 0x81;
	int result;

	dev = kzalloc(sizeof(TIMA_DEV), GFP_KERNEL);
	if (!dev) {
		result = -ENOMEM;
		goto fail;
	}
	strncpy(dev->name, TIMA_NAME, sizeof(dev->name) - 1);
	dev->devno = MKDEV(TIMA_MAJOR, TIMA_MINOR);
	dev->cdev = cdev_alloc();
	if (!dev->cdev) {
		result = -ENOMEM;
		goto fail_record;
	}
	result = register_chrdev_region(dev->devno, 1, dev->name);
	if (result < 0)
		goto fail_cdev;
	cdev_init(dev->cdev, &tima_fops);
	dev->cdev->owner = THIS_MODULE;
	result = cdev_add(dev->cdev, dev->devno, 1);
	if (result < 0)
		goto fail_region;
	dev->base = ioremap(TIMA_PHYS_BASE, TIMA_BLOCK_SIZE);
	if (!dev->base) {
		result = -ENOMEM;
		goto fail_added;
	}
	g_tima_module = dev;

	sema_init(&dev->sem, 1);
	set_irq_type(TIMA_IRQ, IRQT_RISING);
	if (request_irq(TIMA_IRQ, tima_interrupt, IRQF_DISABLED, dev->name, NULL) < 0)
		printk("[TIMA]: irq %d is not available\n", TIMA_IRQ);

	/* 75000 input clocks make one tick; the prescaler halves them until they fit 16 bits. */
	do {
		count /= 2;
		code++;
	} while (count >= 0x10000 && code < 7);
	control = (control & ~(7U << 2)) | (code << 2);

	writel(TIMA_ACK_VALUE, dev->base + TIMA_ACK);
	writel(count, dev->base + TIMA_RELOAD);
	writel(control, dev->base + TIMA_CONTROL);

	/* Both LEDs blink together until the recorder shows its own state; the buzzer is silent. */
	tima_channels_reset(1);
	return 0;

fail_added:
	cdev_del(dev->cdev);
	dev->cdev = NULL;
fail_region:
	unregister_chrdev_region(dev->devno, 1);
fail_cdev:
	if (dev->cdev)
		cdev_del(dev->cdev);
fail_record:
	kfree(dev);
fail:
	printk("[TIMA]: tq90ra TIMA module cleanup successfully.\n");
	return result;
}

static void __exit tima_module_exit(void)
{
	TIMA_DEV *dev = g_tima_module;

	tima_channels_reset(0);
	writel(0, dev->base + TIMA_CONTROL);
	free_irq(TIMA_IRQ, NULL);
	unregister_chrdev_region(dev->devno, 1);
	cdev_del(dev->cdev);
	iounmap(dev->base);
	kfree(dev);
	g_tima_module = NULL;
	printk("[TIMA]: tq90ra TIMA module cleanup successfully.\n");
}

module_init(tima_module_init);
module_exit(tima_module_exit);
MODULE_LICENSE("GPL");
