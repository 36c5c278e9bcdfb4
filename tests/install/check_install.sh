#!/bin/sh
# check_install.sh: installs a build into a temporary prefix and checks what another project
# sees there: the CMake package (by building and running the library example), the pkg-config
# files, the entry points' declarations and library, the utility library as a library of its own, the
# program, the matrices, the man page and the licence.
# Usage: check_install.sh BUILD_DIR SOURCE_DIR
set -eu
build=$1
source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" >/dev/null
for file in bin/marrowind include/marrowind/api.h include/marrowind/util.h include/marrowind/marrowind.h \
    include/marrowind/errors.h include/marrowind/output.h share/marrowind/blosum62.mat2 \
    share/marrowind/pet91.mat2 share/man/man1/marrowind.1 share/doc/marrowind/LICENSE; do
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

# The entry points, declared with exactly these types, in a library of their own that brings the
# core along (with the output contracts), through pkg-config.
cat >"$work/signatures.cpp" <<'CPP'
#include <marrowind/api.h>
#include <marrowind/marrowind.h>
#include <marrowind/output.h>
double* (*score)(char**, int) = &ScoreAlignment;
double (*distance)(const char*, const char*, int) = &FindSeqDist;
void (*open_files)(const char*, FILE**, char*) = &OpenFiles;
int main()
{
    const bool formatted = marrowind::format_score(0.0625) == "0.063" &&
                           marrowind::format_dops(5.0) == " 5.000";
    return score && distance && open_files && formatted ? 0 : 1;
}
CPP
PKG_CONFIG_PATH="$prefix/lib/pkgconfig:$prefix/lib64/pkgconfig" \
  sh -c 'c++ -std=c++17 ${CXXFLAGS:-} "$1" -o "$2" ${LDFLAGS:-} $(pkg-config --cflags --libs marrowind_api)' \
  sh "$work/signatures.cpp" "$work/signatures"
"$work/signatures"

# The core brings no name of the utility library: a program that links only Marrowind::marrowind
# may define its own global mean and split, with the very signatures of the utility routines,
# while it reads a matrix (whose reader once pulled the utility library's splitting in).
mkdir "$work/projects"
cat >"$work/projects/own_names.cpp" <<'CPP'
#include <marrowind/marrowind.h>
#include <cstdio>
struct Words {
    int count;
};
float mean(const float* values, int n) { return n > 0 ? values[0] : 0.0f; }
int split(const char*, char, Words* words) { return words->count = 7; }
int main()
{
    const auto matrix = marrowind::SubstitutionMatrix::parse("A,R\n4,-1\n-1,5\n");
    Words words{0};
    const float values[] = {2.0f, 4.0f};
    std::printf("%s %d %g\n", matrix.letters().c_str(), split("", ',', &words), mean(values, 2));
    return 0;
}
CPP

# The utility library: its one header is enough, and Marrowind::util (or pkg-config's
# marrowind_util) provides it all. The program catches nothing: a usage error ends it.
cat >"$work/projects/utilities.cpp" <<'CPP'
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
    while (GetOpt(argc, argv, options, 2, "usage: utilities -n N --scale X", &index, &name,
                  &argument))
        ++parsed;

    const float values[] = {1.0f, 2.0f, 6.0f};
    std::printf("%d fields, clique of %d, %d options, mean %g\n", count, graph->clique_size,
                parsed, mean(values, 3));
    FreeGraph2(graph);
    return 0;
}
CPP
cat >"$work/projects/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.25)
project(MarrowindLinkCheck LANGUAGES CXX)
set(CMAKE_CXX_STANDARD 17)
find_package(Marrowind CONFIG REQUIRED)
add_executable(own_names own_names.cpp)
target_link_libraries(own_names PRIVATE Marrowind::marrowind)
add_executable(utilities utilities.cpp)
target_link_libraries(utilities PRIVATE Marrowind::util)
CMAKE
cmake -S "$work/projects" -B "$work/projects/build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/projects/build" >/dev/null
[ "$("$work/projects/build/own_names")" = "AR 7 2" ] ||
  { echo "a program with its own mean and split gave another result"; exit 1; }

PKG_CONFIG_PATH="$prefix/lib/pkgconfig:$prefix/lib64/pkgconfig" \
  sh -c 'c++ -std=c++17 ${CXXFLAGS:-} "$1" -o "$2" ${LDFLAGS:-} $(pkg-config --cflags --libs marrowind_util)' \
  sh "$work/projects/utilities.cpp" "$work/utilities"
for utilities in "$work/projects/build/utilities" "$work/utilities"; do
  [ "$("$utilities" -n 5 --sc=0.5 file)" = "4 fields, clique of 2, 2 options, mean 3" ] ||
    { echo "utility library program $utilities gave another result"; exit 1; }
  status=0
  "$utilities" -n 5 -z 2>"$work/usage.err" >/dev/null || status=$?
  [ "$status" = 1 ] && [ "$(head -1 "$work/usage.err")" = 'FATAL: No such option "z".' ] ||
    { echo "utility library program $utilities did not end on a usage error"; exit 1; }
done
echo "installed package checked"
