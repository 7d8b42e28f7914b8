/* Character devices as the VFS serves them: the file operations with the ioctl entry that takes
 * the inode, open files with their position and flags, and device number regions. */
#ifndef _LINUX_FS_H
#define _LINUX_FS_H

#include "types.h"
#include "kdev_t.h"
#include "fcntl.h"
#include "ioctl.h"

struct module;
struct cdev;
struct file;
struct inode;

#define SEEK_SET 0
#define SEEK_CUR 1
#define SEEK_END 2

#define FMODE_READ 0x1
#define FMODE_WRITE 0x2

struct file_operations {
	struct module *owner;
	__kernel_loff_t (*llseek)(struct file *, __kernel_loff_t, int);
	ssize_t (*read)(struct file *, char __user *, size_t, __kernel_loff_t *);
	ssize_t (*write)(struct file *, const char __user *, size_t, __kernel_loff_t *);
	unsigned int (*poll)(struct file *, void *);
	int (*ioctl)(struct inode *, struct file *, unsigned int, unsigned long);
	long (*unlocked_ioctl)(struct file *, unsigned int, unsigned long);
	long (*compat_ioctl)(struct file *, unsigned int, unsigned long);
	int (*mmap)(struct file *, void *);
	int (*open)(struct inode *, struct file *);
	int (*flush)(struct file *, void *);
	int (*release)(struct inode *, struct file *);
	int (*fsync)(struct file *, void *, int);
};

struct inode {
	__kernel_dev_t i_rdev;
	__kernel_loff_t i_size;
	struct cdev *i_cdev;
	void *i_private;
};

struct dentry {
	struct inode *d_inode;
};

struct path {
	struct dentry *dentry;
};

struct file {
	struct path f_path;
	const struct file_operations *f_op;
	unsigned int f_flags;
	unsigned int f_mode;
	__kernel_loff_t f_pos;
	void *private_data;
};
#define f_dentry f_path.dentry

static inline unsigned iminor(const struct inode *inode) { return MINOR(inode->i_rdev); }
static inline unsigned imajor(const struct inode *inode) { return MAJOR(inode->i_rdev); }

SIMK_EXTERN_C_BEGIN
int register_chrdev_region(__kernel_dev_t first, unsigned count, const char *name);
int alloc_chrdev_region(__kernel_dev_t *first, unsigned baseminor, unsigned count, const char *name);
void unregister_chrdev_region(__kernel_dev_t first, unsigned count);
__kernel_loff_t default_llseek(struct file *file, __kernel_loff_t offset, int origin);
__kernel_loff_t no_llseek(struct file *file, __kernel_loff_t offset, int origin);
int nonseekable_open(struct inode *inode, struct file *filp);
SIMK_EXTERN_C_END

#endif
