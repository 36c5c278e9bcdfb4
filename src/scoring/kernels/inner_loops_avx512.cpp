// inner_loops_avx512.cpp: AVX-512 inner loops of the pair distances and the column scores.
//
// Contents: avx512::cpu_supports, avx512::distance_row, avx512::finish_distances,
//           avx512::gather_block, avx512::column_block.
//
// Only the functions marked with the target attribute use AVX-512; the file is compiled for the
// x86-64 baseline like every other, and the engine calls these only after cpu_supports().
#include "scoring/kernels/inner_loops_avx512.h"

#include <immintrin.h>

// GCC 12 warns inside its own intrinsics, whose "undefined" vectors are initialised from
// themselves on purpose; nothing here reads an undefined value.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#define MARROWIND_AVX512 __attribute__((target("avx512f,avx512bw,avx512dq,avx512vbmi,avx512vnni")))

namespace marrowind {
namespace avx512 {

bool cpu_supports()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vbmi") &&
           __builtin_cpu_supports("avx512vnni");
}

namespace {

struct DistanceAccumulators {
    __m512i plane[kDistancePlanes];
};

// Adds one quad of one block: the levels of 16 sequences x 4 columns, looked up in the row's
// level table, then each plane byte of each level summed over the 4 columns per sequence.
MARROWIND_AVX512 inline void add_quad(DistanceAccumulators& acc, __m512i codes, __m512i table_low,
                                      __m512i table_high, const __m512i* planes, __m512i ones)
{
    const __m512i levels = _mm512_permutex2var_epi8(table_low, codes, table_high);
    for (int p = 0; p < kDistancePlanes; ++p)
        acc.plane[p] =
            _mm512_dpbusd_epi32(acc.plane[p], _mm512_permutexvar_epi8(levels, planes[p]), ones);
}

MARROWIND_AVX512 void store_block(const DistanceAccumulators& acc, uint64_t* units,
                                  uint32_t* counts)
{
    alignas(64) uint32_t lanes[kDistancePlanes][kDistanceBlock];
    for (int p = 0; p < kDistancePlanes; ++p) _mm512_store_si512(lanes[p], acc.plane[p]);
    for (int s = 0; s < kDistanceBlock; ++s) {
        units[s] += uint64_t{lanes[0][s]} + (uint64_t{lanes[1][s]} << 8) +
                    (uint64_t{lanes[2][s]} << 16) + (uint64_t{lanes[3][s]} << 24);
        counts[s] += lanes[4][s];
    }
}

MARROWIND_AVX512 void zero(DistanceAccumulators& acc)
{
    for (__m512i& plane : acc.plane) plane = _mm512_setzero_si512();
}

}  // namespace

MARROWIND_AVX512 void distance_row(const uint8_t* row_levels, const uint8_t* layout, int quads,
                                   int first_block, int end_block, const uint8_t* planes,
                                   uint64_t* units, uint32_t* counts)
{
    __m512i plane_tables[kDistancePlanes];
    for (int p = 0; p < kDistancePlanes; ++p) plane_tables[p] = _mm512_loadu_si512(planes + 64 * p);
    const __m512i ones = _mm512_set1_epi8(1);
    const std::size_t block_bytes = static_cast<std::size_t>(quads) * 64;

    // Two blocks at a time share each load of the row's level table.
    int b = first_block;
    for (; b + 2 <= end_block; b += 2) {
        const uint8_t* first = layout + static_cast<std::size_t>(b) * block_bytes;
        const uint8_t* second = first + block_bytes;
        DistanceAccumulators acc_first, acc_second;
        zero(acc_first);
        zero(acc_second);
        for (int q = 0; q < quads; ++q) {
            const __m512i low = _mm512_loadu_si512(row_levels + 128 * q);
            const __m512i high = _mm512_loadu_si512(row_levels + 128 * q + 64);
            add_quad(acc_first, _mm512_loadu_si512(first + 64 * q), low, high, plane_tables, ones);
            add_quad(acc_second, _mm512_loadu_si512(second + 64 * q), low, high, plane_tables,
                     ones);
        }
        const int at = (b - first_block) * kDistanceBlock;
        store_block(acc_first, units + at, counts + at);
        store_block(acc_second, units + at + kDistanceBlock, counts + at + kDistanceBlock);
    }
    if (b < end_block) {
        const uint8_t* block = layout + static_cast<std::size_t>(b) * block_bytes;
        DistanceAccumulators acc;
        zero(acc);
        for (int q = 0; q < quads; ++q)
            add_quad(acc, _mm512_loadu_si512(block + 64 * q),
                     _mm512_loadu_si512(row_levels + 128 * q),
                     _mm512_loadu_si512(row_levels + 128 * q + 64), plane_tables, ones);
        const int at = (b - first_block) * kDistanceBlock;
        store_block(acc, units + at, counts + at);
    }
}

namespace {

// Classes of 64 residues from four 64-byte quarters of class_of (two 128-entry permutes, chosen
// by each byte's top bit), the gap class (0) past `present`, plus 32 times each one's place in
// its quad.
MARROWIND_AVX512 inline __m512i classes_of(const uint8_t* residues, __mmask64 present,
                                           const __m512i* quarters)
{
    const __m512i bytes = _mm512_maskz_loadu_epi8(present, residues);
    const __m512i low = _mm512_permutex2var_epi8(quarters[0], bytes, quarters[1]);
    const __m512i high = _mm512_permutex2var_epi8(quarters[2], bytes, quarters[3]);
    const __m512i codes = _mm512_maskz_mov_epi8(
        present, _mm512_mask_blend_epi8(_mm512_movepi8_mask(bytes), low, high));
    return _mm512_add_epi32(codes, _mm512_set1_epi32(0x60402000));
}

// Transposes 16 x 16 32-bit words: word q of rows[s] becomes word s of rows[q].
MARROWIND_AVX512 inline void transpose_words(__m512i* rows)
{
    __m512i pairs[16];
    for (int i = 0; i < 8; ++i) {
        pairs[2 * i] = _mm512_unpacklo_epi32(rows[2 * i], rows[2 * i + 1]);
        pairs[2 * i + 1] = _mm512_unpackhi_epi32(rows[2 * i], rows[2 * i + 1]);
    }
    // fours[4 i + j], 128-bit lane l: word 4 l + j of rows 4 i .. 4 i + 3.
    __m512i fours[16];
    for (int i = 0; i < 4; ++i) {
        fours[4 * i] = _mm512_unpacklo_epi64(pairs[4 * i], pairs[4 * i + 2]);
        fours[4 * i + 1] = _mm512_unpackhi_epi64(pairs[4 * i], pairs[4 * i + 2]);
        fours[4 * i + 2] = _mm512_unpacklo_epi64(pairs[4 * i + 1], pairs[4 * i + 3]);
        fours[4 * i + 3] = _mm512_unpackhi_epi64(pairs[4 * i + 1], pairs[4 * i + 3]);
    }
    for (int j = 0; j < 4; ++j) {
        const __m512i even_first = _mm512_shuffle_i32x4(fours[j], fours[4 + j], 0x88);
        const __m512i odd_first = _mm512_shuffle_i32x4(fours[j], fours[4 + j], 0xdd);
        const __m512i even_second = _mm512_shuffle_i32x4(fours[8 + j], fours[12 + j], 0x88);
        const __m512i odd_second = _mm512_shuffle_i32x4(fours[8 + j], fours[12 + j], 0xdd);
        rows[j] = _mm512_shuffle_i32x4(even_first, even_second, 0x88);
        rows[8 + j] = _mm512_shuffle_i32x4(even_first, even_second, 0xdd);
        rows[4 + j] = _mm512_shuffle_i32x4(odd_first, odd_second, 0x88);
        rows[12 + j] = _mm512_shuffle_i32x4(odd_first, odd_second, 0xdd);
    }
}

}  // namespace

// Sixty-four columns at a time: each sequence's 16 quads in one vector, then transposed so
// that each vector holds one quad of all 16 sequences, a row of the block.
MARROWIND_AVX512 void gather_block(const uint8_t* const* rows, int count, int length,
                                   const uint8_t* class_of, uint8_t* block)
{
    const __m512i quarters[4] = {
        _mm512_loadu_si512(class_of), _mm512_loadu_si512(class_of + 64),
        _mm512_loadu_si512(class_of + 128), _mm512_loadu_si512(class_of + 192)};
    for (int first = 0; first < length; first += 64) {
        const int columns = std::min(64, length - first);
        const __mmask64 present = columns == 64 ? ~__mmask64{0} : (__mmask64{1} << columns) - 1;
        __m512i quad_rows[kDistanceBlock];
        for (int s = 0; s < kDistanceBlock; ++s)
            quad_rows[s] = s < count ? classes_of(rows[s] + first, present, quarters)
                                     : _mm512_setzero_si512();
        transpose_words(quad_rows);
        uint8_t* const out = block + static_cast<std::size_t>(first / kQuad) * 64;
        if (columns == 64) {  // a whole chunk: sixteen stores straight from the registers
            for (int q = 0; q < 16; ++q) _mm512_storeu_si512(out + 64 * q, quad_rows[q]);
            continue;
        }
        for (int q = 0; q < (columns + kQuad - 1) / kQuad; ++q)
            _mm512_storeu_si512(out + 64 * q, quad_rows[q]);
    }
}

// Eight lanes at a time: every pair of sequences takes two divisions, which one by one were a
// large part of the time spent handing rows over.
MARROWIND_AVX512 void finish_distances(const uint64_t* units, const uint32_t* counts, int n,
                                       double unit, double divisor, double* out)
{
    const __m512d unit_v = _mm512_set1_pd(unit);
    const __m512d divisor_v = _mm512_set1_pd(divisor);
    const __m512d one = _mm512_set1_pd(1.0);
    for (int s = 0; s < n; s += 8) {
        const __mmask8 lanes = n - s >= 8 ? 0xff : static_cast<__mmask8>((1u << (n - s)) - 1);
        // Exact conversions: units below 2^53, counts below 2^24 (so the count's pass through
        // single precision in the scalar code changes nothing either).
        const __m512d sum = _mm512_mul_pd(
            _mm512_cvtepu64_pd(_mm512_maskz_loadu_epi64(lanes, units + s)), unit_v);
        const __m512i count = _mm512_maskz_loadu_epi32(lanes, counts + s);
        const __m512d count_v = _mm512_cvtepu32_pd(_mm512_castsi512_si256(count));
        const __mmask8 counted =
            _mm512_mask_cmpneq_epi32_mask(lanes, count, _mm512_setzero_si512());
        const __m512d distance =
            _mm512_maskz_sub_pd(counted, one, _mm512_maskz_div_pd(counted, sum, count_v));
        _mm512_mask_storeu_pd(out + s, lanes, _mm512_div_pd(distance, divisor_v));
    }
}

namespace {

// The classes of one sequence across a unit's 64 lanes, grouped four to a 128-byte table: byte
// 32p + c of table s is the level of the set's p-th class against class c. Lanes whose class
// scores zero against everything belong to no set and keep level 0.
struct ColumnSets {
    alignas(64) uint8_t tables[kMaxKernelClasses / 4][128];
    alignas(64) uint8_t offsets[64];
    __mmask64 lanes[kMaxKernelClasses / 4];
    __mmask64 scoring;  // the lanes of every set
    int count;
};

// Class by class, each class's lanes found with one compare of all 64.
MARROWIND_AVX512 void group_classes(__m512i row, const ColumnKernelTables& t, ColumnSets& sets)
{
    __m512i offsets = _mm512_setzero_si512();
    for (auto& lanes : sets.lanes) lanes = 0;
    int slots = 0;
    for (int a = 0; a < t.classes; ++a) {
        if (t.scores_zero[a]) continue;
        const __mmask64 lanes = _mm512_cmpeq_epi8_mask(row, _mm512_set1_epi8(static_cast<char>(a)));
        if (lanes == 0) continue;
        const int offset = 32 * (slots % 4);
        uint8_t* levels = &sets.tables[slots / 4][offset];
        std::memset(levels, 0, 32);
        std::memcpy(levels, t.level + static_cast<std::size_t>(a) * t.classes,
                    static_cast<std::size_t>(t.classes));
        offsets = _mm512_mask_mov_epi8(offsets, lanes, _mm512_set1_epi8(static_cast<char>(offset)));
        sets.lanes[slots / 4] |= lanes;
        ++slots;
    }
    _mm512_store_si512(sets.offsets, offsets);
    sets.count = (slots + 3) / 4;
    sets.scoring = 0;
    for (int s = 0; s < sets.count; ++s) sets.scoring |= sets.lanes[s];
}

// Bit g is set when any lane of vector g (see column_byte) belongs to a set.
template <int kVectors>
unsigned vectors_with_lanes(const ColumnSets& sets)
{
    uint64_t lanes = sets.scoring;
    lanes |= lanes >> 32;
    lanes |= lanes >> 16;
    lanes |= lanes >> 8;
    unsigned vectors = static_cast<unsigned>(lanes & 0xff);  // bit b: lanes at 8i + b
    for (int shift = 4; shift >= kVectors; shift /= 2) vectors |= vectors >> shift;
    return vectors & ((1u << kVectors) - 1);
}

// Set s's levels written over the indices in the lanes of that set. The sets' lanes are
// disjoint, so each set reads the indices of its own lanes untouched: one permute a set, with no
// separate merge, and the lanes of no set are cleared once at the end.
MARROWIND_AVX512 inline __m512i look_up_set(__m512i index, const ColumnSets& sets, int s)
{
    return _mm512_mask2_permutex2var_epi8(_mm512_load_si512(sets.tables[s]), index, sets.lanes[s],
                                          _mm512_load_si512(sets.tables[s] + 64));
}

// The levels of the row whose sets these are against the codes at `codes_k`, 0 in lanes of no
// set, for any number of sets. The switch takes one predictable jump where a loop would test
// the count at every set.
MARROWIND_AVX512 inline __m512i row_levels(const uint8_t* codes_k, __m512i offsets,
                                          const ColumnSets& sets)
{
    __m512i level = _mm512_add_epi8(_mm512_load_si512(codes_k), offsets);
    static_assert(kMaxKernelClasses / 4 == 8, "the switch below looks up to eight sets");
    switch (sets.count) {
    case 8: level = look_up_set(level, sets, 7); [[fallthrough]];
    case 7: level = look_up_set(level, sets, 6); [[fallthrough]];
    case 6: level = look_up_set(level, sets, 5); [[fallthrough]];
    case 5: level = look_up_set(level, sets, 4); [[fallthrough]];
    case 4: level = look_up_set(level, sets, 3); [[fallthrough]];
    case 3: level = look_up_set(level, sets, 2); [[fallthrough]];
    case 2: level = look_up_set(level, sets, 1); [[fallthrough]];
    default: level = look_up_set(level, sets, 0);
    }
    return _mm512_maskz_mov_epi8(sets.scoring, level);
}

// The levels of a row with kSets sets, as row_levels gives them, with the sets' tables and
// lanes held in registers for the whole pair loop. Compiled for each common count, so that the
// registers are allotted to exactly the sets there are and no unit takes the count's jump.
template <int kSets>
class HeldSets {
public:
    MARROWIND_AVX512 explicit HeldSets(const ColumnSets& sets)
    {
        for (int s = 0; s < kSets; ++s) {
            low_[s] = _mm512_load_si512(sets.tables[s]);
            high_[s] = _mm512_load_si512(sets.tables[s] + 64);
            lanes_[s] = sets.lanes[s];
        }
        scoring_ = sets.scoring;
    }

    MARROWIND_AVX512 __m512i levels(const uint8_t* codes_k, __m512i offsets) const
    {
        __m512i level = _mm512_add_epi8(_mm512_load_si512(codes_k), offsets);
        for (int s = 0; s < kSets; ++s)
            level = _mm512_mask2_permutex2var_epi8(low_[s], level, lanes_[s], high_[s]);
        return _mm512_maskz_mov_epi8(scoring_, level);
    }

private:
    __m512i low_[kSets], high_[kSets];
    __mmask64 lanes_[kSets];
    __mmask64 scoring_;
};

// Any number of sets, left in memory.
template <>
class HeldSets<0> {
public:
    explicit HeldSets(const ColumnSets& sets) : sets_(sets) {}

    MARROWIND_AVX512 __m512i levels(const uint8_t* codes_k, __m512i offsets) const
    {
        return row_levels(codes_k, offsets, sets_);
    }

private:
    const ColumnSets& sets_;
};

// Units whose levels are looked up together before their pairs are added: 2 KB, which stay in
// the first-level cache between the two passes.
constexpr int kUnitsPerPass = 32;

// The levels of a pass, 64 bytes a unit, and room for the reads at offsets up to 7 past the
// last unit.
struct PassLevels {
    alignas(64) uint8_t bytes[(kUnitsPerPass + 1) * 64];
};

// Adds the terms of pairs (j, k), k = j + 1 .. nseq - 1, to the sums of the block's kVectors
// vectors of columns. kSomeVectorsIdle: some vectors are left out (see vectors_scoring), which
// costs a test per vector and pair, so rows that use every vector run a copy of the loop
// without the tests. kSets: the row's number of sets, or 0 for any number.
//
// Each pass first looks up the levels of up to kUnitsPerPass units of rows k (several rows at
// once where a unit holds several) and stores them; then it adds the pairs' terms row by row.
// Vector g's levels for the row in slot p of a unit then lie at bytes 8i + (kVectors p + g):
// one load at that offset puts each in the low byte of 64-bit lane i, which is all that the
// double permute reads, so that no shift or shuffle is spent on the index.
//
// kDen: each pair's weight is also added to den, a chain of additions that hides in the
// time the vectors take.
//
// A pair whose levels are all 0 (row k has gaps wherever row j has residues) adds +0.0 in
// every lane, which changes no sum; testing for it costs more than the rare pair saves.
template <int kVectors, bool kWide, bool kDen, bool kSomeVectorsIdle, int kSets>
MARROWIND_AVX512 void add_row_pairs(__m512d (&acc)[kVectors], double& den, const uint8_t* codes,
                                    int j, int nseq, const double* weights,
                                    const ColumnSets& sets, unsigned vectors_scoring,
                                    const __m512d* values, PassLevels& pass)
{
    constexpr int kRows = kColumnUnitBytes / (8 * kVectors);
    constexpr int kRowShift = kRows == 8 ? 3 : kRows == 4 ? 2 : kRows == 2 ? 1 : 0;
    const __m512i offsets = _mm512_load_si512(sets.offsets);
    const __m512i bit4 = _mm512_set1_epi64(16);
    const HeldSets<kSets> held(sets);
    // w_j in every lane, read from memory: the compiler then broadcasts each w_k straight from
    // memory too, where with two broadcast constants it would multiply in scalar and broadcast
    // the product with a shuffle, and shuffles are what this loop runs short of.
    alignas(64) double weight_j_lanes[8];
    std::fill_n(weight_j_lanes, 8, weights[j]);
    const __m512d weight_j = _mm512_load_pd(weight_j_lanes);
    // Local copies, written back once: sums updated under a condition would otherwise be
    // tracked through memory.
    __m512d sums[kVectors];
    for (int g = 0; g < kVectors; ++g) sums[g] = acc[g];
    double den_sum = den;
    const int units = (nseq + kRows - 1) >> kRowShift;
    for (int first_unit = (j + 1) >> kRowShift; first_unit < units; first_unit += kUnitsPerPass) {
        const int end_unit = std::min(units, first_unit + kUnitsPerPass);
        for (int u = first_unit; u < end_unit; ++u)
            _mm512_store_si512(pass.bytes + 64 * (u - first_unit),
                               held.levels(codes + static_cast<std::size_t>(u) * 64, offsets));
        const int end_k = std::min(nseq, end_unit << kRowShift);
        for (int k = std::max(j + 1, first_unit << kRowShift); k < end_k; ++k) {
            const uint8_t* levels = pass.bytes + 64 * ((k >> kRowShift) - first_unit) +
                                    kVectors * (k & (kRows - 1));
            // The products are formed exactly as the plain loop forms each term:
            // (w_j * w_k) first, then times the pair's value.
            const __m512d weight = _mm512_mul_pd(weight_j, _mm512_set1_pd(weights[k]));
            if (kDen) den_sum = den_sum + _mm512_cvtsd_f64(weight);
            const __m512d low = _mm512_mul_pd(weight, values[0]);
            const __m512d high = _mm512_mul_pd(weight, values[1]);
            __m512d low2 = low, high2 = high;
            if (kWide) {
                low2 = _mm512_mul_pd(weight, values[2]);
                high2 = _mm512_mul_pd(weight, values[3]);
            }
            for (int g = 0; g < kVectors; ++g) {
                if (kSomeVectorsIdle && (vectors_scoring >> g & 1u) == 0) continue;
                const __m512i index = _mm512_loadu_si512(levels + g);
                __m512d term = _mm512_permutex2var_pd(low, index, high);
                if (kWide)
                    term = _mm512_mask_mov_pd(term, _mm512_test_epi64_mask(index, bit4),
                                              _mm512_permutex2var_pd(low2, index, high2));
                sums[g] = _mm512_add_pd(sums[g], term);
            }
        }
    }
    for (int g = 0; g < kVectors; ++g) acc[g] = sums[g];
    den = den_sum;
}

// add_row_pairs for the row's number of sets: compiled for one to kSets (six covers rows of up
// to 24 letters in a unit), and for any number past those.
template <int kVectors, bool kWide, bool kDen, bool kSomeVectorsIdle, int kSets = 6>
MARROWIND_AVX512 inline void add_row_pairs_for_sets(__m512d (&acc)[kVectors], double& den,
                                                    const uint8_t* codes, int j, int nseq,
                                                    const double* weights,
                                                    const ColumnSets& sets,
                                                    unsigned vectors_scoring,
                                                    const __m512d* values, PassLevels& pass)
{
    if constexpr (kSets == 0) {
        add_row_pairs<kVectors, kWide, kDen, kSomeVectorsIdle, 0>(
            acc, den, codes, j, nseq, weights, sets, vectors_scoring, values, pass);
    } else if (sets.count == kSets) {
        add_row_pairs<kVectors, kWide, kDen, kSomeVectorsIdle, kSets>(
            acc, den, codes, j, nseq, weights, sets, vectors_scoring, values, pass);
    } else {
        add_row_pairs_for_sets<kVectors, kWide, kDen, kSomeVectorsIdle, kSets - 1>(
            acc, den, codes, j, nseq, weights, sets, vectors_scoring, values, pass);
    }
}

// Row j's codes copied from its slot into every slot of a unit, so that its sets cover the
// lanes of every row k that a unit holds.
template <int kVectors>
MARROWIND_AVX512 inline __m512i row_in_every_slot(const uint8_t* codes, int j)
{
    constexpr int kRows = kColumnUnitBytes / (8 * kVectors);
    const __m512i unit = _mm512_load_si512(codes + static_cast<std::size_t>(j / kRows) * 64);
    if (kRows == 1) return unit;
    const __m512i lane = _mm512_set_epi8(
        63, 62, 61, 60, 59, 58, 57, 56, 55, 54, 53, 52, 51, 50, 49, 48, 47, 46, 45, 44, 43, 42, 41,
        40, 39, 38, 37, 36, 35, 34, 33, 32, 31, 30, 29, 28, 27, 26, 25, 24, 23, 22, 21, 20, 19, 18,
        17, 16, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0);
    // Byte 8i + kVectors q + g takes byte 8i + kVectors p + g, p being row j's slot.
    const __m512i source = _mm512_or_si512(
        _mm512_and_si512(lane, _mm512_set1_epi8(static_cast<char>(56 | (kVectors - 1)))),
        _mm512_set1_epi8(static_cast<char>(kVectors * (j % kRows))));
    return _mm512_permutexvar_epi8(source, unit);
}

// A block of kVectors vectors of 8 columns. kWide: more than 16 levels, so that the products
// fill four vectors instead of two. kDen: the denominator is summed too.
template <int kVectors, bool kWide, bool kDen>
MARROWIND_AVX512 void column_block_vectors(const uint8_t* codes, int nseq, const double* weights,
                                           const ColumnKernelTables& tables, double* num,
                                           double* den)
{
    __m512d acc[kVectors];
    for (__m512d& a : acc) a = _mm512_setzero_pd();
    double den_sum = 0.0;
    __m512d values[4];
    for (int v = 0; v < 4; ++v) values[v] = _mm512_loadu_pd(tables.level_value + 8 * v);

    ColumnSets sets;
    PassLevels pass;
    std::memset(pass.bytes, 0, sizeof pass.bytes);
    for (int j = 0; j + 1 < nseq; ++j) {
        group_classes(row_in_every_slot<kVectors>(codes, j), tables, sets);
        if (sets.count == 0) {  // every pair of this sequence scores 0 here
            if (kDen)
                for (int k = j + 1; k < nseq; ++k) den_sum = den_sum + weights[j] * weights[k];
            continue;
        }
        // A vector of eight columns where this sequence scores 0 against everything (a run of
        // gaps, say) adds +0.0 with every pair, so its sums are left alone for every k.
        const unsigned vectors_scoring = vectors_with_lanes<kVectors>(sets);
        if (vectors_scoring == (1u << kVectors) - 1)
            add_row_pairs_for_sets<kVectors, kWide, kDen, false>(
                acc, den_sum, codes, j, nseq, weights, sets, vectors_scoring, values, pass);
        else
            add_row_pairs_for_sets<kVectors, kWide, kDen, true>(
                acc, den_sum, codes, j, nseq, weights, sets, vectors_scoring, values, pass);
    }
    for (int g = 0; g < kVectors; ++g) _mm512_storeu_pd(num + 8 * g, acc[g]);
    if (kDen) *den = den_sum;
}

using ColumnBlockKernel = void (*)(const uint8_t*, int, const double*, const ColumnKernelTables&,
                                   double*, double*);

// The kernels for blocks of 1, 2, 4 and 8 vectors.
template <bool kWide, bool kDen>
constexpr std::array<ColumnBlockKernel, 4> kBlockKernels = {
    &column_block_vectors<1, kWide, kDen>, &column_block_vectors<2, kWide, kDen>,
    &column_block_vectors<4, kWide, kDen>, &column_block_vectors<8, kWide, kDen>};

}  // namespace

void column_block(const uint8_t* codes, int nseq, int vectors, const double* weights,
                  const ColumnKernelTables& tables, double* num, double* den)
{
    const int width = vectors == 1 ? 0 : vectors == 2 ? 1 : vectors == 4 ? 2 : 3;
    const bool wide = tables.levels > 16;
    const auto& kernels = den ? (wide ? kBlockKernels<true, true> : kBlockKernels<false, true>)
                              : (wide ? kBlockKernels<true, false> : kBlockKernels<false, false>);
    kernels[width](codes, nseq, weights, tables, num, den);
}

}  // namespace avx512
}  // namespace marrowind
