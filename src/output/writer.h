// writer.h: the scored alignment of the program's records, one text line per alignment column.
//
// Contents:
//   round_it        decimal rounding, halves away from zero
//   WriteAlignment  writes every column's score and residues to an open stream
//
// The same lines for sequences held elsewhere, and the formatting of the figures, are public:
// <marrowind/output.h>.
#ifndef MARROWIND_OUTPUT_WRITER_H
#define MARROWIND_OUTPUT_WRITER_H

#include <cstdio>

#include "core/records.h"

// x rounded to `places` decimals: round(x * 10^places) / 10^places, the product formed in
// double precision and taken to the nearest whole number with halves away from zero.
double round_it(double x, int places);

// Writes one line per column i, in column order:
//   the score as marrowind::format_score gives it (rounded with round_it to 3 decimals and
//   formatted "%5.3f"), 11 spaces, "#", 14 spaces, the residue of every sequence in sequence
//   order exactly as stored, "\n".
// For scores from 0 to 1 a line is 32 + nseq bytes. *out is read once; the stream is neither
// flushed nor closed. Throws marrowind::OutputError(destination, errno) when a write fails.
void WriteAlignment(FILE** out, Alignment* alignment, Data* data,
                    const char* destination = "standard output");

#endif
