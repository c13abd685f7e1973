# The quality report of the shipped dictionary (outside the default build and the tests):
#   apt-get install gettext fortunes-zh manpages-zh opencc libopencc-data python3
#   cmake --build <build-dir> --target dictionary-quality
# The corpus (bench/make_corpus.sh) and the text sets written in Taiwan (bench/make_taiwan_text.sh,
# which fetches its packages with apt-get download) are built once under bench/out; delete them to
# build them again. The report holds the shipped file against one compiled without phrases.
add_executable(quality_report EXCLUDE_FROM_ALL QualityReport.cpp)
target_link_libraries(quality_report PRIVATE fanjian_conversion fanjian_table_text)
set_target_properties(quality_report PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})

set(FANJIAN_CORPUS_DIR ${CMAKE_CURRENT_SOURCE_DIR}/out/corpus)
set(FANJIAN_TAIWAN_TEXT_DIR ${CMAKE_CURRENT_SOURCE_DIR}/out/taiwan)
set(FANJIAN_BY_CHARACTER_FILE ${CMAKE_CURRENT_BINARY_DIR}/by-character/mervik.pcx)
add_custom_command(
  OUTPUT ${FANJIAN_CORPUS_DIR}/traditional.t2s.txt ${FANJIAN_CORPUS_DIR}/simplified.s2tw.txt
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/make_corpus.sh ${FANJIAN_CORPUS_DIR}
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/make_corpus.sh
  COMMENT "Building the Chinese corpus from Debian packages"
  VERBATIM)
add_custom_command(
  OUTPUT ${FANJIAN_TAIWAN_TEXT_DIR}/packages.txt
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/make_taiwan_text.sh ${FANJIAN_TAIWAN_TEXT_DIR}
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/make_taiwan_text.sh
  COMMENT "Building the text sets written in Taiwan from Debian packages"
  VERBATIM)
add_custom_command(
  OUTPUT ${FANJIAN_BY_CHARACTER_FILE}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/by-character
  COMMAND compile_dictionary ${PROJECT_SOURCE_DIR}/data/mervik.txt ${FANJIAN_BY_CHARACTER_FILE}
  DEPENDS compile_dictionary ${PROJECT_SOURCE_DIR}/data/mervik.txt
  COMMENT "Compiling mervik.txt alone, for the figures by character"
  VERBATIM)
add_custom_target(dictionary-quality
  COMMAND quality_report ${FANJIAN_PROGRAM_DIR} ${FANJIAN_BY_CHARACTER_FILE} ${FANJIAN_CORPUS_DIR}
          ${FANJIAN_TAIWAN_TEXT_DIR}
  DEPENDS quality_report mervik_pcx ${FANJIAN_BY_CHARACTER_FILE}
          ${FANJIAN_CORPUS_DIR}/traditional.t2s.txt ${FANJIAN_CORPUS_DIR}/simplified.s2tw.txt
          ${FANJIAN_TAIWAN_TEXT_DIR}/packages.txt
  USES_TERMINAL
  VERBATIM)
