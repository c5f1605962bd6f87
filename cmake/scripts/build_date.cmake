# Writes the header that gives the version resource its BuildDate, run by the
# build each time the library is built:
#   cmake -DOUTPUT=<header> -P build_date.cmake
#
# The date is in UTC and written as C's asctime() writes it, 24 characters:
# "Tue Dec  8 16:29:22 2026". When SOURCE_DATE_EPOCH is set, CMake takes the
# time from it instead of the clock, so that two builds of the same sources
# are byte-identical. The header is only rewritten when the date changes.
string(TIMESTAMP date "%a %b %d %H:%M:%S %Y" UTC)
# asctime pads the day of the month with a blank, not a zero.
string(REGEX REPLACE "^([A-Za-z]+ [A-Za-z]+) 0" "\\1  " date "${date}")
file(CONFIGURE OUTPUT "${OUTPUT}" CONTENT
  "#define JQEL_BUILD_DATE \"${date}\"\n" @ONLY)
