// reader.cpp: reads a substitution matrix from its comma-separated text form.
//
// Contents:
//   ReadMatrix   opens a matrix file and parses it
//   ParseMatrix  parses comment lines, the header of letters and one score row per letter
//
// The format: any number of comment lines starting with '#' or '!', then a header of
// comma-separated residue letters (each field gives its first character), then one row of
// comma-separated integers per letter. Anything after the last row is never read. A file that
// does not follow this is refused as a whole with an InputError; no partial matrix escapes.
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <memory>
#include <string>

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

Matrix* ReadMatrix(const char* path)
{
    std::ifstream in(path);
    if (!in.is_open()) throw marrowind::InputError::cannot_open(path);
    return ParseMatrix(in, path);
}

Matrix* ParseMatrix(std::istream& in, const std::string& source)
{
    auto matrix = std::make_unique<Matrix>();
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
    }
    return matrix.release();
}
