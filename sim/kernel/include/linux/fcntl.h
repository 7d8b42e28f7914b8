#ifndef _LINUX_FCNTL_H
#define _LINUX_FCNTL_H
/* The board's values, which are the PC's too. */
#ifdef SIMK_HOST
#include <fcntl.h>
#else
#define O_ACCMODE 00000003
#define O_RDONLY 00000000
#define O_WRONLY 00000001
#define O_RDWR 00000002
#define O_NONBLOCK 00004000
#endif
#endif
