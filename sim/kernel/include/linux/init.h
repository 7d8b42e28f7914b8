#ifndef _LINUX_INIT_H
#define _LINUX_INIT_H
/* Section placement of load and unload code: nothing to place here. */
#define __init
#define __exit
#define __initdata
#define __devinit
#define __devexit
#endif
