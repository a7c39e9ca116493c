#pragma once

// The end of a complete run's log: busy retry pass, end of the file list,
// exception list, run time, statistics, ":COPY" and the recopy list.
void writeEndReport();
