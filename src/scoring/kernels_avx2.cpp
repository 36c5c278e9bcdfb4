// kernels_avx2.cpp: AVX2 inner loops of the pair distances and the column scores.
//
// Contents: avx2::cpu_supports, avx2::distance_row.
#include "scoring/kernels_avx2.h"

#include <immintrin.h>

#include <algorithm>

#define MARROWIND_AVX2 __attribute__((target("avx2")))

namespace marrowind {
namespace avx2 {

bool cpu_supports()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}

MARROWIND_AVX2 void distance_row(const uint8_t* row, const uint8_t* layout, int length,
                                 int first_block, int end_block, const uint32_t* unit_table,
                                 int classes, int flush_every, uint64_t* units,
                                 uint32_t* both_gaps)
{
    const __m256i zero = _mm256_setzero_si256();
    for (int b = first_block; b < end_block; ++b) {
        const uint8_t* block = layout + static_cast<std::size_t>(b) * length * kAvx2DistanceBlock;
        __m256i low = zero, high = zero, gaps = zero;
        for (int start = 0; start < length; start += flush_every) {
            const int end = std::min(length, start + flush_every);
            __m256i sum = zero;
            for (int k = start; k < end; ++k) {
                const __m256i y = _mm256_cvtepu8_epi32(_mm_loadl_epi64(
                    reinterpret_cast<const __m128i*>(block + kAvx2DistanceBlock * k)));
                const __m256i x = _mm256_set1_epi32(row[k]);
                const __m256i index = _mm256_add_epi32(y, _mm256_set1_epi32(row[k] * classes));
                sum = _mm256_add_epi32(
                    sum, _mm256_i32gather_epi32(reinterpret_cast<const int*>(unit_table), index, 4));
                // Both codes 0 (gaps) gives -1 from the comparison; subtracting it counts the column.
                gaps = _mm256_sub_epi32(gaps,
                                        _mm256_cmpeq_epi32(_mm256_or_si256(x, y), zero));
            }
            low = _mm256_add_epi64(low, _mm256_cvtepu32_epi64(_mm256_castsi256_si128(sum)));
            high = _mm256_add_epi64(high, _mm256_cvtepu32_epi64(_mm256_extracti128_si256(sum, 1)));
        }
        const std::size_t at = static_cast<std::size_t>(b - first_block) * kAvx2DistanceBlock;
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(units + at), low);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(units + at + 4), high);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(both_gaps + at), gaps);
    }
}

}  // namespace avx2
}  // namespace marrowind
