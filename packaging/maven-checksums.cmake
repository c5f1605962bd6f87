# Install step: beside each file of the Maven repository folder, its .md5
# and .sha1 files, the checksums that Maven checks on download and that a
# repository manager expects: the hexadecimal digest alone, as Maven writes
# them.
set(dir "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/maven")
file(GLOB_RECURSE names "${dir}/*")
foreach(name IN LISTS names)
  if(name MATCHES "\\.(md5|sha1)$")
    continue()
  endif()
  foreach(algorithm MD5 SHA1)
    file(${algorithm} "${name}" hash)
    string(TOLOWER ${algorithm} extension)
    file(WRITE "${name}.${extension}" "${hash}")
  endforeach()
endforeach()
