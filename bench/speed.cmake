# The speed benchmark, bench/run_bench.sh: the input generator and the window's side of it
# (fanjian_headless, above, is the headless side). They print figures and are no tests.
add_executable(fanjian_bench_input make_input.cpp)
set_target_properties(fanjian_bench_input PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})

if(FANJIAN_BUILD_SHELL)
  find_package(Qt6 6.4 REQUIRED COMPONENTS Test)
  add_executable(fanjian_window_bench window_run.cpp)
  target_link_libraries(fanjian_window_bench PRIVATE fanjian_shell Qt6::Test)
  set_target_properties(fanjian_window_bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
endif()
