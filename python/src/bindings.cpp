// bindings.cpp: the Python module marrowind._core, a thin layer over <marrowind/marrowind.h>.
//
// Contents:
//   SubstitutionMatrix  load from a path, parse from text, similarity, letters, warnings
//   FORMATS           the names of the alignment formats the readers know
//   SCORING_MODES     the names of the scoring modes, as score_alignment takes them
//   read_alignment    an alignment file in any of them: (names, sequences, starts, format)
//   parse_alignment   the same from bytes held in memory
//   AlignmentReader   the same from pieces fed one after another (a Python file object)
//   detect_format     the format that the start of alignment bytes names
//   estimate_alignment_size  (text bytes, sequences, columns) of an alignment file, estimated
//   gunzip            the text of gzip-compressed bytes, as the program decompresses a file
//   score_alignment   (weights, column_scores, dops) with the scores as float64 arrays
//   pair_distance     the distance between two aligned sequences
//   dops_score        the DOPS score of a list of column scores
//   column_occupancy  per column: residues, gap fraction and weighted occupancy, as arrays
//   reliable_columns  whether each column has enough residues and few enough gaps
//   score_statistics  (scored, mean, standard deviation) of a table's finite scores
//   standard_scores, conservation_grades, GRADE_EDGES  z and the nine grades, as arrays
//   smoothed_scores   the centred mean of a window of a table's scores, as an array
//   column_chains     the chain of each column of a complex that ColabFold's A3M describes
//   default_thread_count  the threads scoring uses unless told
//   format_score, format_dops  figures as the program prints them
//   format_figure, format_figures  figures in full, as the tables write them
//   escape_field      text as one field of a tab-separated line (str or bytes, as given)
//   OutputFile        a results file written whole or not at all (the core's, see output.h)
//   write_scored_alignment     the scored alignment of rows where Python holds them
//   SignalCleanup     a context in which a signal removes the open outputs' temporary files
//   refuse_to_overwrite_inputs the guard against an output that names an input
//   Error and its subclasses InputError, OutOfMemory, OutputError
//   __version__       the project's version, as CMake's project() states it
//
// Sequences arrive as bytes: the Python layer encodes str before calling, so that one residue
// is one byte exactly as in a file. The interpreter lock is released around every call into the
// library, which neither prints nor touches Python objects, so other threads (a progress bar)
// run while a large alignment is scored.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <marrowind/context.h>
#include <marrowind/marrowind.h>
#include <marrowind/output.h>

namespace py = pybind11;

namespace {

// The library's messages carry the blank line and line end that the program prints around
// them; a Python exception shows the message alone.
std::string trimmed(const char* message)
{
    std::string text(message);
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return std::string();
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

// Raises `type` with a library message. Paths in messages are bytes as the system gave them;
// those that are not UTF-8 come back to Python as the str that os.fsdecode would give.
void raise_error(PyObject* type, const std::string& message)
{
    const std::string text = trimmed(message.c_str());
    PyObject* value = PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()),
                                           "surrogateescape");
    if (value == nullptr) return;  // the decoding error is raised instead
    PyErr_SetObject(type, value);
    Py_DECREF(value);
}

// A write failure's message with the system's reason, as Python's own errors give it:
// "Error: scores.tsv could not be written (No space left on device)".
std::string with_reason(const marrowind::OutputError& e)
{
    std::string message = trimmed(e.what());
    if (e.error_number() != 0) message += std::string(" (") + std::strerror(e.error_number()) + ")";
    return message;
}

// The contiguous bytes of any object with the buffer protocol (bytes, bytearray, memoryview),
// released when it ends.
class HeldBytes {
public:
    explicit HeldBytes(const py::handle& object)
    {
        if (PyObject_GetBuffer(object.ptr(), &view_, PyBUF_SIMPLE) != 0)
            throw py::error_already_set();
    }
    ~HeldBytes() { PyBuffer_Release(&view_); }
    HeldBytes(const HeldBytes&) = delete;
    HeldBytes& operator=(const HeldBytes&) = delete;

    const char* data() const { return static_cast<const char*>(view_.buf); }
    std::size_t size() const { return static_cast<std::size_t>(view_.len); }

private:
    Py_buffer view_;
};

// SignalCleanup as a Python context manager: handlers installed on entry, restored on exit.
struct SignalCleanupContext {
    std::optional<marrowind::SignalCleanup> cleanup;
};

using ColumnScores = py::array_t<double, py::array::c_style | py::array::forcecast>;
using Rows = py::array_t<std::int32_t, py::array::c_style | py::array::forcecast>;

// The table's rows, as the core takes them: a pointer into the array (None: every score).
const std::int32_t* rows_of(const std::optional<Rows>& rows)
{
    return rows ? rows->data() : nullptr;
}

// How many entries a table of `scores` at `rows` shows.
std::size_t entries_of(const ColumnScores& scores, const std::optional<Rows>& rows)
{
    return static_cast<std::size_t>(rows ? rows->size() : scores.size());
}

// Values as a NumPy array of their own (for types to_array does not take).
template <typename T, typename Values>
py::array_t<T> array_of(const Values& values)
{
    py::array_t<T> array(static_cast<py::ssize_t>(values.size()));
    std::copy(values.begin(), values.end(), array.mutable_data());
    return array;
}

// The values as a NumPy array that takes them over, uncopied: the array owns the vector and
// releases it with itself, so that a million column scores are never held twice.
py::array_t<double> to_array(std::vector<double>&& values)
{
    auto* owned = new std::vector<double>(std::move(values));
    py::capsule release(owned, [](void* vector) {
        delete static_cast<std::vector<double>*>(vector);
    });
    return py::array_t<double>(static_cast<py::ssize_t>(owned->size()), owned->data(), release);
}

// Text from a file as str (a sequence's name, a message naming a path): the bytes the file
// holds, each byte outside UTF-8 kept as its surrogate escape, as Python reads such names.
py::str text_of_name(const std::string& name)
{
    return py::reinterpret_steal<py::str>(PyUnicode_DecodeUTF8(
        name.data(), static_cast<py::ssize_t>(name.size()), "surrogateescape"));
}

// The format a Python argument names: None to detect it, or one of FORMATS. Anything else
// raises ValueError.
marrowind::AlignmentFormat format_argument(const py::object& format)
{
    if (format.is_none()) return marrowind::AlignmentFormat::kDetect;
    if (py::isinstance<py::str>(format)) {
        if (const auto named = marrowind::parse_format_name(format.cast<std::string>()))
            return *named;
    }
    std::string known;
    for (const marrowind::AlignmentFormat each : marrowind::kAlignmentFormats)
        known += std::string(known.empty() ? "" : ", ") + marrowind::format_name(each);
    throw py::value_error("unknown alignment format " + py::repr(format).cast<std::string>() +
                          "; one of " + known);
}

// ScoringMode by the names Python gives its values, in the enumeration's order.
constexpr std::pair<const char*, marrowind::ScoringMode> kScoringModes[] = {
    {"exact", marrowind::ScoringMode::kExact},
    {"approximate", marrowind::ScoringMode::kApproximate},
};

// The mode a Python argument names: one of SCORING_MODES. Anything else raises ValueError.
marrowind::ScoringMode mode_argument(const py::object& mode)
{
    if (py::isinstance<py::str>(mode)) {
        const std::string name = mode.cast<std::string>();
        for (const auto& [known, value] : kScoringModes)
            if (name == known) return value;
    }
    std::string known;
    for (const auto& each : kScoringModes)
        known += std::string(known.empty() ? "" : ", ") + each.first;
    throw py::value_error("mode must be one of " + known + ", not " +
                          py::repr(mode).cast<std::string>());
}

// (names, sequences, starts, format, chains): names as str (UTF-8, other bytes as surrogate escapes),
// sequences as str of one character per byte (ASCII as itself, other bytes as surrogate
// escapes), starts as int or None, chains as (first_column, length, copies, chain_ids) tuples
// of a complex's chains (see ComplexChain). Each record is released once it is copied, and
// after every few megabytes released the freed memory is handed back to the system (Python
// keeps its small objects elsewhere, so it would not reuse it): a large alignment is then never
// held twice, only the few megabytes between two trims.
py::tuple to_python(marrowind::AlignedSequences& read)
{
    constexpr std::size_t kBytesBetweenTrims = std::size_t{4} << 20;
    std::size_t released = 0;
    py::list names;
    py::list sequences;
    py::list starts;
    for (std::size_t i = 0; i < read.sequences.size(); ++i) {
        names.append(text_of_name(read.names[i]));
        const std::string& row = read.sequences[i];
        sequences.append(py::reinterpret_steal<py::str>(PyUnicode_DecodeASCII(
            row.data(), static_cast<py::ssize_t>(row.size()), "surrogateescape")));
        if (read.ranges[i])
            starts.append(read.ranges[i]->start);
        else
            starts.append(py::none());
        released += read.names[i].capacity() + row.capacity();
        std::string().swap(read.names[i]);
        std::string().swap(read.sequences[i]);
#ifdef __GLIBC__
        if (released >= kBytesBetweenTrims) {
            malloc_trim(0);
            released = 0;
        }
#endif
    }
    py::list chains;
    for (const marrowind::ComplexChain& chain : read.chains)
        chains.append(py::make_tuple(chain.first_column, chain.length, chain.copies,
                                     chain.chain_ids));
    return py::make_tuple(names, sequences, starts, marrowind::format_name(read.format), chains);
}

// The bytes of a buffer (bytes, bytearray, memoryview) where Python holds them.
std::string_view buffer_bytes(const py::buffer_info& info)
{
    return std::string_view(static_cast<const char*>(info.ptr),
                            static_cast<std::size_t>(info.size * info.itemsize));
}

// The bytes of each sequence where Python holds them: a bytes object's buffer, or the
// characters of a str of ASCII, one byte each. Anything else raises TypeError.
std::vector<std::string_view> residue_views(const py::tuple& sequences)
{
    std::vector<std::string_view> views;
    views.reserve(sequences.size());
    for (const py::handle item : sequences) {
        PyObject* object = item.ptr();
        if (PyBytes_Check(object)) {
            views.emplace_back(PyBytes_AS_STRING(object),
                               static_cast<std::size_t>(PyBytes_GET_SIZE(object)));
        } else if (PyUnicode_Check(object) && PyUnicode_IS_ASCII(object)) {
            views.emplace_back(static_cast<const char*>(PyUnicode_DATA(object)),
                               static_cast<std::size_t>(PyUnicode_GET_LENGTH(object)));
        } else {
            throw py::type_error("a sequence must be bytes or a str of ASCII characters");
        }
    }
    return views;
}

// Runs a reader without the interpreter lock, then hands its records to Python.
template <typename Reader>
py::tuple read_unlocked(Reader read)
{
    marrowind::AlignedSequences sequences;
    {
        py::gil_scoped_release unlocked;
        sequences = read();
    }
    return to_python(sequences);
}

PyObject* define_error(py::module_& m, const char* name, PyObject* base, const char* doc)
{
    py::exception<marrowind::Error> type(m, name, base);
    type.attr("__doc__") = doc;
    return type.ptr();
}

}  // namespace

PYBIND11_MODULE(_core, m)
{
    m.doc() = "Marrowind's scoring core: matrices, alignment readers, scores (see marrowind).";
    m.attr("__version__") = MARROWIND_VERSION;

    // Every library error reaches Python as its own class, all of them under marrowind.Error.
    // The module holds the classes, so plain pointers to them stay valid.
    static PyObject* const error = define_error(m, "Error", PyExc_Exception,
        "Base class of every error that Marrowind raises.");
    static PyObject* const input_error = define_error(m, "InputError", error,
        "A file that cannot be opened or read, or malformed input.");
    static PyObject* const out_of_memory =
        define_error(m, "OutOfMemory", error, "Memory ran out.");
    static PyObject* const output_error =
        define_error(m, "OutputError", error, "Results that could not be written.");
    py::register_exception_translator([](std::exception_ptr thrown) {
        try {
            if (thrown) std::rethrow_exception(thrown);
        } catch (const marrowind::MalformedAlignment& e) {
            raise_error(input_error, e.reason());
        } catch (const marrowind::DamagedCompressedData& e) {
            raise_error(input_error, trimmed(e.what()) + ": its gzip data is damaged or cut short");
        } catch (const marrowind::InputError& e) {
            raise_error(input_error, e.what());
        } catch (const marrowind::OutOfMemory& e) {
            raise_error(out_of_memory, e.what());
        } catch (const marrowind::OutputError& e) {
            raise_error(output_error, with_reason(e));
        } catch (const marrowind::Error& e) {
            raise_error(error, e.what());
        }
    });

    py::class_<marrowind::SubstitutionMatrix>(m, "SubstitutionMatrix",
        "A substitution matrix, its scores rescaled so that the lowest is 0 and the highest 1.")
        .def_static("load",
            [](const std::string& path) {
                py::gil_scoped_release unlocked;
                return marrowind::SubstitutionMatrix::load(path);
            },
            py::arg("path"),
            "Reads a matrix file: '#' or '!' comment lines, a header of comma-separated letters, "
            "then one row of comma-separated integer scores per letter. Raises InputError.")
        .def_static("parse",
            [](const std::string& text, const std::string& source) {
                py::gil_scoped_release unlocked;
                return marrowind::SubstitutionMatrix::parse(text, source);
            },
            py::arg("text"), py::arg("source") = "matrix text",
            "As load, from the text of a matrix file; source names it in error messages.")
        .def("similarity",
            [](const marrowind::SubstitutionMatrix& matrix, char a, char b) {
                return matrix.similarity(a, b);
            },
            py::arg("a"), py::arg("b"),
            "The rescaled similarity of two residues, 0 to 1; 0 for a gap ('-', 'X') or an "
            "unknown letter. Case matters: score_alignment upper-cases first.")
        .def_property_readonly("letters", &marrowind::SubstitutionMatrix::letters,
            "The matrix's residue letters in header order.")
        .def_property_readonly("warnings",
            [](const marrowind::SubstitutionMatrix& matrix) {
                py::list warnings;
                for (const std::string& warning : matrix.warnings())
                    warnings.append(text_of_name(warning));
                return warnings;
            },
            "One str per fault of the file that the matrix format reads past (a lower-case or "
            "repeated header letter, an entry longer than one letter, a score that is not a "
            "whole number, lines after the last row), naming the file and the line.")
        .def("__repr__", [](const marrowind::SubstitutionMatrix& matrix) {
            return "<marrowind.SubstitutionMatrix " + matrix.letters() + ">";
        });

    py::tuple formats(std::size(marrowind::kAlignmentFormats));
    for (std::size_t i = 0; i < std::size(marrowind::kAlignmentFormats); ++i)
        formats[i] = marrowind::format_name(marrowind::kAlignmentFormats[i]);
    m.attr("FORMATS") = formats;

    py::tuple modes(std::size(kScoringModes));
    for (std::size_t i = 0; i < std::size(kScoringModes); ++i) modes[i] = kScoringModes[i].first;
    m.attr("SCORING_MODES") = modes;

    m.def("read_alignment",
        [](const std::string& path, const py::object& format) {
            const marrowind::AlignmentFormat read_as = format_argument(format);
            return read_unlocked([&] { return marrowind::read_alignment(path, read_as); });
        },
        py::arg("path"), py::arg("format") = py::none(),
        "Reads an alignment file, plain or gzip-compressed, in `format` (None: detected): "
        "(names, sequences, starts, format).");

    m.def("parse_alignment",
        [](const py::buffer& data, const py::object& format, const std::string& source) {
            const marrowind::AlignmentFormat read_as = format_argument(format);
            // Read where Python holds it: the text of a large alignment is not copied.
            const py::buffer_info info = data.request();
            const std::string_view text = buffer_bytes(info);
            return read_unlocked(
                [&] { return marrowind::parse_alignment(text, read_as, source); });
        },
        py::arg("data"), py::arg("format") = py::none(), py::arg("source") = "<text>",
        "As read_alignment, from bytes; source names them in messages.");

    py::class_<marrowind::AlignmentReader>(m, "AlignmentReader",
        "Reads an alignment fed in pieces: feed(bytes) each, then finish().")
        .def(py::init([](const std::string& source, const py::object& format) {
                 return std::make_unique<marrowind::AlignmentReader>(source,
                                                                     format_argument(format));
             }),
             py::arg("source"), py::arg("format") = py::none())
        .def("feed",
            [](marrowind::AlignmentReader& reader, const py::buffer& data) {
                const py::buffer_info info = data.request();
                const std::string_view piece = buffer_bytes(info);
                py::gil_scoped_release unlocked;
                reader.feed(piece.data(), piece.size());
            },
            py::arg("data"), "Reads the next piece of the input.")
        .def("finish",
            [](marrowind::AlignmentReader& reader) {
                return read_unlocked([&] { return reader.finish(); });
            },
            "Ends the input: (names, sequences, starts, format).");

    m.def("detect_format",
        [](const py::buffer& data, const std::string& source) {
            const py::buffer_info info = data.request();
            return std::string(
                marrowind::format_name(marrowind::detect_format(buffer_bytes(info), source)));
        },
        py::arg("data"), py::arg("source") = "",
        "The format that the first line of alignment bytes names, or source's suffix.");

    m.def("estimate_alignment_size",
        [](const std::string& path) {
            marrowind::AlignmentSizeEstimate estimate;
            {
                py::gil_scoped_release unlocked;
                estimate = marrowind::estimate_alignment_size(path);
            }
            return py::make_tuple(estimate.text_bytes, estimate.sequences, estimate.columns);
        },
        py::arg("path"),
        "(text bytes, sequences, columns) of an alignment file, told from its first record or "
        "block.");

    m.def("gunzip",
        [](const std::string& data, const std::string& source) {
            std::string text;
            {
                py::gil_scoped_release unlocked;
                text = marrowind::gunzip(data, source);
            }
            return py::bytes(text);
        },
        py::arg("data"), py::arg("source"),
        "The text of gzip-compressed bytes: every member in turn, zero padding skipped. Raises "
        "InputError '<source> could not be read' for damaged, cut or trailed data.");

    m.def("score_alignment",
        [](const py::sequence& given, const marrowind::SubstitutionMatrix& matrix,
           int threads, const py::object& mode, int sample, unsigned long long seed) {
            marrowind::ScoringOptions options;
            options.mode = mode_argument(mode);
            options.threads = threads;
            options.sample = sample;
            options.seed = seed;
            // The tuple holds every sequence while the lock is released; the core reads them
            // in place.
            const py::tuple sequences(given);
            const std::vector<std::string_view> views = residue_views(sequences);
            marrowind::ConservationScores scores;
            {
                py::gil_scoped_release unlocked;
                scores = marrowind::score_alignment_views(views, matrix, options);
            }
            return py::make_tuple(to_array(std::move(scores.weights)),
                                  to_array(std::move(scores.column_scores)), scores.dops);
        },
        py::arg("sequences"), py::arg("matrix"), py::arg("threads") = 0,
        py::arg("mode") = "exact", py::arg("sample") = 256, py::arg("seed") = 0,
        "Scores aligned sequences (bytes, or str of ASCII) on `threads` threads (0: "
        "MARROWIND_THREADS, else the CPUs this process may run on): (weights, column_scores, "
        "dops). mode: one of SCORING_MODES, as ScoringMode; 'approximate' takes the weights "
        "from `sample` partners per sequence drawn by `seed` and sums the column scores by "
        "residue. Raises ValueError for any other mode.");

    m.def("pair_distance",
        [](const std::string& first, const std::string& second,
           const marrowind::SubstitutionMatrix& matrix) {
            py::gil_scoped_release unlocked;
            return marrowind::pair_distance(first, second, matrix);
        },
        py::arg("first"), py::arg("second"), py::arg("matrix"),
        "One minus the mean similarity of two aligned sequences (bytes) over the columns where "
        "at least one has a residue.");

    m.def("dops_score",
        [](const std::vector<double>& column_scores) {
            py::gil_scoped_release unlocked;
            return marrowind::dops_score(column_scores);
        },
        py::arg("column_scores"), "The DOPS score, 0 to 100, of a list of column scores.");

    m.def("column_occupancy",
        [](const py::sequence& given, const marrowind::SubstitutionMatrix& matrix,
           const ColumnScores& weights, const std::optional<py::array_t<std::int64_t,
           py::array::c_style | py::array::forcecast>>& columns) {
            const py::tuple sequences(given);
            const std::vector<std::string_view> views = residue_views(sequences);
            const std::vector<double> weight_list(weights.data(), weights.data() + weights.size());
            marrowind::ColumnOccupancy occupancy;
            {
                py::gil_scoped_release unlocked;
                if (columns) {
                    std::vector<std::size_t> chosen;
                    chosen.reserve(static_cast<std::size_t>(columns->size()));
                    for (py::ssize_t k = 0; k < columns->size(); ++k) {
                        const std::int64_t column = columns->data()[k];
                        if (column < 0) throw std::invalid_argument("a column below 0");
                        chosen.push_back(static_cast<std::size_t>(column));
                    }
                    occupancy = marrowind::column_occupancy(views, matrix, weight_list, chosen);
                } else {
                    occupancy = marrowind::column_occupancy(views, matrix, weight_list);
                }
            }
            return py::make_tuple(array_of<std::int64_t>(occupancy.residues),
                                  to_array(std::move(occupancy.gap_fraction)),
                                  to_array(std::move(occupancy.weighted_occupancy)));
        },
        py::arg("sequences"), py::arg("matrix"), py::arg("weights"),
        py::arg("columns") = py::none(),
        "(residues, gap_fraction, weighted_occupancy) of the listed columns (0-based; None: "
        "every column) of sequences (bytes, or str of ASCII) read as the scoring reads them: "
        "how many sequences hold a residue the matrix scores, the share that hold a gap or a "
        "letter the matrix lacks, and the share of the weights (one per sequence, normalised to "
        "sum to 1) of those that hold a residue.");

    m.def("reliable_columns",
        [](const py::array_t<std::int64_t, py::array::c_style | py::array::forcecast>& residues,
           const ColumnScores& gap_fraction, std::int64_t min_residues, double max_gap_fraction) {
            if (residues.size() != gap_fraction.size())
                throw std::invalid_argument("residues and gap fractions differ in number");
            py::array_t<bool> reliable(residues.size());
            for (py::ssize_t k = 0; k < residues.size(); ++k)
                reliable.mutable_data()[k] = marrowind::is_reliable(
                    residues.data()[k], gap_fraction.data()[k], min_residues, max_gap_fraction);
            return reliable;
        },
        py::arg("residues"), py::arg("gap_fraction"), py::arg("min_residues"),
        py::arg("max_gap_fraction"),
        "Per column, whether at least min_residues sequences hold a residue and the gap "
        "fraction is at most max_gap_fraction.");

    m.def("score_statistics",
        [](const ColumnScores& scores, const std::optional<Rows>& rows) {
            marrowind::ScoreStatistics statistics;
            {
                py::gil_scoped_release unlocked;
                statistics = rows ? marrowind::score_statistics(
                                        scores.data(), static_cast<std::size_t>(scores.size()),
                                        rows->data(), static_cast<std::size_t>(rows->size()))
                                  : marrowind::score_statistics(
                                        scores.data(), static_cast<std::size_t>(scores.size()));
            }
            return py::make_tuple(statistics.scored, statistics.mean,
                                  statistics.standard_deviation);
        },
        py::arg("scores"), py::arg("rows") = py::none(),
        "(scored, mean, standard deviation) of the finite scores (at rows, when given): their "
        "number, their mean and their population standard deviation, summed in order.");

    m.def("standard_scores",
        [](const ColumnScores& scores, const py::tuple& statistics) {
            marrowind::ScoreStatistics given;
            given.scored = statistics[0].cast<std::size_t>();
            given.mean = statistics[1].cast<double>();
            given.standard_deviation = statistics[2].cast<double>();
            std::vector<double> z(static_cast<std::size_t>(scores.size()));
            for (std::size_t k = 0; k < z.size(); ++k)
                z[k] = marrowind::standard_score(scores.data()[k], given);
            return to_array(std::move(z));
        },
        py::arg("scores"), py::arg("statistics"),
        "Each score's z, (score - mean) / standard deviation, for statistics as "
        "score_statistics gives them: 0 where the deviation is 0, nan for a score that is not "
        "finite.");

    m.def("conservation_grades",
        [](const ColumnScores& z) {
            py::array_t<std::int8_t> grades(z.size());
            for (py::ssize_t k = 0; k < z.size(); ++k)
                grades.mutable_data()[k] =
                    static_cast<std::int8_t>(marrowind::conservation_grade(z.data()[k]));
            return grades;
        },
        py::arg("z"),
        "Each z's grade, 1 to 9 (9 the most conserved): 1 plus the number of GRADE_EDGES at or "
        "below it; 0 for nan.");
    m.attr("GRADE_EDGES") = py::make_tuple(
        marrowind::kGradeEdges[0], marrowind::kGradeEdges[1], marrowind::kGradeEdges[2],
        marrowind::kGradeEdges[3], marrowind::kGradeEdges[4], marrowind::kGradeEdges[5],
        marrowind::kGradeEdges[6], marrowind::kGradeEdges[7]);

    m.def("smoothed_scores",
        [](const ColumnScores& scores, std::size_t window, const std::optional<Rows>& rows,
           std::size_t first, const std::optional<std::size_t>& last) {
            const std::size_t count = entries_of(scores, rows);
            std::vector<double> means;
            {
                py::gil_scoped_release unlocked;
                means = marrowind::smoothed_scores(scores.data(),
                                                   static_cast<std::size_t>(scores.size()),
                                                   rows_of(rows), count, window, first,
                                                   last.value_or(count));
            }
            return to_array(std::move(means));
        },
        py::arg("scores"), py::arg("window"), py::arg("rows") = py::none(), py::arg("first") = 0,
        py::arg("last") = py::none(),
        "For the entries first to last (default: all) of the list of scores (at rows, when "
        "given): the mean of the finite scores among the `window` entries centred on each, "
        "fewer at the list's ends. window must be odd.");

    m.def("column_chains",
        [](const py::sequence& chains) {
            std::vector<marrowind::ComplexChain> given;
            for (const py::handle chain : chains) {
                const py::tuple fields(py::reinterpret_borrow<py::object>(chain));
                marrowind::ComplexChain read;
                read.first_column = fields[0].cast<std::int64_t>();
                read.length = fields[1].cast<std::int64_t>();
                given.push_back(read);
            }
            return array_of<std::int32_t>(marrowind::column_chains(given));
        },
        py::arg("chains"),
        "For each column that the chains (first_column, length, ...) cover, in order, the index "
        "of its chain.");

    m.def("default_thread_count", &marrowind::default_thread_count,
        "The threads scoring uses unless told: MARROWIND_THREADS when it is set, else the CPUs "
        "this process may run on. Raises InputError for a bad MARROWIND_THREADS.");

    m.def("format_score", &marrowind::format_score, py::arg("score"),
        "A column score as the program prints it: rounded to three decimals, halves away from "
        "zero, then '%5.3f'.");
    m.def("format_dops", &marrowind::format_dops, py::arg("dops"),
        "A DOPS score as the program's 'DOPS score: ' line prints it ('%6.3f').");
    m.def("format_figure", &marrowind::format_figure, py::arg("value"),
        "A figure in full: the shortest decimal that reads back as the same float, laid out as "
        "repr lays it out.");
    m.def("format_figures",
        [](const ColumnScores& values) {
            py::list figures(values.size());
            for (py::ssize_t k = 0; k < values.size(); ++k)
                figures[static_cast<std::size_t>(k)] = marrowind::format_figure(values.data()[k]);
            return figures;
        },
        py::arg("values"), "format_figure of each value, as a list of str.");
    m.def("escape_field",
        [](const py::object& text) -> py::object {
            if (PyBytes_Check(text.ptr()))
                return py::bytes(marrowind::escape_field(text.cast<std::string>()));
            if (!PyUnicode_Check(text.ptr()))
                throw py::type_error("escape_field takes str or bytes");
            // A str's bytes as a file held them: surrogate escapes go back to their bytes.
            const py::bytes encoded = py::reinterpret_steal<py::bytes>(
                PyUnicode_AsEncodedString(text.ptr(), "utf-8", "surrogateescape"));
            if (!encoded) throw py::error_already_set();
            return text_of_name(marrowind::escape_field(encoded.cast<std::string>()));
        },
        py::arg("text"),
        "text (str or bytes) as one field of a line of tab-separated text, of the same type: "
        "each backslash written '\\\\', each tab '\\t', each carriage return '\\r' and each line "
        "feed '\\n'; every other character as it is.");

    py::class_<marrowind::OutputFile>(m, "OutputFile",
        "A results file that ends up complete or exactly as it was: written to a temporary file "
        "beside it and renamed over it by commit(); the file open on standard output or "
        "standard error is written through that stream, anything but a regular file directly.")
        .def(py::init<const std::string&>(), py::arg("path"),
            "Opens path (str or bytes) for writing. Raises OutputError.")
        .def_static("standard_output",
            []() { return std::make_unique<marrowind::OutputFile>(stdout, "standard output"); },
            "The process's standard output (descriptor 1, through C's stdout), only flushed by "
            "commit().")
        .def_property_readonly("path", &marrowind::OutputFile::path,
            "The path as given, as messages name it.")
        .def_property_readonly("temporary_path", &marrowind::OutputFile::temporary_path,
            "The temporary file being written, or '' when there is none.")
        .def("write",
            [](marrowind::OutputFile& output, const py::handle& data) {
                const HeldBytes bytes(data);
                py::gil_scoped_release unlocked;
                output.write(bytes.data(), bytes.size());
                return bytes.size();
            },
            py::arg("data"), "Writes bytes (any contiguous buffer); returns their number.")
        .def("commit",
            [](marrowind::OutputFile& output) {
                py::gil_scoped_release unlocked;
                output.commit();
            },
            "Flushes, syncs, closes and renames the file into place. Raises OutputError, "
            "having removed the temporary.")
        .def("discard", &marrowind::OutputFile::discard,
            "Closes the file and removes the temporary, leaving the target as it was; nothing "
            "once committed.");

    m.def("write_scored_alignment",
        [](marrowind::OutputFile& output, const py::sequence& given, const ColumnScores& scores) {
            // The tuple holds every row while the lock is released; the core reads them in place.
            const py::tuple sequences(given);
            const std::vector<std::string_view> rows = residue_views(sequences);
            py::gil_scoped_release unlocked;
            marrowind::write_scored_alignment(
                [&output](std::string_view lines) { output.write(lines.data(), lines.size()); },
                rows, scores.data(), static_cast<std::size_t>(scores.size()));
        },
        py::arg("output"), py::arg("sequences"), py::arg("scores"),
        "Writes the scored alignment of sequences (bytes, or str of ASCII) and their column "
        "scores to an OutputFile, as the program writes it: '.' as '-', a-z as A-Z.");
    m.def("write_scored_alignment",
        [](const py::function& write, const py::sequence& given, const ColumnScores& scores) {
            const py::tuple sequences(given);
            const std::vector<std::string_view> rows = residue_views(sequences);
            marrowind::write_scored_alignment(
                [&write](std::string_view lines) {
                    write(py::bytes(lines.data(), lines.size()));
                },
                rows, scores.data(), static_cast<std::size_t>(scores.size()));
        },
        py::arg("write"), py::arg("sequences"), py::arg("scores"),
        "The same, handing the text to write(bytes) a block of lines at a time.");

    py::class_<SignalCleanupContext>(m, "SignalCleanup",
        "A context in which SIGINT, SIGTERM, SIGHUP and SIGXFSZ remove the temporary file of "
        "every open OutputFile and end the process as the signal would; an ignored signal "
        "stays ignored. For command lines: a library leaves signals to its caller.")
        .def(py::init<>())
        .def("__enter__",
            [](SignalCleanupContext& context) -> SignalCleanupContext& {
                context.cleanup.emplace();
                return context;
            })
        .def("__exit__", [](SignalCleanupContext& context, const py::args&) {
            context.cleanup.reset();
            return false;
        });

    m.def("refuse_to_overwrite_inputs", &marrowind::refuse_to_overwrite_inputs,
        py::arg("output"), py::arg("inputs"),
        "Raises InputError '<output> is an input file and will not be overwritten' when output "
        "is the same file as one of inputs (links followed; '-' and /dev/stdin are standard "
        "input).");

    m.def("cannot_open_message",
        [](const std::string& path) {
            return trimmed(marrowind::InputError::cannot_open(path).what());
        },
        py::arg("path"), "The library's message for a file that cannot be opened.");
}
