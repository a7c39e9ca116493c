// Turning a regular file into the symbolic link its content describes.
#pragma once

#include "platform/posix/anchor.h"
#include "platform/windows_api.h"

namespace posix {

// Replaces the regular file `at` names by a symbolic link whose text is the
// file's content, keeping the file's access and modification times. The
// replacement is atomic: the name always holds either the file or the link.
BOOL turnFileIntoLink(const NameAt& at);

}  // namespace posix
