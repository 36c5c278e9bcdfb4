#!/bin/sh
# check_install.sh: installs a build into a temporary prefix and checks what another project
# sees there: the CMake package (by building and running the library example), the pkg-config
# file, the entry points' declarations, the utility library, the program, the matrices and the
# man page.
# Usage: check_install.sh BUILD_DIR SOURCE_DIR
set -eu
build=$1
source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" >/dev/null
for file in bin/marrowind include/marrowind/api.h include/marrowind/marrowind.h \
    include/marrowind/errors.h include/marrowind/util.h share/marrowind/blosum62.mat2 \
    share/marrowind/pet91.mat2 share/man/man1/marrowind.1; do
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
  sh -c 'c++ -std=c++17 ${CXXFLAGS:-} "$1" -o "$2" ${LDFLAGS:-} $(pkg-config --cflags --libs marrowind)' \
  sh "$work/signatures.cpp" "$work/signatures"
"$work/signatures"

# The utility library: its one header is enough, and the installed library provides it all.
cat >"$work/utilities.cpp" <<'CPP'
#include <marrowind/util.h>
#include <cstdio>
int main(int argc, char** argv)
{
    int count = 0;
    char** fields = newsplit("A,R,,N", ',', &count);
    FreeStrings(fields, count);

    Graph2* graph = InitGraph2(3);
    const char path[3][3] = {{1, 1, 0}, {1, 1, 1}, {0, 1, 1}};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) graph->adj[i][j] = path[i][j];
    maximum_clique_finder2(graph);

    const OptSpec options[] = {{"-n", 1, 1}, {"--scale", 0, 2}};
    int index = 0;
    char* name = nullptr;
    char* argument = nullptr;
    int parsed = 0;
    try {
        while (GetOpt(argc, argv, options, 2, "usage: utilities -n N --scale X", &index, &name,
                      &argument))
            ++parsed;
    } catch (const marrowind::UsageError& e) {
        std::fputs(e.what(), stderr);
        return e.exit_status();
    }

    const float values[] = {1.0f, 2.0f, 6.0f};
    std::printf("%d fields, clique of %d, %d options, mean %g\n", count, graph->clique_size,
                parsed, mean(values, 3));
    FreeGraph2(graph);
    return 0;
}
CPP
PKG_CONFIG_PATH="$prefix/lib/pkgconfig:$prefix/lib64/pkgconfig" \
  sh -c 'c++ -std=c++17 ${CXXFLAGS:-} "$1" -o "$2" ${LDFLAGS:-} $(pkg-config --cflags --libs marrowind)' \
  sh "$work/utilities.cpp" "$work/utilities"
[ "$("$work/utilities" -n 5 --sc=0.5 file)" = "4 fields, clique of 2, 2 options, mean 3" ] ||
  { echo "utility library program gave another result"; exit 1; }
echo "installed package checked"
