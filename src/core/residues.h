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
constexpr unsigned char as_scored(unsigned char byte)
{
    if (byte == '.') return '-';
    if (byte >= 'a' && byte <= 'z') return static_cast<unsigned char>(byte - ('a' - 'A'));
    return byte;
}

}  // namespace marrowind::detail

#endif
