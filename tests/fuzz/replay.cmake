# The fuzz targets over LineConverter (tests/fuzz/).
#
# Every build replays each target's seed corpus (corpus/<target>/) and its findings
# (findings/<target>/, inputs that once failed) through the target's checks as an ordinary test,
# with whatever compiler the build uses. A build configured with clang and -DFANJIAN_FUZZ=ON also
# builds the targets for libFuzzer, as fuzz_<target>; scripts/fuzz does that in build-fuzz and runs
# them for a bounded time.
option(FANJIAN_FUZZ "Build the libFuzzer targets over the line converter (needs clang)" OFF)

set(FANJIAN_FUZZ_DIR ${CMAKE_CURRENT_LIST_DIR})
# target name, then its source
set(FANJIAN_FUZZ_TARGETS
  convert_line ConvertLineTarget.cpp
  convert_lines ConvertLinesTarget.cpp
)

# The replay tests, on the core as every other test builds it.
add_library(fanjian_fuzz_harness STATIC ${FANJIAN_FUZZ_DIR}/FuzzHarness.cpp)
target_include_directories(fanjian_fuzz_harness PUBLIC ${FANJIAN_FUZZ_DIR})
target_link_libraries(fanjian_fuzz_harness PUBLIC fanjian_conversion fanjian_test_support)

set(_fuzz_list ${FANJIAN_FUZZ_TARGETS})
while(_fuzz_list)
  list(POP_FRONT _fuzz_list _fuzz_name _fuzz_source)
  add_executable(fuzz_replay_${_fuzz_name} ${FANJIAN_FUZZ_DIR}/ReplayMain.cpp ${FANJIAN_FUZZ_DIR}/${_fuzz_source})
  target_link_libraries(fuzz_replay_${_fuzz_name} PRIVATE fanjian_fuzz_harness)
  set_target_properties(fuzz_replay_${_fuzz_name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  add_test(NAME fuzz_replay_${_fuzz_name}
    COMMAND fuzz_replay_${_fuzz_name}
      ${FANJIAN_FUZZ_DIR}/corpus/${_fuzz_name} ${FANJIAN_FUZZ_DIR}/findings/${_fuzz_name})
endwhile()

if(FANJIAN_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "FANJIAN_FUZZ needs clang: configure with CC=clang CXX=clang++")
  endif()
  set(_fuzz_sanitize -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)

  # The core once more, from the core libraries' own source lists, with coverage for libFuzzer and
  # both sanitizers. The harness gets the sanitizers only: the fuzzer steers by the converter's
  # coverage.
  set(_fuzz_core_sources)
  foreach(_fuzz_library fanjian_system fanjian_dictionary fanjian_conversion)
    get_target_property(_fuzz_dir ${_fuzz_library} SOURCE_DIR)
    get_target_property(_fuzz_sources ${_fuzz_library} SOURCES)
    list(TRANSFORM _fuzz_sources PREPEND ${_fuzz_dir}/)
    list(APPEND _fuzz_core_sources ${_fuzz_sources})
  endforeach()
  add_library(fanjian_fuzz_core STATIC ${_fuzz_core_sources})
  target_include_directories(fanjian_fuzz_core PUBLIC ${_fuzz_dir}
    $<TARGET_PROPERTY:fanjian_dictionary,INTERFACE_INCLUDE_DIRECTORIES>)
  target_link_libraries(fanjian_fuzz_core PUBLIC PkgConfig::SQLITE3)
  target_compile_options(fanjian_fuzz_core PRIVATE ${_fuzz_sanitize} -fsanitize=fuzzer-no-link)

  add_library(fanjian_fuzz_target_harness STATIC ${FANJIAN_FUZZ_DIR}/FuzzHarness.cpp)
  target_include_directories(fanjian_fuzz_target_harness PUBLIC ${FANJIAN_FUZZ_DIR})
  target_link_libraries(fanjian_fuzz_target_harness PUBLIC fanjian_fuzz_core fanjian_test_support)
  target_compile_options(fanjian_fuzz_target_harness PUBLIC ${_fuzz_sanitize})

  set(_fuzz_list ${FANJIAN_FUZZ_TARGETS})
  while(_fuzz_list)
    list(POP_FRONT _fuzz_list _fuzz_name _fuzz_source)
    add_executable(fuzz_${_fuzz_name} ${FANJIAN_FUZZ_DIR}/${_fuzz_source})
    target_link_libraries(fuzz_${_fuzz_name} PRIVATE fanjian_fuzz_target_harness)
    target_link_options(fuzz_${_fuzz_name} PRIVATE -fsanitize=fuzzer,address,undefined)
    set_target_properties(fuzz_${_fuzz_name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/fuzz)
  endwhile()
endif()
