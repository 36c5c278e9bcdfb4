// errors.cpp: message texts of the core's exceptions.
//
// Contents: InputError::cannot_open, InputError::cannot_read, OutOfMemory, OutputError,
// OutputError::cannot_open.
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

OutputError::OutputError(const std::string& destination, int error_number)
    : OutputError("\nError: " + destination + " could not be written\n", destination,
                  error_number)
{
}

OutputError::OutputError(const std::string& message, const std::string& destination,
                         int error_number)
    : Error(message, 1), destination_(destination), error_number_(error_number)
{
}

OutputError OutputError::cannot_open(const std::string& path, int error_number)
{
    return OutputError("\nError: " + path + " could not be opened\n", path, error_number);
}

}  // namespace marrowind
