// What a listing tells of an entry beyond the Windows find record: the
// permission bits, owner and group a copy carries, and the link count and
// identity that show two names of one file.
#pragma once

#include <cstdint>

#include "platform/windows_api.h"

namespace platform {

struct EntryDetails {
    uint32_t mode = 0;  // permission bits with set-id and sticky (07777)
    uint32_t owner = 0;
    uint32_t group = 0;
    uint32_t links = 1;
    uint64_t device = 0;
    uint64_t inode = 0;
};

// The details the listing or look-up that filled `entry` found. Windows'
// find record has none: there every entry reads as one name with no
// permission bits, owner or identity.
EntryDetails detailsOf(const WIN32_FIND_DATAA& entry);

}  // namespace platform
