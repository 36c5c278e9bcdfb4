// residues.h: a residue byte as the scoring reads it.
//
// Contents:
//   as_scored  "." as "-", a to z as A to Z, every other byte as it is
#ifndef MARROWIND_CORE_RESIDUES_H
#define MARROWIND_CORE_RESIDUES_H

namespace marrowind::detail {

// "." is the other common gap symbol; the scoring knows only "-". Lower case becomes upper case
// exactly as toupper does in the POSIX locale: a to z only, every other byte unchanged. This is
// the normalisation that validation applies before scoring.
// Selects rather than branches, so that the compiler can treat many bytes at once.
constexpr unsigned char as_scored(unsigned char byte)
{
    const bool lower = static_cast<unsigned char>(byte - 'a') < 26;
    const unsigned char upper = lower ? static_cast<unsigned char>(byte - ('a' - 'A')) : byte;
    return byte == '.' ? '-' : upper;
}

}  // namespace marrowind::detail

#endif
