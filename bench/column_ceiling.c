/* column_ceiling.c: what bounds the AVX-512 column kernel on this processor, in cycles.
 *
 * Contents: clock_ghz, pair_loop_cycles, chain_ns, main.
 *
 * Three loops timed in the thread's CPU time, so that other work on the machine changes them
 * little: a chain of dependent integer additions (one a cycle, the clock the kernels run at),
 * exactly the instructions the column kernel spends on one pair of sequences across 64 columns
 * with no level look-up (8 loads of indices, 8 double permutes, 8 additions into 8 sums, 3
 * multiplications), and the denominator's chain of dependent double additions.
 *
 * Build and run on an x86-64 processor with AVX-512:
 *   cc -O2 -mavx512f -ffp-contract=off bench/column_ceiling.c -o column_ceiling && ./column_ceiling
 */
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

static double cpu_seconds(void)
{
    struct timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return (double)t.tv_sec + 1e-9 * (double)t.tv_nsec;
}

/* Billions of dependent integer additions per second: the core's clock. */
static double clock_ghz(void)
{
    const long additions = 2000000000L;
    long x = 0;
    const double start = cpu_seconds();
    __asm__ volatile("mov %1, %%rcx\n"
                     "1:\n"
                     "add $1, %0\n add $1, %0\n add $1, %0\n add $1, %0\n"
                     "sub $4, %%rcx\n jnz 1b\n"
                     : "+r"(x) : "r"(additions) : "rcx");
    return additions / (cpu_seconds() - start) / 1e9;
}

/* Cycles for one pair's terms across 64 columns, at `ghz`: the loads at offsets 1 to 8 of a
 * 64-byte line, as the kernel reads the levels of each vector of columns. */
static double pair_loop_cycles(double ghz)
{
    const long pairs = 200000000L;
    unsigned char* levels = aligned_alloc(64, 128);
    for (int i = 0; i < 128; ++i) levels[i] = (unsigned char)(i & 15);
    const double one = 1.0;  /* every table and weight: no subnormal operands to slow it */
    const double start = cpu_seconds();
    __asm__ volatile(
        "mov %0, %%rcx\n"
        "vbroadcastsd %2, %%zmm28\n vmovapd %%zmm28, %%zmm29\n vmovapd %%zmm28, %%zmm30\n"
        "vmovapd %%zmm28, %%zmm31\n vmovapd %%zmm28, %%zmm18\n vmovapd %%zmm28, %%zmm19\n"
        "vxorpd %%zmm0, %%zmm0, %%zmm0\n vmovapd %%zmm0, %%zmm1\n vmovapd %%zmm0, %%zmm2\n"
        "vmovapd %%zmm0, %%zmm3\n vmovapd %%zmm0, %%zmm4\n vmovapd %%zmm0, %%zmm5\n"
        "vmovapd %%zmm0, %%zmm6\n vmovapd %%zmm0, %%zmm7\n"
        "1:\n"
        "vmovupd 1(%1), %%zmm20\n vpermi2pd %%zmm18, %%zmm19, %%zmm20\n vaddpd %%zmm20, %%zmm0, %%zmm0\n"
        "vmovupd 2(%1), %%zmm21\n vpermi2pd %%zmm18, %%zmm19, %%zmm21\n vaddpd %%zmm21, %%zmm1, %%zmm1\n"
        "vmovupd 3(%1), %%zmm22\n vpermi2pd %%zmm18, %%zmm19, %%zmm22\n vaddpd %%zmm22, %%zmm2, %%zmm2\n"
        "vmovupd 4(%1), %%zmm23\n vpermi2pd %%zmm18, %%zmm19, %%zmm23\n vaddpd %%zmm23, %%zmm3, %%zmm3\n"
        "vmovupd 5(%1), %%zmm24\n vpermi2pd %%zmm18, %%zmm19, %%zmm24\n vaddpd %%zmm24, %%zmm4, %%zmm4\n"
        "vmovupd 6(%1), %%zmm25\n vpermi2pd %%zmm18, %%zmm19, %%zmm25\n vaddpd %%zmm25, %%zmm5, %%zmm5\n"
        "vmovupd 7(%1), %%zmm26\n vpermi2pd %%zmm18, %%zmm19, %%zmm26\n vaddpd %%zmm26, %%zmm6, %%zmm6\n"
        "vmovupd 8(%1), %%zmm27\n vpermi2pd %%zmm18, %%zmm19, %%zmm27\n vaddpd %%zmm27, %%zmm7, %%zmm7\n"
        "vmulpd %%zmm28, %%zmm29, %%zmm18\n vmulpd %%zmm28, %%zmm30, %%zmm19\n"
        "vmulpd %%zmm28, %%zmm31, %%zmm17\n"
        "dec %%rcx\n jnz 1b\n"
        :
        : "r"(pairs), "r"(levels), "m"(one)
        : "rcx", "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7", "xmm17",
          "xmm18", "xmm19", "xmm20", "xmm21", "xmm22", "xmm23", "xmm24", "xmm25", "xmm26",
          "xmm27", "xmm28", "xmm29", "xmm30", "xmm31");
    const double seconds = cpu_seconds() - start;
    free(levels);
    return seconds * ghz * 1e9 / pairs;
}

/* Nanoseconds per addition of the denominator's loop, each waiting for the one before. */
static double chain_ns(void)
{
    enum { kWeights = 30000 };
    static double w[kWeights];
    for (int i = 0; i < kWeights; ++i) w[i] = 0.5 + (double)(i % 1000) / 1000.0;
    const double start = cpu_seconds();
    volatile double sink;
    double den = 0.0;
    for (int j = 0; j < kWeights; ++j)
        for (int k = j + 1; k < kWeights; ++k) den = den + w[j] * w[k];
    sink = den;
    (void)sink;
    return (cpu_seconds() - start) / (0.5 * kWeights * (kWeights - 1.0)) * 1e9;
}

int main(void)
{
    const double ghz = clock_ghz();
    const double cycles = pair_loop_cycles(ghz);
    printf("clock: %.2f GHz\n", ghz);
    printf("pair loop without look-up: %.1f cycles a pair of 64 columns, %.1f G pair-columns/s\n",
           cycles, 64.0 * ghz / cycles);
    printf("dependent addition: %.2f ns\n", chain_ns());
    return 0;
}
