// lines.h: splitting text into lines and lines into whitespace-separated fields.
//
// Contents:
//   is_blank_byte  space, tab, line feed, carriage return, vertical tab or form feed
//   is_blank       whether a line holds only such bytes
//   trimmed        a line without its leading and trailing blank bytes
//   split_fields   the fields of a line, at most a given number, the last taking the rest
//   LineSplitter   cuts text that arrives in pieces into lines
//
// Stockholm and Clustal files come from many tools and systems, so a line ends at a line feed,
// at a carriage return and line feed, or at a lone carriage return (old Mac files).
#ifndef MARROWIND_INPUT_LINES_H
#define MARROWIND_INPUT_LINES_H

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace marrowind::detail {

inline bool is_blank_byte(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

bool is_blank(std::string_view line);

std::string_view trimmed(std::string_view line);

// The fields of `line`, runs of non-blank bytes, in order. With `most` fields found and more
// text after them, the last field is all of that text from its first non-blank byte, trailing
// blank bytes included. `most` must be at least 1.
std::vector<std::string_view> split_fields(std::string_view line, std::size_t most);

class LineSplitter {
public:
    // Receives each line without its line end.
    using LineSink = std::function<void(std::string_view line)>;

    // Cuts the next `size` bytes of the text; hands each line that ends in them to `take`.
    void feed(const char* data, std::size_t size, const LineSink& take);

    // Ends the text: a last line without a line end is a line too, unless it is empty.
    void finish(const LineSink& take);

private:
    std::string partial_;      // the start of a line whose end has not arrived yet
    bool after_cr_ = false;    // the last byte was a carriage return: a line feed next is its
                               // line end's second byte
};

}  // namespace marrowind::detail

#endif
