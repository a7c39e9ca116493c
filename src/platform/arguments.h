// The process's arguments, as main received them.
#pragma once

namespace platform {

// Keeps the process's argument vector, as main received it.
void setProcessArguments(int argc, char** argv);
// The argument vector when the platform hands one over already split (POSIX),
// with the arguments after the program name as one text (each quoted where
// it would not read back as one word); null where the command line has to
// be split by the program (Windows).
char** processArgumentVector(int* argc, const char** argumentText);

}  // namespace platform
