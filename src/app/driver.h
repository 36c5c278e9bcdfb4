// driver.h: the command-line program.
//
// Contents:
//   RunCommandLine  parses the options, runs every stage of a scoring run, returns the exit status
//   OpenFile        opens a stream and says whether it worked
#ifndef MARROWIND_APP_DRIVER_H
#define MARROWIND_APP_DRIVER_H

#include <cstdio>

// The whole program: progress lines and error messages on standard error, the scored alignment
// (or the file named by --output) and the DOPS line on standard output. Returns the status with
// which the process should end; it never ends the process itself.
int RunCommandLine(int argc, char** argv);

// Opens path with fopen in the given mode and stores the stream (or null) through stream.
// Returns 1 when the file was opened, else 0. Writes nothing.
int OpenFile(const char* path, std::FILE** stream, const char* mode);

#endif
