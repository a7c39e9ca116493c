// Splits a Windows command line in place into at most `limit` arguments:
// blanks and tabs separate, a comma ends an unquoted argument, a double
// quote starts an argument that runs to the next double quote. The text from
// the first argument after the program name on is appended to `commandText`
// as typed, before it is cut. Returns the count of arguments.
#pragma once

class TextBuffer;

int splitCommandLine(char* line, char** argv, int limit, TextBuffer& commandText);
