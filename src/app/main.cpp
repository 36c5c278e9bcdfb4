// main.cpp: entry point of the marrowind program.
//
// Contents: main.
#include <malloc.h>

#include "app/driver.h"

int main(int argc, char** argv)
{
    // The stages allocate and free buffers of a few megabytes one after another. Keeping freed
    // memory in the process lets the next stage reuse it: first touches of fresh pages from the
    // system cost as much as the work done in them on small alignments. Buffers above 32 MB
    // still come from, and go back to, the system.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
    mallopt(M_ARENA_MAX, 1);
    return RunCommandLine(argc, argv);
}
