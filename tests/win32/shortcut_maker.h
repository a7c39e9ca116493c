// Real shell links (.lnk files), made as the Explorer makes them: through
// IShellLinkA and saved with IPersistFile.
#pragma once

#include <string>

namespace wintest {

// Writes a shortcut at `linkPath` to `targetPath`; false when the shell
// refused any step.
bool makeShortcut(const std::string& linkPath, const std::string& targetPath);

}  // namespace wintest
