# The fault matrix of a conversion run: every case runs the conversion in a child process, some
# as an unprivileged user, some under a file size limit; big inputs are made and removed on the fly.
fanjian_add_test(fault_tests
  faults/FaultSupport.cpp
  faults/FaultMatrix.cpp
  faults/ReadingFaults.cpp
  faults/WritingFaults.cpp
  faults/LinkFaults.cpp
  faults/SpecialFileFaults.cpp
  faults/ContentFaults.cpp
  faults/NameFaults.cpp
  faults/BigInputFaults.cpp
)
target_include_directories(fault_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/faults)

# No case may hang: each discovered test gets a deadline (the cases with big files a longer one).
# The cases with big files carry the label "big": the optimised build runs them, the sanitizer
# build (ctest -LE big), where they would take minutes each, leaves them out.
# The discovered tests only exist when CTest reads the file gtest_discover_tests writes, so the
# deadlines go into a file CTest reads after it.
set(_fanjian_fault_timeouts ${CMAKE_CURRENT_BINARY_DIR}/fault_tests_timeouts.cmake)
file(WRITE ${_fanjian_fault_timeouts} [=[
if(DEFINED fault_tests_TESTS)
  set_tests_properties(${fault_tests_TESTS} PROPERTIES TIMEOUT 300)
  foreach(_test IN LISTS fault_tests_TESTS)
    if(_test MATCHES "^Big/")
      set_tests_properties(${_test} PROPERTIES TIMEOUT 900 LABELS big)
    endif()
  endforeach()
endif()
]=])
set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${_fanjian_fault_timeouts})
