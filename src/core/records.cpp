// records.cpp: sizing and release of the core records.
//
// Contents: f2dsquare construction and resize, AssignDataMem, FreeData, FreeAl,
// resize_report_stream.
#include "core/records.h"

#include <boost/numeric/conversion/cast.hpp>

#include <cstdlib>
#include <iostream>

#include "marrowind/errors.h"

f2dsquare::f2dsquare(int side) : cells(static_cast<std::size_t>(side) * side, 0.0f), dim(side) {}

void f2dsquare::resize(int side)
{
    const std::size_t unsigned_side = boost::numeric_cast<std::size_t>(side);
    const std::size_t count = unsigned_side * unsigned_side;
    try {
        cells.resize(count, 0.0f);
    } catch (...) {
        *marrowind::detail::resize_report_stream()
            << "Failed in attempt to resize array to " << side << " x " << side << " = " << count
            << " floats." << std::endl;
        throw;
    }
    dim = side;
}

void AssignDataMem(Alignment* alignment, Data* data)
{
    data->size = alignment->nseq + 1;
    data->weights = static_cast<double*>(std::malloc(sizeof(double) * data->size));
    if (data->weights == nullptr) throw marrowind::OutOfMemory(data->size);
    // malloc(0) may legitimately return null: an alignment without columns needs no scores.
    data->scores = static_cast<double*>(std::malloc(sizeof(double) * alignment->length));
    if (data->scores == nullptr && alignment->length > 0)
        throw marrowind::OutOfMemory(alignment->length);
}

void FreeData(Data* data)
{
    std::free(data->weights);
    std::free(data->scores);
    delete data;
}

void FreeAl(Alignment*) {}

std::ostream*& marrowind::detail::resize_report_stream()
{
    thread_local std::ostream* stream = &std::cerr;
    return stream;
}
