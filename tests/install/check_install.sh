#!/bin/sh
# check_install.sh: installs a build into a temporary prefix and checks what another project
# sees there: the CMake package (by building and running the library example), the pkg-config
# file, the entry points' declarations, the program, the matrices and the man page.
# Usage: check_install.sh BUILD_DIR SOURCE_DIR
set -eu
build=$1
source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" >/dev/null
for file in bin/marrowind include/marrowind/api.h include/marrowind/marrowind.h \
    include/marrowind/errors.h share/marrowind/blosum62.mat2 share/marrowind/pet91.mat2 \
    share/man/man1/marrowind.1; do
  [ -f "$prefix/$file" ] || { echo "not installed: $file"; exit 1; }
done

cmake -S "$source/examples/library" -B "$work/example" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/example" >/dev/null
"$work/example/score_columns" "$source/examples/globins45.fasta" \
  "$prefix/share/marrowind/blosum62.mat2" >"$work/example.out"
program_dops=$("$prefix/bin/marrowind" -a "$source/examples/globins45.fasta" \
  -m "$prefix/share/marrowind/blosum62.mat2" 2>/dev/null | sed -n 's/^DOPS score: *//p')
grep -q "DOPS $program_dops\$" "$work/example.out" ||
  { echo "example and program disagree"; head -1 "$work/example.out"; exit 1; }

# The entry points, declared with exactly these types, through pkg-config.
cat >"$work/signatures.cpp" <<'CPP'
#include <marrowind/api.h>
#include <marrowind/marrowind.h>
double* (*score)(char**, int) = &ScoreAlignment;
double (*distance)(const char*, const char*, int) = &FindSeqDist;
void (*open_files)(const char*, FILE**, char*) = &OpenFiles;
int main() { return score && distance && open_files ? 0 : 1; }
CPP
PKG_CONFIG_PATH="$prefix/lib/pkgconfig:$prefix/lib64/pkgconfig" \
  sh -c 'c++ -std=c++17 "$1" -o "$2" $(pkg-config --cflags --libs marrowind)' \
  sh "$work/signatures.cpp" "$work/signatures"
"$work/signatures"
echo "installed package checked"
