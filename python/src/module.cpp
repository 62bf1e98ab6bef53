// kavel._kavel: the core's kernels for numpy arrays. The Python package
// checks and names the arguments; this side checks again what memory safety
// depends on (dtype, shape, strides, writability) and releases the GIL around
// every pass over pixels.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <sys/stat.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <system_error>
#include <tuple>
#include <vector>

#include "args.h"
#include "imagefiles.h"
#include "kavel/measure.h"
#include "kavel/openplan.h"
#include "kavel/statistics.h"
#include "kavel/stream.h"
#include "kavel/threshold.h"
#include "kavel/treatment.h"

namespace py = pybind11;

namespace {

using kavel::ByteMatrix;

// A 2-D uint8 array as a pointer and byte strides (either may be negative).
struct PixelView {
    std::uint8_t* Data = nullptr;
    int Lines = 0;
    int Columns = 0;
    py::ssize_t LineStride = 0;
    py::ssize_t ColumnStride = 0;

    std::uint8_t* Line(int line) const noexcept { return Data + LineStride * line; }
    bool Contiguous() const noexcept { return ColumnStride == 1 && (LineStride == Columns || Lines <= 1); }
};

PixelView ViewOf(const py::handle& object, const char* what, bool writable) {
    if (!py::isinstance<py::array>(object)) {
        throw py::type_error(std::string(what) + " must be a numpy array of uint8, not " +
                             std::string(py::str(object.get_type().attr("__name__"))));
    }
    auto array = py::reinterpret_borrow<py::array>(object);
    const py::dtype dtype = array.dtype();
    if (dtype.kind() != 'u' || dtype.itemsize() != 1) {
        throw py::type_error(std::string(what) + " must have dtype uint8, not " +
                             std::string(py::str(dtype.attr("name"))));
    }
    if (array.ndim() != 2) {
        throw py::value_error(std::string(what) + " must be 2-D (lines, columns), not " +
                              std::to_string(array.ndim()) + "-D");
    }
    if (array.shape(0) > INT_MAX || array.shape(1) > INT_MAX ||
        static_cast<std::uint64_t>(array.shape(0)) * static_cast<std::uint64_t>(array.shape(1)) >
            kavel::kMaxImagePixels) {
        throw py::value_error(std::string(what) + " is larger than KAVEL's limit of 2**32 pixels");
    }
    if (writable && !array.writeable()) {
        throw py::value_error(std::string(what) + " is read-only");
    }
    PixelView view;
    // mutable_data() would refuse a read-only array; the source is only read.
    view.Data = static_cast<std::uint8_t*>(const_cast<void*>(array.data()));
    view.Lines = static_cast<int>(array.shape(0));
    view.Columns = static_cast<int>(array.shape(1));
    view.LineStride = array.strides(0);
    view.ColumnStride = array.strides(1);
    return view;
}

void CopyLineIn(const PixelView& view, int line, std::uint8_t* to) noexcept {
    const std::uint8_t* from = view.Line(line);
    if (view.ColumnStride == 1) {
        std::memcpy(to, from, static_cast<std::size_t>(view.Columns));
        return;
    }
    for (int c = 0; c < view.Columns; ++c) {
        to[c] = from[view.ColumnStride * c];
    }
}

void CopyLineOut(const std::uint8_t* from, const PixelView& view, int line) noexcept {
    std::uint8_t* to = view.Line(line);
    if (view.ColumnStride == 1) {
        std::memcpy(to, from, static_cast<std::size_t>(view.Columns));
        return;
    }
    for (int c = 0; c < view.Columns; ++c) {
        to[view.ColumnStride * c] = from[c];
    }
}

ByteMatrix Allocate(int columns, int lines) {
    auto matrix = kavel::AllocateByteMatrix(columns, lines);
    if (!matrix) {
        throw std::bad_alloc();
    }
    return std::move(*matrix);
}

ByteMatrix CopyOf(const PixelView& view) {
    ByteMatrix matrix = Allocate(view.Columns, view.Lines);
    for (int line = 0; line < view.Lines; ++line) {
        CopyLineIn(view, line, matrix[line]);
    }
    return matrix;
}

// Copies a band of result lines to memory that is not read again soon,
// bypassing the cache where the processor can: cached stores would first read
// every line of out from memory. StreamFence() orders them before returning.
void StreamCopy(std::uint8_t* to, const std::uint8_t* from, std::size_t bytes) noexcept {
#if defined(__SSE2__)
    const std::size_t head = std::min(bytes, (16 - reinterpret_cast<std::uintptr_t>(to) % 16) % 16);
    std::memcpy(to, from, head);
    std::size_t at = head;
    for (; at + 16 <= bytes; at += 16) {
        _mm_stream_si128(reinterpret_cast<__m128i*>(to + at),
                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + at)));
    }
    std::memcpy(to + at, from + at, bytes - at);
#else
    std::memcpy(to, from, bytes);
#endif
}

void StreamFence() noexcept {
#if defined(__SSE2__)
    _mm_sfence();
#endif
}

// The treatment a band of lines at a time, each band in a window with the
// line before it above and the line after it below, so that the whole-image
// treatment of the window is right for the band. Where the image ends the
// window holds a selected tone, which is what the image's edge counts as.
// Every source line is in a window before its result line is written, so
// out may be image itself.
void TreatBands(const PixelView& source, const PixelView& out, const kavel::TreatmentParameters& parameters) {
    if (source.Lines == 0 || source.Columns == 0) {
        return;
    }
    const auto columns = static_cast<std::size_t>(source.Columns);
    const int band = static_cast<int>(std::clamp<std::size_t>(kavel::kStreamBandBytes / columns, 1,
                                                              static_cast<std::size_t>(source.Lines)));
    const int windowLines = band + 2;
    ByteMatrix window = Allocate(source.Columns, windowLines);
    ByteMatrix result = Allocate(source.Columns, windowLines);
    const auto edge = static_cast<std::uint8_t>(std::clamp(parameters.MinThreshold, 0, 255));
    auto fillEdge = [&](int from) {
        if (from < windowLines) {
            std::memset(window[from], edge, static_cast<std::size_t>(windowLines - from) * columns);
        }
    };
    auto readInto = [&](int windowLine, int first, int count) {
        for (int i = 0; i < count; ++i) {
            CopyLineIn(source, first + i, window[windowLine + i]);
        }
    };
    fillEdge(0);
    const int opening = std::min(band + 1, source.Lines);
    readInto(1, 0, opening);
    fillEdge(1 + opening);
    for (int first = 0;; first += band) {
        const int count = std::min(band, source.Lines - first);
        if (auto treated = kavel::ComputeTreatment(window, parameters, result); !treated) {
            throw std::runtime_error(treated.error().message);
        }
        if (out.Contiguous()) {
            StreamCopy(out.Line(first), result[1], static_cast<std::size_t>(count) * columns);
        } else {
            for (int i = 0; i < count; ++i) {
                CopyLineOut(result[1 + i], out, first + i);
            }
        }
        if (first + count >= source.Lines) {
            StreamFence();
            return;
        }
        std::memmove(window[0], window[band], 2 * columns);
        const int next = first + band + 1;
        const int more = std::clamp(source.Lines - next, 0, band);
        readInto(2, next, more);
        fillEdge(2 + more);
    }
}

kavel::TreatmentParameters ParametersOf(int kind, std::int32_t minimum, std::int32_t maximum,
                                        std::int32_t item, std::int32_t border, std::int32_t background) {
    return kavel::TreatmentParameters{
        static_cast<kavel::TreatmentKind>(kind), minimum, maximum, item, border, background};
}

// An uninitialised C-contiguous image in memory the core allocates, with
// its hint for large blocks: first touching ordinary pages of a new 100 MP
// array costs about as much as the treatment itself.
py::array NewImage(int lines, int columns) {
    kavel::PixelBuffer buffer =
        kavel::AllocatePixels(static_cast<std::size_t>(lines) * static_cast<std::size_t>(columns));
    if (!buffer) {
        throw std::bad_alloc();
    }
    std::uint8_t* data = buffer.get();
    py::capsule owner(data, [](void* pixels) { std::free(pixels); });
    buffer.release();
    return py::array_t<std::uint8_t>({py::ssize_t{lines}, py::ssize_t{columns}},
                                     {py::ssize_t{columns}, py::ssize_t{1}}, data, owner);
}

// Into out, or a new array when out is None; gives the array written.
py::object Treat(const py::handle& image, py::object out, int kind, std::int32_t minimum,
                 std::int32_t maximum, std::int32_t item, std::int32_t border, std::int32_t background) {
    const PixelView source = ViewOf(image, "image", false);
    if (out.is_none()) {
        out = NewImage(source.Lines, source.Columns);
    }
    const PixelView target = ViewOf(out, "out", true);
    if (source.Lines != target.Lines || source.Columns != target.Columns) {
        throw py::value_error("out has shape (" + std::to_string(target.Lines) + ", " +
                              std::to_string(target.Columns) + "), the image (" +
                              std::to_string(source.Lines) + ", " + std::to_string(source.Columns) + ")");
    }
    const auto parameters = ParametersOf(kind, minimum, maximum, item, border, background);
    {
        py::gil_scoped_release released;
        TreatBands(source, target, parameters);
    }
    return out;
}

// The C++ kernel alone on a copy of the image, for the benchmark: per run,
// the seconds of ComputeTreatment over the whole matrix into a result
// allocated before, and of allocating a result and treating into it. The
// last result is copied into out.
std::tuple<std::vector<double>, std::vector<double>> KernelSeconds(const py::handle& image,
                                                                   const py::handle& out, int kind,
                                                                   std::int32_t minimum, std::int32_t maximum,
                                                                   std::int32_t item, std::int32_t border,
                                                                   std::int32_t background, int repeats) {
    const PixelView source = ViewOf(image, "image", false);
    const PixelView target = ViewOf(out, "out", true);
    if (source.Lines != target.Lines || source.Columns != target.Columns) {
        throw py::value_error("out and image differ in shape");
    }
    const auto parameters = ParametersOf(kind, minimum, maximum, item, border, background);
    std::vector<double> treatOnly;
    std::vector<double> withAllocation;
    py::gil_scoped_release released;
    const ByteMatrix matrix = CopyOf(source);
    ByteMatrix result = Allocate(source.Columns, source.Lines);
    using Clock = std::chrono::steady_clock;
    auto treat = [&](ByteMatrix& into) {
        if (auto treated = kavel::ComputeTreatment(matrix, parameters, into); !treated) {
            throw std::runtime_error(treated.error().message);
        }
    };
    for (int i = 0; i < repeats; ++i) {
        auto start = Clock::now();
        treat(result);
        treatOnly.push_back(std::chrono::duration<double>(Clock::now() - start).count());
        start = Clock::now();
        ByteMatrix fresh = Allocate(source.Columns, source.Lines);
        treat(fresh);
        withAllocation.push_back(std::chrono::duration<double>(Clock::now() - start).count());
        result = std::move(fresh);
    }
    for (int line = 0; line < result.Lines(); ++line) {
        CopyLineOut(result[line], target, line);
    }
    return {treatOnly, withAllocation};
}

// Calls add with the image's pixels, contiguous runs of whole lines where the
// array allows, otherwise a line at a time through a buffer; stops when add
// gives false.
template <class Add>
void ForEachRun(const PixelView& view, Add add) {
    if (view.Lines == 0 || view.Columns == 0) {
        return;
    }
    const auto columns = static_cast<std::size_t>(view.Columns);
    if (view.Contiguous()) {
        add(std::span<const std::uint8_t>(view.Data, columns * static_cast<std::size_t>(view.Lines)));
        return;
    }
    std::vector<std::uint8_t> buffer(view.ColumnStride == 1 ? 0 : columns);
    for (int line = 0; line < view.Lines; ++line) {
        const std::uint8_t* row = view.Line(line);
        if (view.ColumnStride != 1) {
            CopyLineIn(view, line, buffer.data());
            row = buffer.data();
        }
        if (!add(std::span<const std::uint8_t>(row, columns))) {
            return;
        }
    }
}

kavel::Histogram HistogramOfView(const PixelView& view) {
    kavel::HistogramCounter counter;
    ForEachRun(view, [&](std::span<const std::uint8_t> pixels) {
        counter.Add(pixels);
        return true;
    });
    return counter.Counts();
}

py::array_t<std::uint64_t> HistogramOf(const py::handle& image) {
    const PixelView view = ViewOf(image, "image", false);
    kavel::Histogram counts{};
    {
        py::gil_scoped_release released;
        counts = HistogramOfView(view);
    }
    py::array_t<std::uint64_t> result(256);
    auto cells = result.mutable_unchecked<1>();
    for (py::ssize_t i = 0; i < 256; ++i) {
        cells(i) = static_cast<std::uint64_t>(counts[static_cast<std::size_t>(i)]);
    }
    return result;
}

int TonesOf(const py::handle& image) {
    const PixelView view = ViewOf(image, "image", false);
    py::gil_scoped_release released;
    kavel::ToneSet set;
    ForEachRun(view, [&](std::span<const std::uint8_t> pixels) {
        set.Add(pixels);
        return !set.Complete();
    });
    return set.Count();
}

kavel::Histogram HistogramFromCounts(const py::array_t<std::uint64_t, py::array::forcecast>& counts) {
    if (counts.ndim() != 1 || counts.shape(0) != 256) {
        throw py::value_error("a histogram has 256 counts");
    }
    kavel::Histogram histogram{};
    auto cells = counts.unchecked<1>();
    for (py::ssize_t i = 0; i < 256; ++i) {
        if (cells(i) > static_cast<std::uint64_t>(INT64_MAX)) {
            throw py::value_error("a histogram count is larger than 2**63 - 1");
        }
        histogram[static_cast<std::size_t>(i)] = static_cast<std::int64_t>(cells(i));
    }
    return histogram;
}

std::string MethodList() {
    std::string names;
    for (const auto method : kavel::kAllThresholdMethods) {
        names += names.empty() ? "" : ", ";
        names += kavel::ThresholdMethodName(method);
    }
    return names;
}

kavel::ThresholdMethod MethodOf(const std::string& name) {
    const auto method = kavel::ThresholdMethodByName(name);
    if (!method) {
        throw py::value_error("'" + name + "' is not one of " + MethodList());
    }
    return *method;
}

// (name, threshold or None, reason or None) of one method.
using Suggestion = std::tuple<std::string, std::optional<int>, std::optional<std::string>>;

std::vector<Suggestion> Suggest(const py::array_t<std::uint64_t, py::array::forcecast>& counts,
                                const std::vector<std::string>& names) {
    const kavel::Histogram histogram = HistogramFromCounts(counts);
    std::vector<kavel::ThresholdMethod> methods;
    for (const auto& name : names) {
        methods.push_back(MethodOf(name));
    }
    std::vector<Suggestion> rows;
    py::gil_scoped_release released;
    for (const auto method : methods) {
        const auto t = kavel::ComputeThreshold(method, histogram);
        std::string name(kavel::ThresholdMethodName(method));
        if (t) {
            rows.emplace_back(std::move(name), *t, std::nullopt);
        } else {
            rows.emplace_back(std::move(name), std::nullopt, t.error().message);
        }
    }
    return rows;
}

py::dict Measure(const py::handle& image, std::int32_t minimum, std::int32_t maximum, int connectivity) {
    const PixelView view = ViewOf(image, "image", false);
    if (connectivity != 4 && connectivity != 8) {
        throw py::value_error("connectivity must be 4 or 8, not " + std::to_string(connectivity));
    }
    std::optional<kavel::Expected<kavel::Measurements>> measured;
    {
        py::gil_scoped_release released;
        const ByteMatrix matrix = CopyOf(view);
        measured.emplace(kavel::MeasureSelection(matrix, minimum, maximum,
                                                 static_cast<kavel::Connectivity>(connectivity)));
    }
    if (!*measured) {
        throw std::bad_alloc();
    }
    const kavel::Measurements& m = **measured;
    py::dict fields;
    fields["pixels"] = m.Pixels;
    fields["selected"] = m.Selected;
    fields["border"] = m.Border;
    fields["inside"] = m.Inside;
    fields["area_fraction"] = m.AreaFraction;
    fields["tones"] = m.DistinctTones;
    fields["mean"] = m.Mean;
    fields["median"] = m.Median;
    fields["mode"] = m.Mode;
    fields["std_dev"] = m.StdDev;
    fields["regions"] = m.Regions;
    return fields;
}

// The system error a core message ends with ("cannot write F: Permission
// denied"), so that Python raises its own subclass (PermissionError); EIO
// when none is named.
int ErrorNumberOf(const std::string& message) {
    for (int error = 1; error < 200; ++error) {
        const std::string reason = std::generic_category().message(error);
        if (message.size() > reason.size() &&
            message.compare(message.size() - reason.size(), reason.size(), reason) == 0) {
            return error;
        }
    }
    return EIO;
}

[[noreturn]] void RaiseOsError(int error, const std::string& message, const std::string& file) {
    py::object oserror = py::module_::import("builtins").attr("OSError");
    PyErr_SetObject(oserror.ptr(), py::make_tuple(error, message, file).ptr());
    throw py::error_already_set();
}

// The image and the warnings (without the program's name) reading it gave.
std::tuple<py::array, std::vector<std::string>> Read(const std::string& file,
                                                     std::optional<std::tuple<int, int>> size) {
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0) {
        const int error = errno;
        RaiseOsError(error, error == ENOENT ? "no such file" : std::generic_category().message(error), file);
    }
    if (S_ISDIR(info.st_mode)) {
        RaiseOsError(EISDIR, "is a folder, not an image", file);
    }
    std::optional<kavel::ImageSize> given;
    if (size) {
        const auto [lines, columns] = *size;
        if (lines < 0 || columns < 0) {
            throw py::value_error("size must be two numbers of 0 or more (lines, columns)");
        }
        given = kavel::ImageSize{lines, columns};
    }
    // What only the Qt conversion reads is refused with the command line's
    // --strict words, since the module carries no kavel-import helper; a raw
    // size mismatch stays a warning, as on the command line.
    const bool converted =
        kavel::PlanOpen(file, kavel::OpenAs::ByName, given).Kind == kavel::OpenKind::Convert;
    const auto input = kavel::cli::DescribeInput(file, given, /*strict=*/converted);
    if (input.Kind == kavel::cli::ImageFormat::Raw && !input.Size && !input.Descriptor) {
        RaiseOsError(
            ENOENT,
            "no descriptor " + kavel::DescriptorNameFor(file) + "; give the size with size=(lines, columns)",
            file);
    }
    std::string warnings;
    std::optional<kavel::Expected<ByteMatrix>> loaded;
    {
        py::gil_scoped_release released;
        loaded.emplace(kavel::cli::LoadImage(input, warnings));
    }
    if (!*loaded) {
        const std::string& reason = loaded->error().message;
        if (reason.rfind("cannot read ", 0) == 0) {
            RaiseOsError(ErrorNumberOf(reason), reason, file);
        }
        throw py::value_error(file + ": " + reason);
    }
    std::vector<std::string> lines;
    const std::string program = "kavel-cli: ";
    for (std::size_t at = 0; at < warnings.size();) {
        std::size_t end = warnings.find('\n', at);
        end = end == std::string::npos ? warnings.size() : end;
        std::string line = warnings.substr(at, end - at);
        if (line.rfind(program, 0) == 0) {
            line.erase(0, program.size());
        }
        lines.push_back(std::move(line));
        at = end + 1;
    }
    // The matrix becomes the array's memory: no copy of the pixels.
    auto* owned = new ByteMatrix(std::move(**loaded));
    py::capsule keeper(owned, [](void* matrix) { delete static_cast<ByteMatrix*>(matrix); });
    const py::ssize_t lines_count = owned->Lines();
    const py::ssize_t columns = owned->Columns();
    std::uint8_t* data = owned->Empty() ? nullptr : (*owned)[0];
    if (data == nullptr) {
        return {py::array_t<std::uint8_t>({lines_count, columns}), lines};
    }
    return {py::array_t<std::uint8_t>({lines_count, columns}, {columns, py::ssize_t{1}}, data, keeper),
            lines};
}

void Write(const std::string& file, const py::handle& image) {
    const PixelView view = ViewOf(image, "image", false);
    const auto format = kavel::cli::FormatOfName(file);
    if (!format) {
        throw py::value_error("'" + file + "' must end in .raw or .bmp");
    }
    kavel::Status saved;
    {
        py::gil_scoped_release released;
        const ByteMatrix matrix = CopyOf(view);
        saved = kavel::cli::SaveImage(file, matrix, *format);
    }
    if (!saved) {
        RaiseOsError(ErrorNumberOf(saved.error().message), saved.error().message, file);
    }
}

}  // namespace

PYBIND11_MODULE(_kavel, m) {
    m.doc() = "The KAVEL core's kernels; use the functions of the kavel package.";
    m.def("treat", &Treat, py::arg("image"), py::arg("out"), py::arg("kind"), py::arg("min"), py::arg("max"),
          py::arg("item"), py::arg("border"), py::arg("background"));
    m.def("kernel_seconds", &KernelSeconds, py::arg("image"), py::arg("out"), py::arg("kind"), py::arg("min"),
          py::arg("max"), py::arg("item"), py::arg("border"), py::arg("background"), py::arg("repeats"));
    m.def("histogram", &HistogramOf, py::arg("image"));
    m.def("tones", &TonesOf, py::arg("image"));
    m.def("suggest", &Suggest, py::arg("counts"), py::arg("methods"));
    m.def("measure", &Measure, py::arg("image"), py::arg("min"), py::arg("max"), py::arg("connectivity"));
    m.def("read", &Read, py::arg("path"), py::arg("size"));
    m.def("write", &Write, py::arg("path"), py::arg("image"));
    py::list names;
    for (const auto method : kavel::kAllThresholdMethods) {
        names.append(std::string(kavel::ThresholdMethodName(method)));
    }
    m.attr("METHODS") = py::tuple(names);
}
