// opt_is_real.cpp: fuzz target for OptIsReal, the real-number test of option arguments.
//
// Contents: LLVMFuzzerTestOneInput.
//
// Besides reading no byte past the text, the two argument tests must agree where their rules
// meet: an accepted text holds a digit, and a decimal integer with a digit is a real number.
#include <cstddef>
#include <cstdint>
#include <string>

#include "check.h"
#include "marrowind/util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const int verdict = OptIsReal(text.c_str());
    FUZZ_CHECK(verdict == 0 || verdict == 1);

    const std::string c_text = text.c_str();  // what the tests see: the text up to a NUL
    const bool has_digit = c_text.find_first_of("0123456789") != std::string::npos;
    if (verdict == 1) FUZZ_CHECK(has_digit);
    const bool hexadecimal = c_text.find_first_of("xX") != std::string::npos;
    if (OptIsInt(c_text.c_str()) == 1 && has_digit && !hexadecimal) FUZZ_CHECK(verdict == 1);
    return 0;
}
