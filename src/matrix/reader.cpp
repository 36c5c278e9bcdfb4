// reader.cpp: reads a substitution matrix from its comma-separated text form.
//
// Contents:
//   Quoted, IsWholeNumber, Warnings  the warnings about faults that the format reads past
//   WarnAboutHeader, WarnAboutRow, WarnAboutLinesAfterTheRows
//   ReadMatrix   opens a matrix file and parses it
//   ParseMatrix  parses comment lines, the header of letters and one score row per letter
//
// The format: any number of comment lines starting with '#' or '!', then a header of
// comma-separated residue letters (each field gives its first character), then one row of
// comma-separated integers per letter. Anything after the last row is no part of the matrix. A
// file that does not follow this is refused as a whole with an InputError; no partial matrix
// escapes.
//
// The format reads some faults without a word, and stored matrices rely on that reading, so it
// stays: a header letter in lower case (never met in an alignment, which is read in upper
// case), an entry longer than one letter, a letter listed twice, a score that is not a whole
// number ("1.9" reads as 1), rows beyond the last letter's. Each such fault is told to the
// caller as a warning, one line that names the file and the line, and the consequence.
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <memory>
#include <string>
#include <string_view>

#include "core/fields.h"
#include "marrowind/errors.h"
#include "matrix/matrix.h"

namespace {

// Owns the field list of a line split at every delim (empty fields kept, nothing trimmed), so
// that it is freed on every path out of the parser.
class Fields {
public:
    Fields(const std::string& line, char delim)
        : list_(marrowind::detail::SplitFields(line.c_str(), delim, &count_)) {}
    ~Fields() { marrowind::detail::FreeFields(list_, count_); }
    Fields(const Fields&) = delete;
    Fields& operator=(const Fields&) = delete;

    int count() const { return count_; }
    const char* operator[](int k) const { return list_[k]; }

private:
    int count_ = 0;
    char** list_;
};

[[noreturn]] void Refuse(const std::string& source, const std::string& problem)
{
    throw marrowind::InputError("!!!! Error in Matrix !!!!\n" + source + ": " + problem + "\n");
}

// Reads the next line into `line` and counts it. std::getline drops the newline itself; a
// carriage return before it stays, in the last field, where neither the letter rule (first
// character) nor the number rule (digits only) looks. Returns false at the end of the input and
// refuses the input when the stream reports a read error (for example a directory).
bool NextLine(std::istream& in, std::string& line, int& line_number, const std::string& source)
{
    if (std::getline(in, line)) {
        ++line_number;
        return true;
    }
    if (in.bad())
        Refuse(source, line_number == 0 ? std::string("the file could not be read")
                                        : "the file could not be read beyond line " +
                                              std::to_string(line_number));
    return false;
}

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
// How much of a field a warning quotes.
constexpr std::size_t kMostQuoted = 16;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

// A field as a warning quotes it, between single quotes on one line: bytes outside printable
// ASCII as \xHH, and a long field cut short with "...".
std::string Quoted(std::string_view field)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string shown = "'";
    for (std::size_t k = 0; k < field.size() && k < kMostQuoted; ++k) {
        const unsigned char byte = static_cast<unsigned char>(field[k]);
        if (byte >= 0x20 && byte < 0x7F) {
            shown += static_cast<char>(byte);
        } else {
            shown += "\\x";
            shown += kHex[byte >> 4];
            shown += kHex[byte & 0xF];
        }
    }
    return shown + (field.size() > kMostQuoted ? "...'" : "'");
}

// Whether a score field holds a whole number and nothing else but blanks around it, so that
// what "%d" reads from it is what it says.
bool IsWholeNumber(const char* field)
{
    const char* at = field;
    while (IsBlank(*at)) ++at;
    if (*at == '+' || *at == '-') ++at;
    const char* const digits = at;
    while (*at >= '0' && *at <= '9') ++at;
    if (at == digits) return false;
    while (IsBlank(*at)) ++at;
    return *at == '\0';
}

// Tells the caller, when it listens, about the faults that the format reads past.
class Warnings {
public:
    Warnings(const std::string& source, const MatrixWarningSink& sink)
        : source_(source), sink_(sink) {}

    bool listened() const { return static_cast<bool>(sink_); }

    void warn(int line_number, const std::string& fault) const
    {
        sink_(source_ + " line " + std::to_string(line_number) + ": " + fault);
    }

private:
    const std::string& source_;
    const MatrixWarningSink& sink_;
};

void WarnAboutHeader(const Fields& header, const std::string& line, int line_number,
                     const Warnings& warnings)
{
    const bool marked = line.compare(0, kByteOrderMark.size(), kByteOrderMark) == 0;
    if (marked)
        warnings.warn(line_number,
                      "the line starts with a UTF-8 byte-order mark, which the matrix format "
                      "reads as text: the line is the header and its first letter is the byte "
                      "\\xEF; save the file without the mark");
    for (int k = 0; k < header.count(); ++k) {
        const std::string_view field = header[k];
        const char letter = field[0];
        std::string_view entry = field;
        while (entry.size() > 1 && IsBlank(entry.back())) entry.remove_suffix(1);
        if (entry.size() > 1 && !(marked && k == 0))
            warnings.warn(line_number, "header entry " + std::to_string(k + 1) + " " +
                                           Quoted(entry) +
                                           " is longer than one letter; only its first "
                                           "character, " +
                                           Quoted(field.substr(0, 1)) + ", is the letter");
        if (letter >= 'a' && letter <= 'z')
            warnings.warn(line_number, "header letter " + Quoted(field.substr(0, 1)) +
                                           " is lower case; alignments are read in upper case, "
                                           "so its scores are never used");
        for (int earlier = 0; earlier < k; ++earlier) {
            if (header[earlier][0] != letter) continue;
            warnings.warn(line_number, "header letter " + Quoted(field.substr(0, 1)) +
                                           " appears again as entry " + std::to_string(k + 1) +
                                           " (first as entry " + std::to_string(earlier + 1) +
                                           "); its later row and column replace the earlier ones");
            break;
        }
    }
}

void WarnAboutRow(const Fields& row, int r, int line_number, const Warnings& warnings,
                  const int* scores)
{
    int first = -1;
    int others = 0;
    for (int c = 0; c < row.count(); ++c) {
        if (IsWholeNumber(row[c])) continue;
        if (first < 0)
            first = c;
        else
            ++others;
    }
    if (first < 0) return;
    std::string fault = "score row " + std::to_string(r + 1) + " field " +
                        std::to_string(first + 1) + " " + Quoted(row[first]) +
                        " is not a whole number and is read as " + std::to_string(scores[first]);
    if (others == 1) fault += "; 1 more field of the row is not a whole number either";
    if (others > 1)
        fault += "; " + std::to_string(others) +
                 " more fields of the row are not whole numbers either";
    warnings.warn(line_number, fault);
}

// Looks at the lines after the last score row, which are no part of the matrix: any that is not
// blank is a warning (the first one's line, and how many there are).
void WarnAboutLinesAfterTheRows(std::istream& in, int line_number, int nres,
                                const Warnings& warnings)
{
    std::string line;
    int first = 0;
    int count = 0;
    while (std::getline(in, line)) {
        ++line_number;
        if (std::all_of(line.begin(), line.end(), IsBlank)) continue;
        if (count++ == 0) first = line_number;
    }
    if (count == 0) return;
    warnings.warn(first, std::to_string(count) + (count > 1 ? " lines" : " line") +
                             " after the last score row " + (count > 1 ? "are" : "is") +
                             " never read: the header's " + std::to_string(nres) +
                             (nres > 1 ? " letters take " : " letter takes ") +
                             std::to_string(nres) + (nres > 1 ? " rows" : " row"));
}

bool IsComment(const std::string& line)
{
    return !line.empty() && (line[0] == '#' || line[0] == '!');
}

// Fields are split as C strings, so a NUL byte would silently cut off the rest of its line.
void RefuseNulBytes(const std::string& line, int line_number, const std::string& source)
{
    if (line.find('\0') != std::string::npos)
        Refuse(source, "line " + std::to_string(line_number) + " holds a NUL byte");
}

// Reads a score as "%d" reads it: leading white space skipped, an optional sign and digits
// taken, anything after them ignored, and a field without a number reads as 0. A number
// beyond the int range is refused, where "%d" would store some other value without a word.
int ReadScore(const char* field, int row, int column, int line_number, const std::string& source)
{
    errno = 0;
    const long long value = std::strtoll(field, nullptr, 10);
    if (errno == ERANGE || value < std::numeric_limits<int>::min() ||
        value > std::numeric_limits<int>::max())
        Refuse(source, "score row " + std::to_string(row + 1) + " (line " +
                           std::to_string(line_number) + "): field " + std::to_string(column + 1) +
                           " does not fit an int");
    return static_cast<int>(value);
}

}  // namespace

Matrix* ReadMatrix(const char* path, const MatrixWarningSink& warn)
{
    std::ifstream in(path);
    if (!in.is_open()) throw marrowind::InputError::cannot_open(path);
    return ParseMatrix(in, path, warn);
}

Matrix* ParseMatrix(std::istream& in, const std::string& source, const MatrixWarningSink& warn)
{
    auto matrix = std::make_unique<Matrix>();
    const Warnings warnings(source, warn);
    std::string line;
    int line_number = 0;

    do {
        if (!NextLine(in, line, line_number, source))
            Refuse(source, "no header line (the file is empty or holds only comment lines)");
    } while (IsComment(line));

    {
        RefuseNulBytes(line, line_number, source);
        const Fields header(line, ',');
        if (header.count() > kMatrixCapacity)
            Refuse(source, "the header has " + std::to_string(header.count()) +
                               " letters; at most " + std::to_string(kMatrixCapacity) +
                               " are allowed");
        for (int k = 0; k < header.count(); ++k) {
            if (header[k][0] == '\0')
                Refuse(source, "field " + std::to_string(k + 1) + " of the header (line " +
                                   std::to_string(line_number) + ") is empty");
            matrix->letters[k] = header[k][0];
        }
        matrix->nres = header.count();
        if (warnings.listened()) WarnAboutHeader(header, line, line_number, warnings);
    }

    for (int r = 0; r < matrix->nres; ++r) {
        if (!NextLine(in, line, line_number, source))
            Refuse(source, "the file ends after " + std::to_string(r) + " of " +
                               std::to_string(matrix->nres) + " score rows");
        RefuseNulBytes(line, line_number, source);
        const Fields row(line, ',');
        if (row.count() != matrix->nres)
            Refuse(source, "score row " + std::to_string(r + 1) + " (line " +
                               std::to_string(line_number) + ") has " +
                               std::to_string(row.count()) + " fields; the header has " +
                               std::to_string(matrix->nres) + " letters");
        for (int c = 0; c < matrix->nres; ++c)
            matrix->raw[r][c] = ReadScore(row[c], r, c, line_number, source);
        if (warnings.listened()) WarnAboutRow(row, r, line_number, warnings, matrix->raw[r].data());
    }
    if (warnings.listened()) WarnAboutLinesAfterTheRows(in, line_number, matrix->nres, warnings);
    return matrix.release();
}
