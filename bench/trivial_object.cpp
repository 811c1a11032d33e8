// A C++ object with one float property and one method that does nothing, bound directly with
// pybind11 (no late binding), to compare the late-bound call rates against.
#include <pybind11/pybind11.h>

namespace {
struct Trivial {
    float red = 0.0f;
    void reset() {}
};
}  // namespace

PYBIND11_MODULE(_vantor_bench, m) {
    pybind11::class_<Trivial>(m, "Trivial")
        .def(pybind11::init<>())
        .def_readwrite("Red", &Trivial::red)
        .def("Reset", &Trivial::reset);
}
