// Release information: the version report printed when the program is started
// with a single argument (or with none).
#pragma once

// Prints the version report and ends the process with status 0 when the
// command line asks for it: no argument at all, or a single argument that is
// "-V" or "-VERSION" in any case.  Otherwise returns without doing anything.
void KovRelCheckVersionOption(int argc, char** argv, int flags);

// Prints the report (long form when longReport is non-zero) for executable
// number mode to standard output and ends the process with status 0.
[[noreturn]] void KovRelPrintAndExit(int longReport, int mode);

// Prints the report without ending the process.
void KovRelPrintReport(int longReport, int mode);
