// validate.h: acceptance and normalisation of an alignment before it is scored.
//
// Contents:
//   CheckSeqs  refuses an empty or ragged alignment; turns "." into "-" and a-z into A-Z
#ifndef MARROWIND_INPUT_VALIDATE_H
#define MARROWIND_INPUT_VALIDATE_H

#include "core/records.h"

// On return the alignment has at least one sequence, every seq is as long as the first, and
// no seq holds "." or a lower-case letter a to z; every other byte is left as it is.
// Throws marrowind::InputError:
//   "\nError: No sequences parsed from FASTA file\n" when there are no sequences;
//   "\nError: sequences in input aren't aligned to the same length (first sequence is of
//   length L but sequence with index i is of length n)\n" for the first (lowest index)
//   sequence whose length differs from the first one's.
void CheckSeqs(Alignment* alignment);

#endif
