/* Memory-mapped registers. ioremap gives the address at which the board's kernel would map a
 * physical block (the SoC's I/O window at 0xFA000000 for 0xFFF00000..0xFFFFFFFF); every access goes
 * to the model of the block, which may react to it. Addresses are never dereferenced. */
#ifndef _ASM_IO_H
#define _ASM_IO_H

#include "../linux/types.h"

SIMK_EXTERN_C_BEGIN
void __iomem *ioremap(unsigned long phys, size_t size);
void iounmap(volatile void __iomem *addr);
unsigned int simk_io_read(const volatile void __iomem *addr, int width);
void simk_io_write(unsigned int value, volatile void __iomem *addr, int width);
SIMK_EXTERN_C_END

#define readb(a) ((u8)simk_io_read((a), 1))
#define readw(a) ((u16)simk_io_read((a), 2))
#define readl(a) ((u32)simk_io_read((a), 4))
#define writeb(v, a) simk_io_write((u8)(v), (a), 1)
#define writew(v, a) simk_io_write((u16)(v), (a), 2)
#define writel(v, a) simk_io_write((u32)(v), (a), 4)
#define __raw_readb(a) readb(a)
#define __raw_readw(a) readw(a)
#define __raw_readl(a) readl(a)
#define __raw_writeb(v, a) writeb((v), (a))
#define __raw_writew(v, a) writew((v), (a))
#define __raw_writel(v, a) writel((v), (a))
#define ioremap_nocache(p, s) ioremap((p), (s))

#endif
