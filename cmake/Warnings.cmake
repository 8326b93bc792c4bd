# Warnings for everything we compile ourselves; the build stays free of them.
add_compile_options(-Wall -Wextra)
