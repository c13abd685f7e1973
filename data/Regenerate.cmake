# Run by the regenerate-dictionary target (cmake -P): dumps OpenCC's compiled character tables as
# and phrase tables as text, unpacks Unihan's variants and runs the generator, which rewrites
# data/mervik.txt and data/phrases.txt (the latter also from libchewing's phrases).
# Inputs: GENERATOR, OPENCC_DATA_DIR, UNIHAN_VARIANTS, OVERRIDES, OUTPUT, CHEWING_DATA_DIR,
# PHRASE_OUTPUT, WORK_DIR.

find_program(OPENCC_DICT opencc_dict)
find_program(BZIP2 bzip2)
if(NOT OPENCC_DICT OR NOT BZIP2)
  message(FATAL_ERROR "Regenerating the dictionary needs opencc_dict and bzip2: "
                      "apt-get install opencc libopencc-data unicode-data bzip2 libchewing3-data")
endif()
foreach(input ${OPENCC_DATA_DIR}/TSCharacters.ocd2 ${OPENCC_DATA_DIR}/STCharacters.ocd2
              ${OPENCC_DATA_DIR}/TWVariants.ocd2 ${OPENCC_DATA_DIR}/STPhrases.ocd2
              ${OPENCC_DATA_DIR}/TSPhrases.ocd2 ${UNIHAN_VARIANTS}
              ${CHEWING_DATA_DIR}/dictionary.dat ${CHEWING_DATA_DIR}/index_tree.dat)
  if(NOT EXISTS ${input})
    message(FATAL_ERROR "${input} is missing: apt-get install libopencc-data unicode-data libchewing3-data")
  endif()
endforeach()

file(MAKE_DIRECTORY ${WORK_DIR})
foreach(table TSCharacters STCharacters TWVariants STPhrases TSPhrases)
  execute_process(
    COMMAND ${OPENCC_DICT} -i ${OPENCC_DATA_DIR}/${table}.ocd2 -o ${WORK_DIR}/${table}.txt -f ocd2 -t text
    COMMAND_ERROR_IS_FATAL ANY)
endforeach()
execute_process(COMMAND ${BZIP2} -dc ${UNIHAN_VARIANTS}
  OUTPUT_FILE ${WORK_DIR}/Unihan_Variants.txt
  COMMAND_ERROR_IS_FATAL ANY)

# The versions of the sources go into the header; without dpkg they are left out.
set(versions)
find_program(DPKG_QUERY dpkg-query)
foreach(pair "opencc-version;libopencc-data" "unihan-version;unicode-data" "glibc-version;libc6"
             "chewing-version;libchewing3-data")
  list(GET pair 0 option)
  list(GET pair 1 package)
  set(version "")
  if(DPKG_QUERY)
    execute_process(COMMAND ${DPKG_QUERY} -W -f=\${Version} ${package}
      OUTPUT_VARIABLE version ERROR_QUIET RESULT_VARIABLE ignored)
  endif()
  list(APPEND versions --${option} "${version}")
endforeach()

execute_process(
  COMMAND ${GENERATOR}
    --ts ${WORK_DIR}/TSCharacters.txt --st ${WORK_DIR}/STCharacters.txt --tw ${WORK_DIR}/TWVariants.txt
    --unihan ${WORK_DIR}/Unihan_Variants.txt --overrides ${OVERRIDES} --out ${OUTPUT}
    --st-phrases ${WORK_DIR}/STPhrases.txt --ts-phrases ${WORK_DIR}/TSPhrases.txt
    --chewing-dictionary ${CHEWING_DATA_DIR}/dictionary.dat --chewing-tree ${CHEWING_DATA_DIR}/index_tree.dat
    --phrases-out ${PHRASE_OUTPUT}
    ${versions}
  COMMAND_ERROR_IS_FATAL ANY)
