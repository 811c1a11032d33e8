# Shapes and sprites of the OpenGL back end against a bare OpenGL program.
find_package(OpenGL REQUIRED COMPONENTS OpenGL EGL)
target_link_libraries(${stem} PRIVATE vantor-render OpenGL::OpenGL OpenGL::EGL)
