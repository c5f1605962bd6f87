# Install step: writes SHA256SUMS beside the installed files, one line per
# regular file as sha256sum writes it, so that `sha256sum -c SHA256SUMS`
# checks them where they were unpacked.
set(dir "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
file(GLOB names RELATIVE "${dir}" "${dir}/*")
list(SORT names)
set(sums "")
foreach(name IN LISTS names)
  if(name STREQUAL "SHA256SUMS" OR IS_SYMLINK "${dir}/${name}" OR IS_DIRECTORY "${dir}/${name}")
    continue()
  endif()
  file(SHA256 "${dir}/${name}" hash)
  string(APPEND sums "${hash}  ${name}\n")
endforeach()
file(WRITE "${dir}/SHA256SUMS" "${sums}")
message(STATUS "Installing: ${dir}/SHA256SUMS")
