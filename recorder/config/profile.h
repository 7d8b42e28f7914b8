// Reading single values out of the settings files: sections "[NAME]" and lines "key=value".
//
// Every call opens the file, scans it from the top and closes it; nothing is cached. The syntax
// is the board's own, quirks included (see profile.cpp): no trimming, no comments, lines of at
// most 99 characters, the first matching line wins.
#pragma once

#include <cstdint>
#include <pthread.h>

// Serialises reads of profile files between threads. Statically initialised.
extern pthread_mutex_t wlock;
void initPrivateProfile();
void cleanPrivateProfile();

// Integer value of key in section ("=" or ":" delimits), or the default. A null section searches
// from the top of the file without a section header. The caller holds wlock.
int32_t GetPrivateProfileInt2(const char* section, const char* key, int32_t def, const char* path);
// The same under wlock.
int32_t GetPrivateProfileInt(const char* section, const char* key, int32_t def, const char* path);
// String value of key in section ("=" only), line end included, cut to size - 1 characters; the
// default when there is none. Returns the length of the string in out, or -1 when the file
// cannot be opened (out untouched). The caller holds wlock. `def` may be `out` itself.
int GetPrivateProfileString2(const char* section, const char* key, const char* def, char* out, int size,
                             const char* path);
