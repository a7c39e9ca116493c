// Turning path arguments into search patterns and checking that source and
// target can be mirrored into each other.
#pragma once

class TextBuffer;

// Ends the run when the path holds wild cards or is empty; otherwise appends
// the separator where needed and "*.*".
void makeSearchPattern(TextBuffer& path);
// Ends the run when the two patterns name the same folder or the target lies
// inside the source; asks when the source lies inside the target; ends the
// run when the source cannot be listed.
void checkPathRelation(const char* sourcePattern, const char* targetPattern);
