// Carrying to an up-to-date target file what changed in its source's status
// alone: permissions, owner and group, extended attributes and ACLs.
#pragma once

#include "engine/search_pattern.h"
#include "platform/windows_api.h"

// `target` is the listed target file that has `source`'s size and time. The
// permission bits, owner and group are compared as both listings show them;
// the attributes only when the source's status changed after the target's
// (an ACL or attribute change leaves the size and times alone), so that a
// run in which nothing changed opens no file for them.
void updateMetadata(const SourceEntry& source, const WIN32_FIND_DATAA& target,
                    const char* sourcePath, const char* targetPath);
