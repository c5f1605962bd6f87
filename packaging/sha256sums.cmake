# Install step: writes SHA256SUMS beside the installed files, one line per
# regular file, in the folders below too, as sha256sum writes it, so that
# `sha256sum -c SHA256SUMS` checks them where they were unpacked. Its lines
# end in JQEL_SUMS_NEWLINE (CRLF in the Windows archive).
set(dir "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
file(GLOB_RECURSE names RELATIVE "${dir}" "${dir}/*")
list(SORT names)
set(sums "")
foreach(name IN LISTS names)
  if(name STREQUAL "SHA256SUMS" OR IS_SYMLINK "${dir}/${name}" OR IS_DIRECTORY "${dir}/${name}")
    continue()
  endif()
  file(SHA256 "${dir}/${name}" hash)
  string(APPEND sums "${hash}  ${name}${JQEL_SUMS_NEWLINE}")
endforeach()
file(WRITE "${dir}/SHA256SUMS" "${sums}")
message(STATUS "Installing: ${dir}/SHA256SUMS")
