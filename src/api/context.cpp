// context.cpp: the figures a column's score is read with.
//
// Contents: column_occupancy, is_reliable, score_statistics, standard_score,
// conservation_grade, smoothed_scores.
#include "marrowind/context.h"

#include <array>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>

#include "core/residues.h"
#include "matrix/matrix.h"

namespace marrowind {

namespace {

constexpr double kNotANumber = std::numeric_limits<double>::quiet_NaN();

// Per byte as found in a row: whether it holds a residue (see ColumnOccupancy).
std::array<bool, 256> residue_bytes(const ::Matrix& matrix, bool normalise_residues)
{
    std::array<bool, 256> holds{};
    for (int byte = 0; byte < 256; ++byte) {
        const unsigned char read = normalise_residues
            ? detail::as_scored(static_cast<unsigned char>(byte))
            : static_cast<unsigned char>(byte);
        const char letter = static_cast<char>(read);
        // A pair of header letters has its rescaled score (0 to 1) in the table; every other
        // cell holds the marker above 1.
        holds[byte] = !is_gap(letter) && matrix.lookup.access(read, read) <= 1.0f;
    }
    return holds;
}

void check_index(std::int64_t index, std::size_t size, const char* what)
{
    if (index < 0 || static_cast<std::uint64_t>(index) >= size)
        throw std::invalid_argument(std::string(what) + " " + std::to_string(index) +
                                    " is outside a list of " + std::to_string(size));
}

// The entries a table shows: scores[rows[k]], or scores[k] without rows.
class Entries {
public:
    Entries(const double* scores, std::size_t size, const std::int32_t* rows, std::size_t count)
        : scores_(scores), rows_(rows), count_(count)
    {
        if (rows_ == nullptr) {
            if (count > size) throw std::invalid_argument("more entries than scores");
            return;
        }
        for (std::size_t k = 0; k < count; ++k) check_index(rows[k], size, "row");
    }
    double operator[](std::size_t k) const { return rows_ ? scores_[rows_[k]] : scores_[k]; }
    std::size_t size() const { return count_; }

private:
    const double* scores_;
    const std::int32_t* rows_;
    std::size_t count_;
};

ScoreStatistics statistics_of(const Entries& entries)
{
    ScoreStatistics statistics;
    double sum = 0.0;
    for (std::size_t k = 0; k < entries.size(); ++k) {
        if (!std::isfinite(entries[k])) continue;
        sum += entries[k];
        ++statistics.scored;
    }
    if (statistics.scored == 0) {
        statistics.mean = statistics.standard_deviation = kNotANumber;
        return statistics;
    }
    const double n = static_cast<double>(statistics.scored);
    statistics.mean = sum / n;
    double squares = 0.0;
    for (std::size_t k = 0; k < entries.size(); ++k) {
        if (!std::isfinite(entries[k])) continue;
        const double difference = entries[k] - statistics.mean;
        squares += difference * difference;
    }
    statistics.standard_deviation = std::sqrt(squares / n);
    return statistics;
}

}  // namespace

ColumnOccupancy column_occupancy(const std::vector<std::string_view>& sequences,
                                 const SubstitutionMatrix& matrix,
                                 const std::vector<double>& weights,
                                 const std::vector<std::size_t>& columns,
                                 bool normalise_residues)
{
    if (weights.size() != sequences.size())
        throw std::invalid_argument(std::to_string(weights.size()) + " weights for " +
                                    std::to_string(sequences.size()) + " sequences");
    const std::size_t length = sequences.empty() ? 0 : sequences[0].size();
    for (const std::string_view row : sequences)
        if (row.size() != length) throw std::invalid_argument("sequences differ in length");
    for (const std::size_t column : columns)
        check_index(static_cast<std::int64_t>(column), length, "column");

    double total_weight = 0.0;
    for (const double weight : weights) total_weight += weight;
    const bool weighted = std::isfinite(total_weight) && total_weight != 0.0;

    const std::array<bool, 256> holds = residue_bytes(matrix.record(), normalise_residues);
    ColumnOccupancy occupancy;
    occupancy.residues.assign(columns.size(), 0);
    std::vector<double> held_weight(columns.size(), 0.0);
    // Row by row, so that each sum over the sequences runs in sequence order.
    for (std::size_t i = 0; i < sequences.size(); ++i) {
        const std::string_view row = sequences[i];
        for (std::size_t k = 0; k < columns.size(); ++k) {
            if (!holds[static_cast<unsigned char>(row[columns[k]])]) continue;
            ++occupancy.residues[k];
            held_weight[k] += weights[i];
        }
    }
    const double n = static_cast<double>(sequences.size());
    occupancy.gap_fraction.resize(columns.size());
    occupancy.weighted_occupancy.resize(columns.size());
    for (std::size_t k = 0; k < columns.size(); ++k) {
        const double r = static_cast<double>(occupancy.residues[k]);
        occupancy.gap_fraction[k] = (n - r) / n;
        occupancy.weighted_occupancy[k] = weighted ? held_weight[k] / total_weight : r / n;
    }
    return occupancy;
}

ColumnOccupancy column_occupancy(const std::vector<std::string_view>& sequences,
                                 const SubstitutionMatrix& matrix,
                                 const std::vector<double>& weights, bool normalise_residues)
{
    std::vector<std::size_t> every(sequences.empty() ? 0 : sequences[0].size());
    for (std::size_t column = 0; column < every.size(); ++column) every[column] = column;
    return column_occupancy(sequences, matrix, weights, every, normalise_residues);
}

bool is_reliable(std::int64_t residues, double gap_fraction, std::int64_t min_residues,
                 double max_gap_fraction)
{
    return residues >= min_residues && gap_fraction <= max_gap_fraction;
}

ScoreStatistics score_statistics(const double* scores, std::size_t count)
{
    return statistics_of(Entries(scores, count, nullptr, count));
}

ScoreStatistics score_statistics(const double* scores, std::size_t size,
                                 const std::int32_t* rows, std::size_t count)
{
    return statistics_of(Entries(scores, size, rows, count));
}

double standard_score(double score, const ScoreStatistics& statistics)
{
    if (!std::isfinite(score) || statistics.scored == 0) return kNotANumber;
    if (statistics.standard_deviation == 0.0) return 0.0;
    return (score - statistics.mean) / statistics.standard_deviation;
}

int conservation_grade(double z)
{
    if (std::isnan(z)) return 0;
    int grade = 1;
    for (const double edge : kGradeEdges)
        if (z >= edge) ++grade;
    return grade;
}

std::vector<double> smoothed_scores(const double* scores, std::size_t size,
                                    const std::int32_t* rows, std::size_t count,
                                    std::size_t window, std::size_t first, std::size_t last)
{
    if (window % 2 == 0)
        throw std::invalid_argument("the window must be an odd number of entries, not " +
                                    std::to_string(window));
    if (first > last || last > count)
        throw std::invalid_argument("entries " + std::to_string(first) + " to " +
                                    std::to_string(last) + " of a list of " +
                                    std::to_string(count));
    const Entries entries(scores, size, rows, count);
    const std::size_t half = (window - 1) / 2;
    std::vector<double> means;
    means.reserve(last - first);
    for (std::size_t k = first; k < last; ++k) {
        const std::size_t from = k < half ? 0 : k - half;
        const std::size_t to = count - 1 - k < half ? count - 1 : k + half;
        double sum = 0.0;
        std::size_t finite = 0;
        for (std::size_t j = from; j <= to; ++j) {
            if (!std::isfinite(entries[j])) continue;
            sum += entries[j];
            ++finite;
        }
        means.push_back(finite ? sum / static_cast<double>(finite) : kNotANumber);
    }
    return means;
}

std::vector<double> smoothed_scores(const std::vector<double>& scores, std::size_t window)
{
    return smoothed_scores(scores.data(), scores.size(), nullptr, scores.size(), window, 0,
                           scores.size());
}

}  // namespace marrowind
