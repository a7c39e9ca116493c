#pragma once

// Compares one source file with its target by size, then byte by byte.
// 1: equal, or missing, or busy, or the source could not be read; 0: any
// other difference or failure.
int verifyFile(const char* source, const char* target);
