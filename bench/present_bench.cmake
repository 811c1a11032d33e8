find_package(OpenGL REQUIRED COMPONENTS OpenGL EGL GLX)
find_package(X11 REQUIRED)
target_link_libraries(present_bench PRIVATE vantor vantor-headers OpenGL::OpenGL OpenGL::EGL OpenGL::GLX X11::X11)
