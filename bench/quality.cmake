# The quality report of the shipped dictionary (outside the default build and the tests):
#   apt-get install gettext fortunes-zh manpages-zh opencc libopencc-data
#   cmake --build <build-dir> --target dictionary-quality
# The corpus is built once under bench/out/corpus by make_corpus.sh; delete it to rebuild it.
add_executable(quality_report EXCLUDE_FROM_ALL QualityReport.cpp)
target_link_libraries(quality_report PRIVATE fanjian_conversion fanjian_table_text)
set_target_properties(quality_report PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})

set(FANJIAN_CORPUS_DIR ${CMAKE_CURRENT_SOURCE_DIR}/out/corpus)
add_custom_command(
  OUTPUT ${FANJIAN_CORPUS_DIR}/traditional.t2s.txt ${FANJIAN_CORPUS_DIR}/simplified.s2tw.txt
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/make_corpus.sh ${FANJIAN_CORPUS_DIR}
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/make_corpus.sh
  COMMENT "Building the Chinese corpus from Debian packages"
  VERBATIM)
add_custom_target(dictionary-quality
  COMMAND quality_report ${FANJIAN_PROGRAM_DIR} ${FANJIAN_CORPUS_DIR}
  DEPENDS quality_report mervik_pcx
          ${FANJIAN_CORPUS_DIR}/traditional.t2s.txt ${FANJIAN_CORPUS_DIR}/simplified.s2tw.txt
  USES_TERMINAL
  VERBATIM)
