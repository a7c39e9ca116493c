// The run's log: written to "<name>.~~~" through a 32768-byte buffer and
// given its final name when it is closed. Every writer does nothing when
// no log is open.
#pragma once

#include <cstdint>

void openLog();
void writeLog(const char* text);
void writeLog2(const char* first, const char* second);
void writeLog3(const char* first, const char* second, const char* third);
void writeLogNumber(int32_t value);
void writeLogPair(const char* first, const char* second);
void writeLogName(const char* name);
void writeDebugTrace(int32_t point);
void flushLog();
void writeLogDirect(const char* bytes, uint32_t count);
void closeLog();
