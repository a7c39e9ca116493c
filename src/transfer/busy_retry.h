#pragma once

// Tries the busy files again until all are through, or until no progress
// has been made for the busy wait time.
void retryBusyFiles();
