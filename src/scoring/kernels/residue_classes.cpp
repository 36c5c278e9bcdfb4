// residue_classes.cpp: sorting residue bytes into classes and numbering the pair values.
//
// Contents: make_residue_classes, ResidueClasses::sums_are_exact, encode_residues.
//
// Every allocation is made through scoring/parallel/buffers.h, so that a failure is an OutOfMemory.
#include "scoring/kernels/residue_classes.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "core/residues.h"
#include "scoring/parallel/buffers.h"

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

// Numbers the distinct keys in order of first appearance; returns false past 256 of them. Its
// room for 256 keys is taken at once, so that numbering allocates nothing.
template <typename Key>
class LevelNumbering {
public:
    static constexpr std::size_t kMostLevels = 256;

    LevelNumbering()
    {
        reserve(sorted_, kMostLevels);
        reserve(order_, kMostLevels);
    }

    bool number(const Key& key, uint8_t& level)
    {
        auto found = std::lower_bound(
            sorted_.begin(), sorted_.end(), key,
            [](const std::pair<Key, uint8_t>& entry, const Key& k) { return entry.first < k; });
        if (found == sorted_.end() || found->first != key) {
            if (order_.size() == kMostLevels) return false;
            found = sorted_.insert(found, {key, static_cast<uint8_t>(order_.size())});
            order_.push_back(key);
        }
        level = found->second;
        return true;
    }
    const std::vector<Key>& in_order() const { return order_; }

private:
    std::vector<std::pair<Key, uint8_t>> sorted_;  // by key, with each key's level
    std::vector<Key> order_;
};

double value_of_bits(uint64_t bits)
{
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

}  // namespace

bool ResidueClasses::sums_are_exact(int64_t columns) const
{
    constexpr uint64_t kExactLimit = uint64_t{1} << 53;
    if (columns <= 0 || max_units == 0) return true;
    return max_units < kExactLimit / static_cast<uint64_t>(columns);
}

ResidueClasses make_residue_classes(const Matrix& matrix, bool read_as_scored)
{
    ResidueClasses classes;
    classes.class_of.fill(ResidueClasses::kUnknownClass);
    classes.class_of[static_cast<unsigned char>('-')] = ResidueClasses::kGapClass;
    classes.class_of[static_cast<unsigned char>('X')] = ResidueClasses::kGapClass;

    // One byte standing for each class, to ask Mut for the class pair's value: a gap, an
    // unknown byte, then at most one class for each of the 256 byte values.
    std::vector<int> representative;
    reserve(representative, 2 + 256);
    representative.push_back('-');
    representative.push_back(-1);
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
    // Each class value comes from the bytes as they are (Mut on the representatives); only
    // the bytes' classes change, after the representatives are chosen.
    if (read_as_scored) {
        const std::array<uint8_t, 256> as_they_are = classes.class_of;
        for (int b = 0; b < 256; ++b)
            classes.class_of[b] = as_they_are[detail::as_scored(static_cast<unsigned char>(b))];
    }

    const int count = static_cast<int>(representative.size());
    classes.count = count;
    const std::size_t cells = static_cast<std::size_t>(count) * count;
    classes.value = allocate<double>(cells, 0.0);
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
    classes.distance_level = allocate<uint8_t>(cells);
    classes.column_level = allocate<uint8_t>(cells);
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
        const auto& distance_keys = distance_levels.in_order();
        classes.distance_level_value = allocate<double>(distance_keys.size());
        classes.distance_level_counts = allocate<uint8_t>(distance_keys.size());
        for (std::size_t level = 0; level < distance_keys.size(); ++level) {
            classes.distance_level_value[level] = value_of_bits(distance_keys[level].first);
            classes.distance_level_counts[level] = distance_keys[level].second ? 1 : 0;
        }
        const auto& column_keys = column_levels.in_order();
        classes.column_level_value = allocate<double>(column_keys.size());
        for (std::size_t level = 0; level < column_keys.size(); ++level)
            classes.column_level_value[level] = value_of_bits(column_keys[level]);
    }

    for (int a = 0; a < count && classes.symmetric; ++a)
        for (int b = a + 1; b < count; ++b)
            if (classes.value[static_cast<std::size_t>(a) * count + b] !=
                classes.value[static_cast<std::size_t>(b) * count + a])
                classes.symmetric = false;

    classes.scores_zero = allocate<uint8_t>(static_cast<std::size_t>(count));
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
    classes.distance_level_units = allocate<uint64_t>(classes.distance_level_value.size());
    for (std::size_t level = 0; level < classes.distance_level_value.size(); ++level)
        classes.distance_level_units[level] =
            static_cast<uint64_t>(classes.distance_level_value[level] / classes.unit);
    return classes;
}

void encode_residues(const ResidueClasses& classes, const char* residues, std::size_t length,
                     uint8_t* codes)
{
    for (std::size_t k = 0; k < length; ++k)
        codes[k] = classes.class_of[static_cast<unsigned char>(residues[k])];
}

}  // namespace marrowind
