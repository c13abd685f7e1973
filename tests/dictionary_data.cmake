# The shipped dictionary: the generator's rules, the table text's parser, the compile tool, and
# the whole mervik.pcx that the build writes beside the program.
fanjian_add_test(shipped_dictionary_tests
  ShippedDictionaryTest.cpp
  TableGeneratorTest.cpp
  TableTextTest.cpp
)
target_link_libraries(shipped_dictionary_tests PRIVATE fanjian_table_generator)
target_compile_definitions(shipped_dictionary_tests PRIVATE
  FANJIAN_COMPILE_DICTIONARY="$<TARGET_FILE:compile_dictionary>")
add_dependencies(shipped_dictionary_tests mervik_pcx compile_dictionary)
