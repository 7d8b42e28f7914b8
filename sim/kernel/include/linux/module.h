/* Loadable modules.
 *
 * On the board each module is its own object file; here all of them are linked into one process.
 * The build gives every module SIMK_MODULE (its name as a token) and KBUILD_MODNAME (the same as a
 * string), so module_init and module_exit define entry points under the module's own name,
 * simk_init_<name> and simk_exit_<name>, and THIS_MODULE is the module's own record,
 * simk_module_<name>. The board loads and unloads modules by name (sim/kernel/kernel.h). */
#ifndef _LINUX_MODULE_H
#define _LINUX_MODULE_H

#include "compiler.h"
#include "types.h"
#include "init.h"
#include "kernel.h"

enum module_state { MODULE_STATE_LIVE, MODULE_STATE_COMING, MODULE_STATE_GOING };

struct module {
	enum module_state state;
	const char *name;
	int refcount;
};

SIMK_EXTERN_C_BEGIN
int try_module_get(struct module *module);
void module_put(struct module *module);
int module_refcount(struct module *module);
SIMK_EXTERN_C_END

#define __module_get(m) ((void)try_module_get(m))

#ifdef SIMK_MODULE
#define SIMK_CAT2(a, b) a##b
#define SIMK_CAT(a, b) SIMK_CAT2(a, b)
#define SIMK_MODULE_RECORD SIMK_CAT(simk_module_, SIMK_MODULE)
extern struct module SIMK_MODULE_RECORD;
int SIMK_CAT(simk_init_, SIMK_MODULE)(void);
void SIMK_CAT(simk_exit_, SIMK_MODULE)(void);
#define THIS_MODULE (&SIMK_MODULE_RECORD)
#define module_init(fn) \
	struct module SIMK_MODULE_RECORD = { MODULE_STATE_COMING, KBUILD_MODNAME, 0 }; \
	int SIMK_CAT(simk_init_, SIMK_MODULE)(void) { return fn(); }
#define module_exit(fn) \
	void SIMK_CAT(simk_exit_, SIMK_MODULE)(void) { fn(); }
#else
#define THIS_MODULE ((struct module *)0)
#endif

#define MODULE_LICENSE(x)
#define MODULE_AUTHOR(x)
#define MODULE_DESCRIPTION(x)
#define MODULE_VERSION(x)
#define EXPORT_SYMBOL(sym)
#define EXPORT_SYMBOL_GPL(sym)
#define module_param(name, type, perm)
#define module_param_array(name, type, nump, perm)
#define MODULE_PARM_DESC(name, text)

#endif
