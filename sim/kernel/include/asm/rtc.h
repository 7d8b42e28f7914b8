/* The ARM real-time-clock layer: one clock driver registers its operations, and the layer serves
 * /dev/rtc (misc device 10, 135) with the standard requests through them. */
#ifndef _ASM_RTC_H
#define _ASM_RTC_H

#include "../linux/rtc.h"
#include "../linux/types.h"

struct module;

struct rtc_ops {
	struct module *owner;
	int (*open)(void);
	void (*release)(void);
	int (*ioctl)(unsigned int, unsigned long);
	int (*read_time)(struct rtc_time *);
	int (*set_time)(struct rtc_time *);
	int (*read_alarm)(struct rtc_wkalrm *);
	int (*set_alarm)(struct rtc_wkalrm *);
	int (*proc)(char *buf);
};

#define RTC_MISC_MAJOR 10
#define RTC_MINOR 135

SIMK_EXTERN_C_BEGIN
/* -EBUSY when a clock is registered already. */
int register_rtc(struct rtc_ops *ops);
void unregister_rtc(struct rtc_ops *ops);
SIMK_EXTERN_C_END

#endif
