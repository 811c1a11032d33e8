find_package(OpenGL REQUIRED COMPONENTS OpenGL EGL)
target_link_libraries(frame_bench PRIVATE vantor vantor-headers OpenGL::OpenGL OpenGL::EGL)
target_compile_options(frame_bench PRIVATE -Wno-mismatched-new-delete)  # the counting operator new pairs with free
