// The program's common helpers: the error log on the card and the word swap of 8-byte values.
#pragma once

#define ERROR_LOG_PATH "/mnt/log/error.log"

// Appends "YYYY/MM/DD  hh:mm:ss tag(line) text" to the error log and flushes it to the card.
int SaveErrorLog(const char* tag, int line, const char* text);
// Exchanges the two 32-bit halves of the 8-byte value at p; each half keeps its byte order.
void Swap64(void* p);
// Reads the 4-byte system controller register at offset through /dev/sysc.
int get_sys_stat(int offset, void* buffer);
