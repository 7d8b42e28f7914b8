/*
 * tq90ra_gpio: the SoC's GPIO block and one character device per input pin that the recorder
 * watches (/dev/gpio13 REC button, /dev/gpio14 reset button, /dev/gpio15 power-fail line).
 *
 * A read arms the pin's interrupt and sleeps until the pin's edge (or a short time-out); the
 * requests read the pin level, program the pin's interrupt bits, set pin functions and read or
 * write the registers of the block.
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
#include <linux/interrupt.h>
#include <linux/irqflags.h>
#include <linux/irq.h>
#include <linux/preempt.h>
#include <asm/io.h>
#include <asm/uaccess.h>
#include <asm/semaphore.h>

#define GPIO_NAME "gpio"
#define GPIO_MAJOR 241
#define GPIO_MINORS 16
#define GPIO_PHYS_BASE 0xFFFF1000UL
#define GPIO_BLOCK_SIZE 0x70
#define GPIO_IRQ_BASE 32
#define GPIO_READ_TIMEOUT 10 /* ticks: 100 ms */
#define GPIO_REQUEST_TYPE 'g'
#define GPIO_MAX_OFFSET 108 /* the last 32-bit register starts here */

/* Registers of the block */
#define GPIO_INTR_TYPE 0x60
#define GPIO_INTR_POLARITY 0x64
#define GPIO_INTR_ENABLE 0x68
#define GPIO_INTR_STATUS 0x6c

/* Requests */
#define GPIO_IOC_READ8 0xc0046701
#define GPIO_IOC_READ16 0xc0046702
#define GPIO_IOC_READ32 0xc0046703
#define GPIO_IOC_WRITE8 0x40046704
#define GPIO_IOC_WRITE16 0x40046705
#define GPIO_IOC_WRITE32 0x40046706
#define GPIO_IOC_GET_LEVEL 0xc0046707
#define GPIO_IOC_SET_BIT 0xc0046708
#define GPIO_IOC_INT_STATUS 0xc0046709
#define GPIO_IOC_INT_TYPE 0xc004670a
#define GPIO_IOC_INT_POLARITY 0xc004670b
#define GPIO_IOC_INT_ENABLE 0xc004670c
#define GPIO_IOC_PIN_FUNCTION 0xc004670d
#define GPIO_IOC_GET_LEVEL_OR_EDGE 0xc004670e

typedef struct {
	u32 a0;
	u32 a1;
	u32 a2;
} GPIO_IOCTL_ARG;

typedef struct {
	char name[16];
	unsigned char busy[GPIO_MINORS];
	void __iomem *base;
	int intr_seen[GPIO_MINORS];
	wait_queue_head_t wait[GPIO_MINORS];
	struct semaphore read_sem[GPIO_MINORS];
	struct semaphore req_sem[GPIO_MINORS];
	dev_t devno[GPIO_MINORS];
	struct cdev *cdev[GPIO_MINORS];
} GPIO_DEV;

static GPIO_DEV *gp_gpio_module;

static const unsigned char gp_used_gpio[GPIO_MINORS] = {
	0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1
};
static const unsigned char gp_gpio_intrType[GPIO_MINORS] = {
	0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1
};
static const unsigned char gp_gpio_intrPolarity[GPIO_MINORS] = {
	0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1
};

/* Pin functions set at load: data register offset and the code of pins 0..7 (-1: unchanged). */
struct gpio_port_setup {
	u32 offset;
	signed char code[8];
};

static const struct gpio_port_setup gp_load_functions[] = {
	{ 0x00, { 1, 1, -1, -1, 1, 1, 3, 3 } },
	{ 0x08, { 1, 1, 1, 1, 0, 0, 0, 0 } },
	{ 0x10, { 2, 2, 2, 2, 3, 3, 1, 1 } },
	{ 0x18, { 1, 1, 1, 1, 1, 1, 1, 1 } },
	{ 0x20, { 1, 1, 1, 1, 1, 1, 1, 1 } },
	{ 0x28, { 1, 1, 1, 1, 1, 1, 1, 1 } },
	{ 0x30, { 1, 1, 1, 1, 1, 1, 1, 1 } },
	{ 0x48, { 1, 1, 1, 1, 1, 1, 1, 1 } },
	{ 0x50, { 1, 1, 1, 1, 1, 1, 1, 1 } },
};

/* ---- register routines ---- */

static int getGpioData(u32 offset, u32 pin)
{
	if (pin > 7)
		return -EINVAL;
	return (readl(gp_gpio_module->base + offset) >> pin) & 1;
}

/* Bit of a pin in the interrupt registers: pin n of port 0 is bit n, of port 8 bit 8 + n. */
static int gpio_intr_bit(u32 port, u32 pin, u32 value)
{
	if ((port != 0 && port != 8) || pin > 7 || value > 1)
		return -EINVAL;
	return port + pin;
}

/* The type, polarity and enable registers are shared by all pins: their read-modify-write
 * runs with interrupts off, so that no other request or handler changes them in between. */
static int gpio_set_intr_bit(u32 reg, u32 port, u32 pin, u32 value)
{
	int bit = gpio_intr_bit(port, pin, value);
	unsigned long flags;
	u32 word;

	if (bit < 0)
		return bit;
	local_irq_save(flags);
	word = readl(gp_gpio_module->base + reg);
	word = (word & ~(1U << bit)) | (value << bit);
	writel(word, gp_gpio_module->base + reg);
	local_irq_restore(flags);
	return 0;
}

/* The status register is cleared by writing 1 to a bit. Only the own bit is written: a
 * read-modify-write would write back, and so acknowledge, another pin's edge that was pending
 * or arrived between the read and the write, and that edge (a REC press) would be lost. A 0
 * changes nothing. */
static int setGpioStatus(u32 port, u32 pin, u32 value)
{
	int bit = gpio_intr_bit(port, pin, value);

	if (bit < 0)
		return bit;
	writel(value << bit, gp_gpio_module->base + GPIO_INTR_STATUS);
	return 0;
}

static int setGpioIntrType(u32 port, u32 pin, u32 value)
{
	return gpio_set_intr_bit(GPIO_INTR_TYPE, port, pin, value);
}

static int setGpioIntrPol(u32 port, u32 pin, u32 value)
{
	return gpio_set_intr_bit(GPIO_INTR_POLARITY, port, pin, value);
}

static int setGpioIntrEnable(u32 port, u32 pin, u32 value)
{
	return gpio_set_intr_bit(GPIO_INTR_ENABLE, port, pin, value);
}

static int ctrlGpio(u32 offset, u32 pin, u32 code)
{
	u32 word;

	/* The function register follows the data register and must lie inside the block. */
	if (pin > 7 || code > 3 || (offset & 3) || offset + 8 > GPIO_BLOCK_SIZE)
		return -EINVAL;
	word = readl(gp_gpio_module->base + offset + 4);
	word = (word & ~(3U << (2 * pin))) | (code << (2 * pin));
	writel(word, gp_gpio_module->base + offset + 4);
	return 0;
}

/* ---- interrupt ---- */

static irqreturn_t gpio_irq_handle(int irq, void *dev_id)
{
	int n = irq - GPIO_IRQ_BASE;

	setGpioStatus(n & 0xf8, n & 7, 1);
	gp_gpio_module->intr_seen[n] = 1;
	wake_up_interruptible(&gp_gpio_module->wait[n]);
	return IRQ_HANDLED;
}

/* ---- file operations ---- */

static int gpio_open(struct inode *inode, struct file *file)
{
	unsigned minor = iminor(inode);

	if (minor >= GPIO_MINORS)
		return -ENODEV;
	preempt_disable();
	if (gp_gpio_module->busy[minor]) {
		preempt_enable();
		printk("<6>%s (major=%d, minor=%d) Busy somebody opened\n", gp_gpio_module->name,
		       GPIO_MAJOR, minor);
		return -EBUSY;
	}
	gp_gpio_module->busy[minor] = 1;
	preempt_enable();
	try_module_get(THIS_MODULE);
	return 0;
}

static int gpio_close(struct inode *inode, struct file *file)
{
	unsigned minor = iminor(inode);

	if (minor < GPIO_MINORS && gp_gpio_module->busy[minor]) {
		gp_gpio_module->busy[minor] = 0;
		module_put(THIS_MODULE);
	}
	return 0;
}

static ssize_t gpio_read(struct file *file, char __user *buffer, size_t count, loff_t *position)
{
	unsigned n = iminor(file->f_dentry->d_inode);
	u32 port = n & 0xf8;
	u32 pin = n & 7;
	long result;

	if (down_interruptible(&gp_gpio_module->read_sem[n]))
		return -ERESTARTSYS;
	setGpioStatus(port, pin, 1);
	gp_gpio_module->intr_seen[n] = 0;
	setGpioIntrEnable(port, pin, 1);

	if (file->f_flags & O_NONBLOCK) {
		if (gp_gpio_module->intr_seen[n])
			result = GPIO_READ_TIMEOUT;
		else
			result = wait_event_interruptible_timeout(gp_gpio_module->wait[n],
								  gp_gpio_module->intr_seen[n],
								  GPIO_READ_TIMEOUT);
		/* An edge that came as the time ran out is still an edge of this read: the next
		 * read forgets it, so reporting 0 would lose the press. */
		if (result == 0 && gp_gpio_module->intr_seen[n])
			result = 1;
	} else {
		if (gp_gpio_module->intr_seen[n])
			result = 1;
		else
			result = wait_event_interruptible(gp_gpio_module->wait[n],
							  gp_gpio_module->intr_seen[n]) ? -ERESTARTSYS : 1;
	}

	setGpioIntrEnable(port, pin, 0);
	up(&gp_gpio_module->read_sem[n]);
	return result;
}

/* A register access of `width` bytes at `offset`: aligned and inside the block. */
static int gpio_reg_ok(u32 offset, u32 width)
{
	return (offset % width) == 0 && offset + width <= GPIO_BLOCK_SIZE;
}

static int gpio_reg_read(GPIO_IOCTL_ARG *arg, GPIO_IOCTL_ARG __user *user, u32 width)
{
	void __iomem *reg = gp_gpio_module->base + arg->a0;

	if (!gpio_reg_ok(arg->a0, width))
		return -EINVAL;
	if (width == 1)
		arg->a1 = readb(reg);
	else if (width == 2)
		arg->a1 = readw(reg);
	else
		arg->a1 = readl(reg);
	if (copy_to_user(user, arg, sizeof(*arg)))
		return -EFAULT;
	return 0;
}

static int gpio_reg_write(const GPIO_IOCTL_ARG *arg, u32 width)
{
	void __iomem *reg = gp_gpio_module->base + arg->a0;

	if (!gpio_reg_ok(arg->a0, width))
		return -EINVAL;
	if (width == 1)
		writeb(arg->a1, reg);
	else if (width == 2)
		writew(arg->a1, reg);
	else
		writel(arg->a1, reg);
	return 0;
}

static int gpio_set_bit(const GPIO_IOCTL_ARG *arg)
{
	u32 word;

	if (arg->a1 > 7 || arg->a2 > 1 || !gpio_reg_ok(arg->a0, 4))
		return -EINVAL;
	word = readl(gp_gpio_module->base + arg->a0);
	word = (word & ~(1U << arg->a1)) | (arg->a2 << arg->a1);
	writel(word, gp_gpio_module->base + arg->a0);
	return 0;
}

static int gpio_ioctl(struct inode *inode, struct file *file, unsigned int cmd, unsigned long data)
{
	unsigned n = iminor(inode);
	GPIO_IOCTL_ARG __user *user = (GPIO_IOCTL_ARG __user *)data;
	GPIO_IOCTL_ARG arg;
	int result;

	if (_IOC_TYPE(cmd) != GPIO_REQUEST_TYPE)
		return -EINVAL;
	if (!access_ok(VERIFY_READ, user, sizeof(arg)) || copy_from_user(&arg, user, sizeof(arg)))
		return -EINVAL;
	if (arg.a0 > GPIO_MAX_OFFSET)
		return -EINVAL;
	if (down_interruptible(&gp_gpio_module->req_sem[n]))
		return -ERESTARTSYS;

	switch (cmd) {
	case GPIO_IOC_READ8:
		result = gpio_reg_read(&arg, user, 1);
		break;
	case GPIO_IOC_READ16:
		result = gpio_reg_read(&arg, user, 2);
		break;
	case GPIO_IOC_READ32:
		result = gpio_reg_read(&arg, user, 4);
		break;
	case GPIO_IOC_WRITE8:
		result = gpio_reg_write(&arg, 1);
		break;
	case GPIO_IOC_WRITE16:
		result = gpio_reg_write(&arg, 2);
		break;
	case GPIO_IOC_WRITE32:
		result = gpio_reg_write(&arg, 4);
		break;
	case GPIO_IOC_GET_LEVEL:
		result = getGpioData(n & 0xf8, n & 7);
		break;
	case GPIO_IOC_SET_BIT:
		result = gpio_set_bit(&arg);
		break;
	case GPIO_IOC_INT_STATUS:
		result = setGpioStatus(arg.a0, arg.a1, arg.a2);
		break;
	case GPIO_IOC_INT_TYPE:
		result = setGpioIntrType(arg.a0, arg.a1, arg.a2);
		break;
	case GPIO_IOC_INT_POLARITY:
		result = setGpioIntrPol(arg.a0, arg.a1, arg.a2);
		break;
	case GPIO_IOC_INT_ENABLE:
		result = setGpioIntrEnable(arg.a0, arg.a1, arg.a2);
		gp_gpio_module->intr_seen[n] = 0;
		break;
	case GPIO_IOC_PIN_FUNCTION:
		result = ctrlGpio(arg.a0, arg.a1, arg.a2);
		break;
	case GPIO_IOC_GET_LEVEL_OR_EDGE:
		if (gp_gpio_module->intr_seen[n]) {
			gp_gpio_module->intr_seen[n] = 0;
			result = -EINTR;
		} else {
			result = getGpioData(n & 0xf8, n & 7);
		}
		break;
	default:
		result = -EINVAL;
		break;
	}

	up(&gp_gpio_module->req_sem[n]);
	return result;
}

static const struct file_operations gpio_fops = {
	.owner = THIS_MODULE,
	.open = gpio_open,
	.release = gpio_close,
	.read = gpio_read,
	.ioctl = gpio_ioctl,
};

/* ---- load and unload ---- */

/* Undoes the registration of minors 0..last (those whose cdev exists). */
static void gpio_unregister(int last)
{
	int n;

	for (n = last; n >= 0; n--) {
		if (!gp_gpio_module->cdev[n])
			continue;
		free_irq(GPIO_IRQ_BASE + n, NULL);
		cdev_del(gp_gpio_module->cdev[n]);
		unregister_chrdev_region(gp_gpio_module->devno[n], 1);
		gp_gpio_module->cdev[n] = NULL;
	}
}

static int gpio_register_minor(int n)
{
	GPIO_DEV *dev = gp_gpio_module;
	struct cdev *cdev;
	int result;

	dev->devno[n] = MKDEV(GPIO_MAJOR, n);
	cdev = cdev_alloc();
	if (!cdev)
		return -ENOMEM;
	result = register_chrdev_region(dev->devno[n], 1, dev->name);
	if (result < 0) {
		cdev_del(cdev);
		return result;
	}
	cdev_init(cdev, &gpio_fops);
	cdev->owner = THIS_MODULE;
	result = cdev_add(cdev, dev->devno[n], 1);
	if (result < 0) {
		cdev_del(cdev);
		unregister_chrdev_region(dev->devno[n], 1);
		return result;
	}
	init_waitqueue_head(&dev->wait[n]);
	sema_init(&dev->read_sem[n], 1);
	sema_init(&dev->req_sem[n], 1);
	set_irq_type(GPIO_IRQ_BASE + n, IRQT_RISING);
	result = request_irq(GPIO_IRQ_BASE + n, gpio_irq_handle, IRQF_DISABLED, dev->name, NULL);
	if (result < 0) {
		cdev_del(cdev);
		unregister_chrdev_region(dev->devno[n], 1);
		return result;
	}
	dev->cdev[n] = cdev;
	return 0;
}

static int __init gpio_init(void)
{
	unsigned i, pin;
	int n, result;

	gp_gpio_module = kzalloc(sizeof(GPIO_DEV), GFP_KERNEL);
	if (!gp_gpio_module)
		return -ENOMEM;
	strncpy(gp_gpio_module->name, GPIO_NAME, sizeof(gp_gpio_module->name) - 1);
	gp_gpio_module->base = ioremap(GPIO_PHYS_BASE, GPIO_BLOCK_SIZE);
	if (!gp_gpio_module->base) {
		kfree(gp_gpio_module);
		gp_gpio_module = NULL;
		return -ENOMEM;
	}

	for (n = 0; n < GPIO_MINORS; n++) {
		if (!gp_used_gpio[n])
			continue;
		result = gpio_register_minor(n);
		if (result < 0) {
			gpio_unregister(n - 1);
			iounmap(gp_gpio_module->base);
			kfree(gp_gpio_module);
			gp_gpio_module = NULL;
			return result;
		}
	}

	for (i = 0; i < ARRAY_SIZE(gp_load_functions); i++) {
		for (pin = 0; pin < 8; pin++) {
			if (gp_load_functions[i].code[pin] >= 0)
				ctrlGpio(gp_load_functions[i].offset, pin, gp_load_functions[i].code[pin]);
		}
	}

	for (n = 0; n < GPIO_MINORS; n++) {
		if (!gp_used_gpio[n])
			continue;
		setGpioIntrType(n & 0xf8, n & 7, gp_gpio_intrType[n]);
		setGpioIntrPol(n & 0xf8, n & 7, gp_gpio_intrPolarity[n]);
	}
	return 0;
}

static void __exit gpio_cleanup(void)
{
	iounmap(gp_gpio_module->base);
	gpio_unregister(GPIO_MINORS - 1);
	kfree(gp_gpio_module);
	gp_gpio_module = NULL;
}

module_init(gpio_init);
module_exit(gpio_cleanup);
MODULE_LICENSE("GPL");
