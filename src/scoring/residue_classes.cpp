// residue_classes.cpp: sorting residue bytes into classes and numbering the pair values.
//
// Contents: make_residue_classes, ResidueClasses::sums_are_exact, encode_residues.
#include "scoring/residue_classes.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <utility>

namespace marrowind {

namespace {

// The unit in the last place of v read as a single-precision float (v is one, widened).
double float_ulp(double v)
{
    int exponent = 0;
    std::frexp(v, &exponent);  // v = mantissa * 2^exponent, mantissa in [0.5, 1)
    const int ulp_exponent = exponent - 24;
    return std::ldexp(1.0, ulp_exponent < -149 ? -149 : ulp_exponent);
}

uint64_t bits_of(double v)
{
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return bits;
}

// Numbers the distinct keys in order of first appearance; returns false past 255 of them.
template <typename Key>
class LevelNumbering {
public:
    bool number(const Key& key, uint8_t& level)
    {
        auto found = levels_.find(key);
        if (found == levels_.end()) {
            if (levels_.size() == 256) return false;
            found = levels_.emplace(key, static_cast<uint8_t>(levels_.size())).first;
            order_.push_back(key);
        }
        level = found->second;
        return true;
    }
    const std::vector<Key>& in_order() const { return order_; }

private:
    std::map<Key, uint8_t> levels_;
    std::vector<Key> order_;
};

}  // namespace

bool ResidueClasses::sums_are_exact(int64_t columns) const
{
    constexpr uint64_t kExactLimit = uint64_t{1} << 53;
    if (columns <= 0 || max_units == 0) return true;
    return max_units < kExactLimit / static_cast<uint64_t>(columns);
}

ResidueClasses make_residue_classes(const Matrix& matrix)
{
    ResidueClasses classes;
    classes.class_of.fill(ResidueClasses::kUnknownClass);
    classes.class_of[static_cast<unsigned char>('-')] = ResidueClasses::kGapClass;
    classes.class_of[static_cast<unsigned char>('X')] = ResidueClasses::kGapClass;

    // One byte standing for each class, to ask Mut for the class pair's value.
    std::vector<int> representative = {'-', -1};
    std::array<bool, 256> is_letter{};
    for (int r = 0; r < matrix.nres; ++r) {
        const unsigned char letter = static_cast<unsigned char>(matrix.letters[r]);
        if (is_letter[letter] || is_gap(static_cast<char>(letter))) continue;
        is_letter[letter] = true;
        classes.class_of[letter] = static_cast<uint8_t>(representative.size());
        representative.push_back(letter);
    }
    for (int b = 0; b < 256 && representative[1] < 0; ++b)
        if (classes.class_of[b] == ResidueClasses::kUnknownClass) representative[1] = b;

    const int count = static_cast<int>(representative.size());
    classes.count = count;
    classes.value.assign(static_cast<std::size_t>(count) * count, 0.0);
    for (int a = 0; a < count; ++a)
        for (int b = 0; b < count; ++b)
            if (representative[a] >= 0 && representative[b] >= 0)
                classes.value[static_cast<std::size_t>(a) * count + b] =
                    Mut(&matrix, static_cast<char>(representative[a]),
                        static_cast<char>(representative[b]));

    // Levels, numbered from the gap-gap pair, so that level 0 is the value 0 (and, for the
    // distances, a column that does not count).
    LevelNumbering<std::pair<uint64_t, bool>> distance_levels;
    LevelNumbering<uint64_t> column_levels;
    bool levels_fit = true;
    classes.distance_level.resize(classes.value.size());
    classes.column_level.resize(classes.value.size());
    for (int a = 0; a < count && levels_fit; ++a) {
        for (int b = 0; b < count && levels_fit; ++b) {
            const std::size_t cell = static_cast<std::size_t>(a) * count + b;
            const double v = classes.value[cell];
            const bool counts = !(a == ResidueClasses::kGapClass && b == ResidueClasses::kGapClass);
            levels_fit = distance_levels.number({bits_of(v), counts}, classes.distance_level[cell]) &&
                         column_levels.number(bits_of(v), classes.column_level[cell]);
        }
    }
    if (!levels_fit) {
        classes.distance_level.clear();
        classes.column_level.clear();
    } else {
        for (const auto& [bits, counts] : distance_levels.in_order()) {
            double v;
            std::memcpy(&v, &bits, sizeof v);
            classes.distance_level_value.push_back(v);
            classes.distance_level_counts.push_back(counts ? 1 : 0);
        }
        for (uint64_t bits : column_levels.in_order()) {
            double v;
            std::memcpy(&v, &bits, sizeof v);
            classes.column_level_value.push_back(v);
        }
    }

    classes.scores_zero.resize(static_cast<std::size_t>(count));
    for (int a = 0; a < count; ++a)
        classes.scores_zero[a] = std::all_of(classes.value.begin() + a * count,
                                             classes.value.begin() + (a + 1) * count,
                                             [](double v) { return v == 0.0; });

    double unit = 0.0;
    for (double v : classes.value)
        if (v > 0.0 && (unit == 0.0 || float_ulp(v) < unit)) unit = float_ulp(v);
    classes.unit = unit > 0.0 ? unit : 1.0;
    for (double v : classes.value) {
        const uint64_t units = static_cast<uint64_t>(v / classes.unit);
        if (units > classes.max_units) classes.max_units = units;
    }
    for (double v : classes.distance_level_value)
        classes.distance_level_units.push_back(static_cast<uint64_t>(v / classes.unit));
    return classes;
}

void encode_residues(const ResidueClasses& classes, const char* residues, std::size_t length,
                     uint8_t* codes)
{
    for (std::size_t k = 0; k < length; ++k)
        codes[k] = classes.class_of[static_cast<unsigned char>(residues[k])];
}

}  // namespace marrowind
