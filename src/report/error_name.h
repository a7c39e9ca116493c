// Symbolic names of Windows error codes, so logs and messages name errors the
// way the Windows documentation does.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/windows_api.h"

struct ErrorNameRow {
    int32_t code;      // signed so the LZ expansion codes (-8..-1) sort first
    const char* name;  // null only in the end row
};

// The header's name for `code` (all 32 bits compared), or "ERROR_UNDEFINED"
// for a code the table does not hold. Never null; the text is static.
const char* errorName(DWORD code);

// The table in its fixed ascending order, ended by a row whose name is null.
const ErrorNameRow* errorNameRows();
int errorNameCount();
