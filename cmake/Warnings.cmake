# Warnings for everything we compile ourselves; the build stays free of them. The i686 preset,
# which tools/test and CI build, makes them errors (CMAKE_COMPILE_WARNING_AS_ERROR, handed on
# to the x64 part); `cmake --build` of a tree configured without it only shows them.
add_compile_options(-Wall -Wextra)
