#ifndef _LINUX_STRING_H
#define _LINUX_STRING_H

#include "types.h"

#ifndef SIMK_HOST
void *memset(void *s, int c, size_t n);
void *memcpy(void *dest, const void *src, size_t n);
int memcmp(const void *a, const void *b, size_t n);
size_t strlen(const char *s);
char *strncpy(char *dest, const char *src, size_t n);
int strcmp(const char *a, const char *b);
int strncmp(const char *a, const char *b, size_t n);
size_t strlcpy(char *dest, const char *src, size_t size);
#endif

#endif
