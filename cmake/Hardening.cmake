# Debian's hardening flags (as dpkg-buildflags gives them to every package),
# where they apply to a shared library, for the Linux builds of what we ship:
# a stack canary in every function with an array or an address-taken local,
# glibc's checked variants of the string and memory functions where the
# compiler knows the buffer's size (only with optimisation), an ENDBR landing
# pad at every function for Control-flow Enforcement, format strings that
# must be literals, and relocations made read-only after load, all bound at
# load. (The IBT and shadow-stack properties themselves reach a library only
# when the C library's start files carry them too; Debian 12's do not.)
# tests/release/check_hardening.sh checks the released library for them.
# -Werror=format-security is the one warning that is an error in every build,
# presets or not: it is a hardening rule, as Debian builds every package.
#
# Not for Windows: MinGW's stack protector and _FORTIFY_SOURCE need libssp,
# a runtime DLL the shipped DLL must not import. Not _FORTIFY_SOURCE under a
# sanitizer: its checked functions bypass AddressSanitizer's interceptors.
add_library(jqel_hardening INTERFACE)
if(NOT WIN32)
  target_compile_options(jqel_hardening INTERFACE
    -fstack-protector-strong -Wformat -Werror=format-security)
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|i.86|x86)$")
    target_compile_options(jqel_hardening INTERFACE -fcf-protection)
  endif()
  if(NOT CMAKE_CXX_FLAGS MATCHES "-fsanitize=")
    target_compile_options(jqel_hardening INTERFACE
      "$<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>")
  endif()
  target_link_options(jqel_hardening INTERFACE -Wl,-z,relro -Wl,-z,now)
endif()
