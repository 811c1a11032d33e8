# Mesh objects against a bare OpenGL program drawing the same triangles; `.x` load times.
find_package(OpenGL REQUIRED COMPONENTS OpenGL EGL)
target_link_libraries(mesh_bench PRIVATE vantor vantor-headers OpenGL::OpenGL OpenGL::EGL)
target_compile_definitions(mesh_bench PRIVATE VANTOR_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
