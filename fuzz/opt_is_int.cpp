// opt_is_int.cpp: fuzz target for OptIsInt, the integer test of option arguments.
//
// Contents: LLVMFuzzerTestOneInput.
//
// Besides reading no byte past the text, an accepted text must be what the test promises:
// blanks, one sign, then only decimal digits or "0x" and hexadecimal digits.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>

#include "check.h"
#include "marrowind/util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const char* p = text.c_str();
    const int verdict = OptIsInt(p);
    FUZZ_CHECK(verdict == 0 || verdict == 1);
    if (verdict == 1) {
        while (std::isspace(static_cast<unsigned char>(*p))) ++p;
        if (*p == '-' || *p == '+') ++p;
        const bool hexadecimal = p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && p[2] != '\0';
        for (p += hexadecimal ? 2 : 0; *p != '\0'; ++p) {
            const unsigned char c = static_cast<unsigned char>(*p);
            FUZZ_CHECK(hexadecimal ? std::isxdigit(c) : std::isdigit(c));
        }
    }
    return 0;
}
