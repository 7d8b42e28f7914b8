#ifndef _LINUX_DEVICE_H
#define _LINUX_DEVICE_H

#include "types.h"

struct module;

struct device_driver {
	const char *name;
	struct module *owner;
};

struct device {
	void *driver_data;
};

static inline void *dev_get_drvdata(struct device *dev) { return dev->driver_data; }
static inline void dev_set_drvdata(struct device *dev, void *data) { dev->driver_data = data; }

#endif
