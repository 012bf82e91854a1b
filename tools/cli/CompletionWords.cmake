# Writes kelvane-cli's bash completion: the template with the operation table's words,
# as the built program lists them.
#   cmake -DPROGRAM=kelvane-cli -DTEMPLATE=in -DOUTPUT=out -P CompletionWords.cmake
execute_process(COMMAND ${PROGRAM} --list-words OUTPUT_VARIABLE words RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR words STREQUAL "")
  message(FATAL_ERROR "${PROGRAM} --list-words: ${status}")
endif()
string(STRIP "${words}" words)
string(REPLACE "\n" "\n    " KELVANE_CLI_WORDS "${words}")
configure_file(${TEMPLATE} ${OUTPUT} @ONLY)
