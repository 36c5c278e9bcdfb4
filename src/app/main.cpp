// main.cpp: entry point of the marrowind program.
//
// Contents: main.
#include "app/driver.h"

int main(int argc, char** argv) { return RunCommandLine(argc, argv); }
