// Carrying extended attributes and ACLs to a copy, with the run's one report
// per reason when a target refuses some.
#pragma once

#include "platform/windows_api.h"

// Gives the open copy `to` the extended attributes of the open `from`. A
// refusal never fails the copy of the data: it is counted, and its reason is
// told in the log the first time a run meets it. True when the copy's
// attributes changed.
bool carryExtendedAttributes(HANDLE from, HANDLE to, const char* source, const char* target);

// The same without counting or telling, for a copy made beside the walk:
// false when the target refused some, and the walk's own copy then meets and
// tells the refusal.
bool carryExtendedAttributesUntold(HANDLE from, HANDLE to);

// The same between two existing files or folders found by name, neither
// followed if it is a link: a folder just made.
bool carryExtendedAttributesByName(const char* source, const char* target);

// The same for an up-to-date file whose source's status changed after it did.
// Where the attributes were equal and none was refused, the target is given
// the source's permission bits again (`sourceAttributes`), which moves its
// status change time past the source's: the next run has no reason to open
// the pair again. A refusal leaves it, so that every run tries and tells.
bool carryAttributesToUpToDateFile(const char* source, const char* target,
                                   DWORD sourceAttributes);
