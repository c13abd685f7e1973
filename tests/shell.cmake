# Qt Test suites for the windows, run without a display.
find_package(Qt6 6.4 REQUIRED COMPONENTS Test)

# fanjian_add_qt_test(name source...): a Qt Test executable over the windows, registered with CTest.
function(fanjian_add_qt_test name)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE fanjian_shell fanjian_test_support Qt6::Test)
  target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/shell)
  set_target_properties(${name} PROPERTIES AUTOMOC ON RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 120)
endfunction()

fanjian_add_qt_test(form1_tests shell/Form1Test.cpp)
fanjian_add_qt_test(form2_tests shell/Form2Test.cpp)

fanjian_add_qt_test(program_tests shell/ProgramTest.cpp)

# The texts that must fit, again at the desktop scale factors of HiDPI screens.
foreach(scale 1.5 2)
  add_test(NAME form1_tests_scale_${scale} COMMAND form1_tests textsFitAtEveryFontSize)
  set_tests_properties(form1_tests_scale_${scale} PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QT_SCALE_FACTOR=${scale}" TIMEOUT 120)
endforeach()
