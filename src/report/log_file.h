// The run's log: written to "<name>.~~~" through a 32768-byte buffer and
// given its final name when it is closed. Every writer does nothing when
// no log is open.
#pragma once

#include <cstdint>

void openLog();
// Whether the entry `name` of the folder `folderPrefix` (which ends in the
// separator) is this run's own log, which a walk never copies, verifies or
// removes wherever it lies.
bool isRunLog(const char* folderPrefix, const char* name);
void writeLog(const char* text);
void writeLog2(const char* first, const char* second);
void writeLog3(const char* first, const char* second, const char* third);
void writeLogNumber(int32_t value);
void writeLogPair(const char* first, const char* second);
// A name, in double quotes when it holds a separator; line breaks in it are
// written as '?', so that the line stays one line.
void writeLogName(const char* name);
// A path as it stands, line breaks written as '?'.
void writeLogPath(const char* path);
// Whether a list line can carry the name so that a replay reads it back as
// it was: not with a line break, nor with a quote where quotes delimit it.
bool nameFitsListLine(const char* name);
// The list entry prefix + pair + "\r\n"; a pair that a replay could not
// read back is written as a comment line instead, and false returned.
bool writeLogEntry(const char* prefix, const char* first, const char* second);
void writeDebugTrace(int32_t point);
void flushLog();
void writeLogDirect(const char* bytes, uint32_t count);
void closeLog();
