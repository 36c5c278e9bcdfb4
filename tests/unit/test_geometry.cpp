// test_geometry.cpp: vector routines, statistics, rounding and the structure records.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "marrowind/errors.h"
#include "marrowind/util.h"

namespace {

void ExpectVector(const Vec3f& v, float x, float y, float z)
{
    EXPECT_EQ(v.x, x);
    EXPECT_EQ(v.y, y);
    EXPECT_EQ(v.z, z);
}

}  // namespace

TEST(Geometry, VectorsAndFrames)
{
    const Vec3f origin{0, 0, 0};
    const Vec3f p{3, 4, 12};
    const Vec3f q{13, 4, 12};
    EXPECT_EQ(vdist(&origin, &p), 13.0f);
    EXPECT_EQ(vmag(&p), 13.0f);
    EXPECT_EQ(vscore(&p, &p), 50.0f);
    EXPECT_EQ(vscore(&p, &q), 25.0f);

    Vec3f out{};
    sub_vects(&out, q, p);
    ExpectVector(out, 10, 0, 0);

    const Mat3f identity{{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};
    put_in_frame(&identity, &out, p);
    ExpectVector(out, 3, 4, 12);
    // Rows act on the vector: a rotation by a quarter turn about z, and a shear.
    const Mat3f turn_and_shear{{{0, -1, 0}, {1, 0, 0}, {1, 1, 1}}};
    put_in_frame(&turn_and_shear, &out, p);
    ExpectVector(out, -4, 3, 19);

    Mat3f copy{};
    mcopy(&turn_and_shear, &copy);
    EXPECT_EQ(std::memcmp(&copy, &turn_and_shear, sizeof copy), 0);
    vcopy(&p, &out);
    ExpectVector(out, 3, 4, 12);
}

TEST(Statistics, MeansAndSampleVariances)
{
    struct Case {
        std::vector<float> values;
        float mean;
        float variance;
        float covariance;  // variance over mean
    };
    const Case cases[] = {
        {{0, 0, 0, 1}, 0.25f, 0.25f, 1.0f},
        {{0, 0, 0, 2}, 0.5f, 1.0f, 2.0f},
        {{1, 2, 3, 4}, 2.5f, static_cast<float>(5 / 3.0), static_cast<float>(5 / 3.0) / 2.5f},
        {{5}, 5.0f, 0.0f, 0.0f},
        // The sum runs in single precision: 1 is lost against 1e8 and never comes back.
        {{1e8f, 1.0f, -1e8f}, 0.0f, static_cast<float>(2e16 / 2), INFINITY},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.values.size());
        const int n = static_cast<int>(c.values.size());
        EXPECT_EQ(mean(c.values.data(), n), c.mean);
        EXPECT_EQ(variance(c.values.data(), n), c.variance);
        EXPECT_EQ(covariance(c.values.data(), n), c.covariance);
    }
    EXPECT_TRUE(std::isnan(mean(nullptr, 0)));
    EXPECT_EQ(variance(nullptr, 0), 0.0f);
    EXPECT_EQ(covariance(nullptr, 0), 0.0f);

    struct IntCase {
        std::vector<int> values;
        int mean;
        int variance;
    };
    const IntCase int_cases[] = {
        {{1, 2, 3, 4}, 2, 2},  // about the truncated mean 2: 6 / 3
        {{1, 2}, 1, 1},
        {{-3, 0}, -1, 5},  // the mean -1.5 truncates toward zero: (4 + 1) / 1 about -1
        {{7}, 7, 0},
        {{}, 0, 0},
    };
    for (const IntCase& c : int_cases) {
        SCOPED_TRACE(c.values.size());
        const int n = static_cast<int>(c.values.size());
        EXPECT_EQ(mean_int(c.values.data(), n), c.mean);
        EXPECT_EQ(variance_int(c.values.data(), n), c.variance);
    }
}

TEST(Statistics, CentreOfMassAndRounding)
{
    const Vec3f points[] = {{0, 0, 0}, {2, 4, 6}, {1, -1, 3}};
    Vec3f* centre = CentreOfMass(points, 3);
    ExpectVector(*centre, 1, 1, 3);
    std::free(centre);
    centre = CentreOfMass(points, 0);
    EXPECT_TRUE(std::isnan(centre->x) && std::isnan(centre->y) && std::isnan(centre->z));
    std::free(centre);

    const std::pair<float, int> roundings[] = {{2.5f, 3},  {-2.5f, -3}, {2.49f, 2}, {-0.4f, 0},
                                               {0.0f, 0},  {-0.5f, -1}, {7.0f, 7},  {-7.51f, -8}};
    for (const auto& [x, rounded] : roundings) EXPECT_EQ(round_up(x), rounded) << x;
}

TEST(StructureRecords, ClearingSetsEveryListedFieldAndFreeProtReleasesTheBlock)
{
    PROT* prot = static_cast<PROT*>(std::malloc(sizeof(PROT)));
    std::memset(prot, 0x5A, sizeof(PROT));
    clear_PROT(prot);
    EXPECT_EQ(prot->id, 0);
    for (int count : prot->counts) EXPECT_EQ(count, 0);
    EXPECT_STREQ(prot->name, " ");
    EXPECT_EQ(prot->chain, '\0');
    EXPECT_EQ(prot->weight, 0.0);
    EXPECT_EQ(prot->owned, nullptr);
    EXPECT_EQ(prot->score, 0.0);
    prot->owned = std::malloc(64);
    FreeProt(prot);  // a leak or a double free shows under the sanitizers
    FreeProt(nullptr);

    RES res;
    std::memset(&res, 0x5A, sizeof res);
    res.position = Vec3f{1, 2, 3};
    clear_RES(&res);
    EXPECT_EQ(res.id, 0);
    for (int count : res.counts) EXPECT_EQ(count, 0);
    EXPECT_EQ(std::string(res.flags, 3) + std::string(res.states, 5), "00000000");
    EXPECT_STREQ(res.code, "00000");
    ExpectVector(res.position, 1, 2, 3);
    for (double value : res.values) EXPECT_EQ(value, 0.0);
    EXPECT_EQ(res.number, 0);
}
