// errors.cpp: message texts of the core's exceptions.
//
// Contents: InputError::cannot_open, InputError::cannot_read, OutOfMemory, OutputError.
#include "marrowind/errors.h"

namespace marrowind {

InputError InputError::cannot_open(const std::string& path)
{
    return InputError("\nError: " + path + " could not be opened\n");
}

InputError InputError::cannot_read(const std::string& path)
{
    return InputError("\nError: " + path + " could not be read\n");
}

OutOfMemory::OutOfMemory(long long requested)
    : Error("No memory for object (n = " + std::to_string(requested) + ")!\n", 1),
      requested_(requested)
{
}

OutputError::OutputError(const std::string& destination)
    : Error("\nError: " + destination + " could not be written\n", 1), destination_(destination)
{
}

}  // namespace marrowind
