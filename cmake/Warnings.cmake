# Warnings that every target of ours compiles with. The development presets
# make them errors (CMAKE_COMPILE_WARNING_AS_ERROR), so that none slips in
# unnoticed; a build that no preset configures, with a compiler newer than
# ours, warns and goes on.
add_library(jqel_warnings INTERFACE)
target_compile_options(jqel_warnings INTERFACE -Wall -Wextra)
