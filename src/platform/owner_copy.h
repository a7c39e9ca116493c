// Giving a copy the owner, group and permission bits of its source.
#pragma once

#include "platform/windows_api.h"

namespace platform {

// When the process runs as root, gives `target` (never following a final
// symbolic link) the owner and group of `source`; elsewhere does nothing.
// Returns FALSE with the last error set when a needed change failed.
BOOL copyOwner(const char* source, const char* target);
// The same between two open files: the one being read and its copy being
// written, so that no name is looked up again.
BOOL copyOwnerOfOpen(HANDLE source, HANDLE target);
// Whether copies get their source's owner and group: only a process
// running as root can give them.
bool carriesOwners();
// Gives the open copy `target` the permission bits that the source's
// attribute word carries, through the handle, so that its name need not be
// looked up again; given even where they are already so, which moves the
// copy's status change time to now. False when the word asks for more than
// that (read-only on Windows, a link) or the change failed: the name must
// then be given the word after the close.
bool givePermissionsOfOpen(HANDLE target, DWORD attributes);

}  // namespace platform
