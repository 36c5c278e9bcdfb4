// figures.cpp: figures in full, as the tables write them.
//
// Contents: format_figure.
//
// A table's figures are read back by other programs, so each is written with just the digits
// that give back the very double, and in one layout wherever it appears: that of Python's repr,
// which the package's readers and most users meet first.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>

#include "marrowind/output.h"

namespace marrowind {

std::string format_figure(double value)
{
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
    // The shortest digits that read back as `value`, as d.ddde<exponent>. A table of millions
    // of rows formats millions of figures, so the layout is built in one buffer, not in pieces.
    char scientific[32];
    const char* const end = std::to_chars(scientific, scientific + sizeof scientific,
                                          std::fabs(value), std::chars_format::scientific)
                                .ptr;
    const char* const e = std::find(static_cast<const char*>(scientific), end, 'e');
    char digits[24];
    int ndigits = 0;
    for (const char* c = scientific; c != e; ++c)
        if (*c != '.') digits[ndigits++] = *c;
    int exponent = 0;
    std::from_chars(e + 1 + (e[1] == '+'), end, exponent);

    char figure[48];
    char* out = figure;
    if (std::signbit(value)) *out++ = '-';
    const auto put = [&out](const char* from, int count) {
        out = std::copy(from, from + count, out);
    };
    if (exponent < -4 || exponent >= 16) {
        *out++ = digits[0];
        if (ndigits > 1) {
            *out++ = '.';
            put(digits + 1, ndigits - 1);
        }
        const int magnitude = std::abs(exponent);
        *out++ = 'e';
        *out++ = exponent < 0 ? '-' : '+';
        if (magnitude < 10) *out++ = '0';
        out = std::to_chars(out, figure + sizeof figure, magnitude).ptr;
    } else if (const int point = exponent + 1; point <= 0) {  // digits before the point
        put("0.", 2);
        out = std::fill_n(out, -point, '0');
        put(digits, ndigits);
    } else if (point >= ndigits) {
        put(digits, ndigits);
        out = std::fill_n(out, point - ndigits, '0');
        put(".0", 2);
    } else {
        put(digits, point);
        *out++ = '.';
        put(digits + point, ndigits - point);
    }
    return std::string(figure, out);
}

}  // namespace marrowind
