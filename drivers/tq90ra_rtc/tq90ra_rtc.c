/*
 * tq90ra_rtc: connects the board's DS1337 clock chip on I2C bus 0 (run by the kernel's ds1337
 * driver) to the ARM real-time-clock layer, which serves /dev/rtc.
 */
#include <linux/module.h>
#include <linux/kernel.h>
#include <linux/init.h>
#include <linux/errno.h>
#include <linux/rtc.h>
#include <asm/rtc.h>

#define DS1337_GET_DATE 0
#define DS1337_SET_DATE 1
#define RTC_I2C_BUS 0

/* The kernel's ds1337 driver. */
extern int ds1337_do_command(int bus, int cmd, void *arg);

static int rtc_open(void)
{
	return 0;
}

static void rtc_release(void)
{
}

static int rtc_gettime(struct rtc_time *time)
{
	int result = ds1337_do_command(RTC_I2C_BUS, DS1337_GET_DATE, time);

	if (result < 0) {
		printk("[RTC]: failed to ds1337_do_command(DS1337_GET_DATE)\n");
		return result;
	}
	return 0;
}

static int rtc_settime(struct rtc_time *time)
{
	int result;

	/* The chip keeps two digits of the year: nothing before 2000. */
	if (time->tm_year <= 99)
		return -EINVAL;
	result = ds1337_do_command(RTC_I2C_BUS, DS1337_SET_DATE, time);
	if (result < 0) {
		printk("[RTC]: failed to ds1337_do_command(DS1337_SET_DATE)\n");
		return result;
	}
	printk("[RTC]: Set time of RTC successfully\n");
	return 0;
}

static int rtc_proc(char *buf)
{
	return 0;
}

static struct rtc_ops rtcops = {
	THIS_MODULE,
	rtc_open,
	rtc_release,
	NULL,
	rtc_gettime,
	rtc_settime,
	NULL,
	NULL,
	rtc_proc,
};

static int __init rtc_init(void)
{
	if (register_rtc(&rtcops) < 0)
		printk("[RTC]: Register RTC driver failed\n");
	else
		printk("[RTC]: Register RTC driver success\n");
	return 0;
}

static void __exit rtc_exit(void)
{
	unregister_rtc(&rtcops);
	printk("[RTC]: Unregister RTC driver\n");
}

module_init(rtc_init);
module_exit(rtc_exit);
MODULE_LICENSE("GPL");
