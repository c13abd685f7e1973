# The speed benchmark, bench/run_bench.sh: the input generator and the window's side of it
# (fanjian-convert is the headless side; fanjian_headless, above, times the converter alone and
# the dictionary's Open). They print figures and are no tests.
add_executable(fanjian_bench_input make_input.cpp)
set_target_properties(fanjian_bench_input PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})

if(FANJIAN_BUILD_SHELL)
  find_package(Qt6 6.4 REQUIRED COMPONENTS Test)
  add_executable(fanjian_window_bench window_run.cpp)
  target_link_libraries(fanjian_window_bench PRIVATE fanjian_shell Qt6::Test)
  set_target_properties(fanjian_window_bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})

  # What the window's progress display costs a run, per character, against a view that shows
  # nothing and against a label update with an event pass for every character:
  #   xvfb-run <build>/bench/progress_cost [megabytes]
  if(TARGET fanjian_test_support)
    add_executable(progress_cost progress_cost.cpp)
    target_link_libraries(progress_cost PRIVATE fanjian_shell fanjian_test_support)
    set_target_properties(progress_cost PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  endif()
endif()
