/* api.h: the in-memory scoring entry points of Marrowind.
 *
 * Contents:
 *   ScoreAlignment  conservation score of every column of sequences held as strings
 *   FindSeqDist     distance between two aligned strings
 *   OpenFiles       opens a stream, or ends the program with a message
 *
 * These functions behave like the command-line program: they write progress lines to standard
 * error and, on any failure, write a message to standard error and END THE PROCESS (status 1).
 * Both scoring functions read the substitution matrix from one fixed path,
 * /usr/local/svn/source/Gildmoor/trunk/src/Marrowind/PET91mod.mat2, which must hold a matrix
 * file. Sequences are scored exactly as given: no upper-casing, no "." to "-".
 *
 * For a library interface that never prints and never ends the process, and that takes any
 * matrix, see <marrowind/marrowind.h>.
 */
#ifndef MARROWIND_API_H
#define MARROWIND_API_H

#include <cstdio>

/* Scores the columns of count aligned, NUL-terminated strings. The alignment is as long as the
 * first string; every other string must be at least that long (only that many bytes of each
 * are read). Weights come from the pairwise distance table (each distance rounded to single
 * precision). Returns a block of that many doubles, column c's score in entry c, allocated with
 * malloc: the caller releases it with free. Writes "Calculate sequence distances....",
 * "Calculating sequence weights....", "Calculating positional conservation scores...." and
 * "bob" to standard error. Ends the process with status 1 when seqs or one of its strings is
 * null, count is below 1, a string is shorter than the first, the matrix file cannot be read,
 * or memory runs out. */
double* ScoreAlignment(char** seqs, int count);

/* Distance between two aligned strings over their first `columns` bytes: one minus the mean
 * similarity over the columns where at least one of the two has a residue, rounded to single
 * precision and widened back. 0 columns give 0.0. Writes "Calculate sequence distances...." to
 * standard error. Ends the process with status 1 when a string is null, columns is negative,
 * a string is shorter than columns, or the matrix file cannot be read. */
double FindSeqDist(const char* first, const char* second, int columns);

/* Opens path with fopen in the given mode and stores the stream through stream. When the file
 * cannot be opened, writes "\nError: <path> could not be opened\n" to standard error and ends
 * the process with status 1. */
void OpenFiles(const char* path, FILE** stream, char* mode);

#endif
