// geometry.cpp: single-precision vector and matrix routines, statistics of small arrays, and
// the clearing of two structure records.
//
// Contents:
//   put_in_frame, sub_vects, vcopy, mcopy, vdist, vscore, vmag   vectors and 3 x 3 matrices
//   mean, mean_int, variance, covariance, variance_int            statistics of arrays
//   CentreOfMass, round_up                                        the centre of points, rounding
//                                                                 (CentreOfMass with its twin)
//   clear_PROT, clear_RES, FreeProt                               structure records
//
// Results are reproduced bit for bit, so every sum runs in the order written and the
// precision of each step (single or double) is chosen explicitly.
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "marrowind/errors.h"
#include "marrowind/util.h"
#include "util/exit_on_error.h"

void put_in_frame(const Mat3f* m, Vec3f* out, Vec3f v)
{
    const auto row = [&](int r) {
        return (m->e[r][0] * v.x + m->e[r][1] * v.y) + m->e[r][2] * v.z;
    };
    out->x = row(0);
    out->y = row(1);
    out->z = row(2);
}

void sub_vects(Vec3f* out, Vec3f a, Vec3f b)
{
    out->x = a.x - b.x;
    out->y = a.y - b.y;
    out->z = a.z - b.z;
}

void vcopy(const Vec3f* from, Vec3f* to) { *to = *from; }

void mcopy(const Mat3f* from, Mat3f* to) { *to = *from; }

float vdist(const Vec3f* a, const Vec3f* b)
{
    const float dx = a->x - b->x;
    const float dy = a->y - b->y;
    const float dz = a->z - b->z;
    float squares = 0.0f;
    squares = squares + dx * dx;
    squares = squares + dy * dy;
    squares = squares + dz * dz;
    return static_cast<float>(std::sqrt(static_cast<double>(squares)));
}

float vscore(const Vec3f* a, const Vec3f* b)
{
    const double distance = vdist(a, b);
    return static_cast<float>(500.0 / (10.0 + distance));
}

float vmag(const Vec3f* v)
{
    double squares = 0.0;
    squares += v->x * v->x;
    squares += v->y * v->y;
    squares += v->z * v->z;
    return static_cast<float>(std::sqrt(squares));
}

float mean(const float* values, int n)
{
    float sum = 0.0f;
    for (int i = 0; i < n; ++i) sum += values[i];
    return static_cast<float>(sum / (1.0 * n));
}

int mean_int(const int* values, int n)
{
    if (n == 0) return 0;
    // A wide sum cannot overflow; wherever an int sum would not overflow the result is the same.
    long long sum = 0;
    for (int i = 0; i < n; ++i) sum += values[i];
    return static_cast<int>(static_cast<float>(sum) / static_cast<float>(n));
}

// The sample variance divides by n - 1 (one degree of freedom goes to the mean); a single
// value, or none, has no spread to measure.
float variance(const float* values, int n)
{
    if (n <= 1) return 0.0f;
    const float centre = mean(values, n);
    float squares = 0.0f;
    for (int i = 0; i < n; ++i) {
        const float deviation = values[i] - centre;
        squares = deviation * deviation + squares;
    }
    return static_cast<float>(squares / (n - 1.0));
}

float covariance(const float* values, int n)
{
    if (n <= 1) return 0.0f;
    return variance(values, n) / mean(values, n);
}

int variance_int(const int* values, int n)
{
    if (n <= 1) return 0;
    const int centre = mean_int(values, n);
    long long squares = 0;
    for (int i = 0; i < n; ++i) {
        const long long deviation = static_cast<long long>(values[i]) - centre;
        squares += deviation * deviation;
    }
    return static_cast<int>(static_cast<double>(squares) / (n - 1.0));
}

Vec3f* marrowind::util::CentreOfMass(const Vec3f* points, int n)
{
    Vec3f* centre = static_cast<Vec3f*>(std::malloc(sizeof(Vec3f)));
    if (centre == nullptr) throw marrowind::OutOfMemory(1);
    Vec3f sum{0.0f, 0.0f, 0.0f};
    for (int i = 0; i < n; ++i) {
        sum.x += points[i].x;
        sum.y += points[i].y;
        sum.z += points[i].z;
    }
    const float count = static_cast<float>(n);
    *centre = Vec3f{sum.x / count, sum.y / count, sum.z / count};
    return centre;
}

Vec3f* CentreOfMass(const Vec3f* points, int n)
{
    return marrowind::detail::OrExit([=] { return marrowind::util::CentreOfMass(points, n); });
}

int round_up(float x)
{
    // Rounding the magnitude and restoring the sign sends halves away from zero.
    int sign = 1;
    if (x < 0) {
        x = -x;
        sign = -1;
    }
    return sign * static_cast<int>(x + 0.5);
}

void clear_PROT(PROT* prot)
{
    prot->id = 0;
    std::memset(prot->counts, 0, sizeof prot->counts);
    std::memset(prot->name, 0, sizeof prot->name);
    prot->name[0] = ' ';
    prot->chain = '\0';
    prot->weight = 0.0;
    prot->owned = nullptr;
    prot->score = 0.0;
}

void clear_RES(RES* res)
{
    res->id = 0;
    std::memset(res->counts, 0, sizeof res->counts);
    std::memset(res->flags, '0', sizeof res->flags);
    std::memset(res->states, '0', sizeof res->states);
    std::memset(res->code, '0', sizeof res->code - 1);
    res->code[sizeof res->code - 1] = '\0';
    for (double& value : res->values) value = 0.0;
    res->number = 0;
}

void FreeProt(PROT* prot)
{
    if (prot == nullptr) return;
    std::free(prot->owned);
    std::free(prot);
}
