// text_fields.cpp: text made into one field of a line of tab-separated text.
//
// Contents: escape_field.
//
// Names and residues come from files and may hold any byte. A tab, carriage return or line feed
// among them would split a row of a table, or a line of a viewer's file, and shift every field
// after it; the backslash escapes that most TSV readers undo keep each field in its place and
// lose nothing.
#include <string>
#include <string_view>

#include "marrowind/output.h"

namespace marrowind {

std::string escape_field(std::string_view text)
{
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '\\': escaped += "\\\\"; break;
        case '\t': escaped += "\\t"; break;
        case '\r': escaped += "\\r"; break;
        case '\n': escaped += "\\n"; break;
        default: escaped += c;
        }
    }
    return escaped;
}

}  // namespace marrowind
