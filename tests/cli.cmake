# fanjian-convert: its pieces in this process, and the tool itself as a child process, held to the
# run the window starts (and to the real window, when the windows are built).
fanjian_add_test(cli_tests
  cli/CliTest.cpp
  cli/ToolProcess.cpp
)
target_include_directories(cli_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/cli)
target_link_libraries(cli_tests PRIVATE fanjian_cli)
target_compile_definitions(cli_tests PRIVATE
  FANJIAN_CONVERT="$<TARGET_FILE:fanjian-convert>"
  FANJIAN_VERSION="${PROJECT_VERSION}")
add_dependencies(cli_tests fanjian-convert mervik_pcx)

if(FANJIAN_BUILD_SHELL)
  # The real main window converting a folder, for comparisons (also by scripts/package-test).
  find_package(Qt6 6.4 REQUIRED COMPONENTS Test)
  add_executable(fanjian_window_convert cli/WindowConvert.cpp)
  target_link_libraries(fanjian_window_convert PRIVATE fanjian_shell Qt6::Test)
  set_target_properties(fanjian_window_convert PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  target_compile_definitions(cli_tests PRIVATE FANJIAN_WINDOW_CONVERT="$<TARGET_FILE:fanjian_window_convert>")
  add_dependencies(cli_tests fanjian_window_convert)
endif()

# The manual pages as Debian's tools read them: groff may not warn about anything.
find_program(FANJIAN_MAN man)
if(FANJIAN_MAN)
  add_test(NAME man_pages COMMAND ${CMAKE_COMMAND}
    -DMAN=${FANJIAN_MAN} "-DPAGES=${FANJIAN_MAN_PAGE_FILES}"
    -P ${CMAKE_CURRENT_SOURCE_DIR}/cli/CheckManPages.cmake)
endif()
