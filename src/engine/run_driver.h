#pragma once

// Carries out the run in the given mode; returns 0 when it completed.
int runDriver(int mode);
