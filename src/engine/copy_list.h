#pragma once

// Copies (or with verify, verifies) the file pairs of the open script file:
// a plain list, or the log of an earlier run. 0 when the list was read to
// its end, 1 when it is invalid.
int replayCopyList();
