# Warnings that every target of ours compiles with; they are errors, so that a
# warning cannot slip into a build unnoticed.
add_library(jqel_warnings INTERFACE)
target_compile_options(jqel_warnings INTERFACE -Wall -Wextra -Werror)
