// driver.h: the command-line program.
//
// Contents:
//   RunCommandLine  parses the options, runs every stage of a scoring run, returns the exit status
#ifndef MARROWIND_APP_DRIVER_H
#define MARROWIND_APP_DRIVER_H

// The whole program: progress lines and error messages on standard error, the scored alignment
// (or the file named by --output) and the DOPS line on standard output. Returns the status with
// which the process should end; it never ends the process itself.
int RunCommandLine(int argc, char** argv);

#endif
