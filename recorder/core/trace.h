// Console traces: a module tag, the source line in four digits, ": " and the message, as in
// "MAIN____0042: create_all_work_thread()". Each trace is one line, written in one piece so that
// lines of different threads never mix; a message without a final line break gets one.
#pragma once

#define TRACE(tag, fmt, ...) recorder_trace(tag "%04d: " fmt, __LINE__ __VA_OPT__(, ) __VA_ARGS__)
// The same without the line break (a few traces of the board run into the next line).
#define TRACE_NOLF(tag, fmt, ...) recorder_trace_nolf(tag "%04d: " fmt, __LINE__ __VA_OPT__(, ) __VA_ARGS__)

void recorder_trace(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void recorder_trace_nolf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
