// Windows for scripts: virtual (off screen) and X11, through the runtime's window functions.
#include <pybind11/pybind11.h>

#include <vantor/window.h>

#include <string>

namespace py = pybind11;

namespace vantor::host {

// Titles become C strings: a NUL would cut one short, so it is refused.
std::string title_text(const std::string& title) {
    if (title.find('\0') != std::string::npos) throw py::value_error("a window title cannot hold a NUL character");
    return title;
}

void bind_windows(py::module_& m) {
    m.def("window_create_virtual", [](int w, int h, const std::string& title) {
        return VantorCreateVirtualWindow(w, h, title_text(title).c_str());
    });
    m.def("window_create_x11", [](int w, int h, const std::string& title, bool visible) {
        return VantorCreateX11Window(w, h, title_text(title).c_str(), visible);
    });
    m.def("window_attach", [](unsigned long xid) { return VantorAttachX11Window(xid); });
    m.def("window_destroy", [](HWND h) { return DestroyWindow(h) != FALSE; });
    m.def("window_is_window", [](HWND h) { return IsWindow(h) != FALSE; });
    m.def("window_kind", [](HWND h) { return VantorWindowKind(h); });
    m.def("window_xid", [](HWND h) { return VantorWindowXID(h); });
    m.def("window_client_size", [](HWND h) -> py::object {
        RECT r;
        if (!GetClientRect(h, &r)) return py::none();
        return py::make_tuple(r.right - r.left, r.bottom - r.top);
    });
    m.def("window_rect", [](HWND h) -> py::object {
        RECT r;
        if (!GetWindowRect(h, &r)) return py::none();
        return py::make_tuple(r.left, r.top, r.right, r.bottom);
    });
    m.def("window_title", [](HWND h) {
        char buf[1024];
        int n = GetWindowTextA(h, buf, sizeof buf);
        return std::string(buf, n > 0 ? static_cast<size_t>(n) : 0);
    });
    m.def("window_set_title", [](HWND h, const std::string& t) { return SetWindowTextA(h, title_text(t).c_str()) != FALSE; });
    m.def("window_resize", [](HWND h, int w, int hh) { return VantorResizeWindow(h, w, hh) != FALSE; });
    m.def("window_pixels", [](HWND h) -> py::object {
        RECT r;
        if (!GetClientRect(h, &r)) return py::none();
        int w = r.right - r.left, hh = r.bottom - r.top;
        std::string data(static_cast<size_t>(w) * static_cast<size_t>(hh) * 4, '\0');
        if (!VantorWindowReadPixelsSized(h, data.data(), w, hh, w * 4)) return py::none();
        return py::make_tuple(w, hh, py::bytes(data));
    });
    m.def("window_pump", [](HWND h) { return VantorPumpWindowEvents(h) != FALSE; });
    m.def("window_closed", [](HWND h) { return VantorWindowClosed(h) != FALSE; });
    m.def("active_window", [] { return GetActiveWindow(); });
}

}  // namespace vantor::host
