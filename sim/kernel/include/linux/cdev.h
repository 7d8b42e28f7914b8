#ifndef _LINUX_CDEV_H
#define _LINUX_CDEV_H

#include "fs.h"

struct cdev {
	struct module *owner;
	const struct file_operations *ops;
	__kernel_dev_t dev;
	unsigned int count;
	int dynamic; /* made by cdev_alloc: freed by cdev_del */
};

SIMK_EXTERN_C_BEGIN
struct cdev *cdev_alloc(void);
void cdev_init(struct cdev *cdev, const struct file_operations *fops);
int cdev_add(struct cdev *cdev, __kernel_dev_t dev, unsigned count);
void cdev_del(struct cdev *cdev);
SIMK_EXTERN_C_END

#endif
