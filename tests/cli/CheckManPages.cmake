# Formats each manual page as lintian does and fails on any warning from man or groff.
#   cmake -DMAN=/usr/bin/man -DPAGES="a.1;b.1" -P CheckManPages.cmake
foreach(page IN LISTS PAGES)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C.UTF-8 MANROFFSEQ= MANWIDTH=80
            ${MAN} --warnings -E UTF-8 -l -Tutf8 -Z ${page}
    OUTPUT_QUIET
    ERROR_VARIABLE warnings
    RESULT_VARIABLE result)
  if(NOT result EQUAL 0 OR NOT warnings STREQUAL "")
    message(FATAL_ERROR "${page}: man says (status ${result}):\n${warnings}")
  endif()
  message(STATUS "${page}: no warnings")
endforeach()
