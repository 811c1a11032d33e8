# The `.x` reader against assimp's importer.
find_library(ASSIMP_LIBRARY assimp REQUIRED)
target_link_libraries(xfile_bench PRIVATE vantor-xfile ${ASSIMP_LIBRARY})
