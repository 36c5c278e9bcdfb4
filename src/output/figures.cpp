// figures.cpp: figures in full, as the tables write them.
//
// Contents: format_figure.
//
// A table's figures are read back by other programs, so each is written with just the digits
// that give back the very double, and in one layout wherever it appears: that of Python's repr,
// which the package's readers and most users meet first.
#include <charconv>
#include <cmath>
#include <string>

#include "marrowind/output.h"

namespace marrowind {

std::string format_figure(double value)
{
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
    // The shortest digits that read back as `value`, as d.ddde<exponent>.
    char scientific[64];
    const std::to_chars_result written =
        std::to_chars(scientific, scientific + sizeof scientific, std::fabs(value),
                      std::chars_format::scientific);
    const std::string text(scientific, written.ptr);
    const std::size_t e = text.find('e');
    std::string digits = text.substr(0, 1) + (e > 2 ? text.substr(2, e - 2) : std::string());
    const int exponent = std::stoi(text.substr(e + 1));
    const int ndigits = static_cast<int>(digits.size());
    std::string figure = std::signbit(value) ? "-" : "";
    if (exponent < -4 || exponent >= 16) {
        figure += digits.substr(0, 1);
        if (ndigits > 1) figure += "." + digits.substr(1);
        const int magnitude = std::abs(exponent);
        figure += std::string(exponent < 0 ? "e-" : "e+") + (magnitude < 10 ? "0" : "") +
                  std::to_string(magnitude);
        return figure;
    }
    const int point = exponent + 1;  // digits before the decimal point
    if (point <= 0)
        figure += "0." + std::string(static_cast<std::size_t>(-point), '0') + digits;
    else if (point >= ndigits)
        figure += digits + std::string(static_cast<std::size_t>(point - ndigits), '0') + ".0";
    else
        figure += digits.substr(0, static_cast<std::size_t>(point)) + "." +
                  digits.substr(static_cast<std::size_t>(point));
    return figure;
}

}  // namespace marrowind
