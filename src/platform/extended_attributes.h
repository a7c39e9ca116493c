// Carrying a file's extended attributes to its copy: user and trusted
// attributes, security labels and capabilities, and POSIX ACLs, which are
// stored as the attributes system.posix_acl_access and _default.
#pragma once

#include <cstdint>
#include <string>

#include "platform/windows_api.h"

namespace platform {

// What a copy of attributes did: whether it changed the target, and the
// first attribute the target would not take and why (a Windows code; 0 when
// every attribute arrived).
struct AttributeOutcome {
    bool changed = false;
    DWORD code = 0;
    std::string name;

    bool refused() const { return code != 0; }
};

// Makes the attributes of the open file or folder `target` those of the open
// `source`: sets what it lacks or holds with another value and removes what
// the source lacks, except security labels, which the system gives. A
// handle on a symbolic link carries nothing. Attributes set after the
// owner survive it (a change of owner clears a file capability); a
// permission change made afterwards with the source's mode leaves the ACL
// as set, since the ACL's mask is the mode's group bits. Does nothing on
// Windows (ACLs and alternate data streams are not carried there).
AttributeOutcome copyExtendedAttributes(HANDLE source, HANDLE target);

// When the status of the listed entry (attributes, ACL, mode, owner) last
// changed, in nanoseconds: a source file that changed in this way after its
// copy did is worth comparing attributes for. 0 where unknown (Windows).
uint64_t statusChangeTimeOf(const WIN32_FIND_DATAA& entry);

}  // namespace platform
