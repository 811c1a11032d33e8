# Texture loading: the engine's Textures.LoadFile on the OpenGL device against stb_image alone.
find_package(OpenGL REQUIRED COMPONENTS OpenGL EGL)
target_link_libraries(texture_bench PRIVATE vantor vantor-headers vantor-render OpenGL::OpenGL OpenGL::EGL)
