# One fixture's round trip: dump the archive packed at build time, pack the
# dump, and compare bytes; the dump must print exactly the fixture's values.
# Inputs: KVTOOL, FIXTURE (the JSON), PACKED (its archive), WORK (a scratch dir).
if(NOT EXISTS "${PACKED}")
  message(FATAL_ERROR "${PACKED} was not packed at build time")
endif()
file(MAKE_DIRECTORY "${WORK}")

execute_process(COMMAND "${KVTOOL}" dump "${PACKED}" OUTPUT_FILE "${WORK}/dump.json" RESULT_VARIABLE rc
                ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "kvtool dump failed (${rc}): ${err}")
endif()
execute_process(COMMAND "${KVTOOL}" pack "${WORK}/dump.json" -o "${WORK}/repacked.kvs" RESULT_VARIABLE rc
                ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "kvtool pack of the dump failed (${rc}): ${err}")
endif()
execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files "${PACKED}" "${WORK}/repacked.kvs" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "re-packed bytes differ from ${PACKED}")
endif()

file(READ "${FIXTURE}" source)
file(READ "${WORK}/dump.json" dumped)
# The dump also prints what the document derives from its fields; the fixtures
# hold only what is stored.
string(JSON lead ERROR_VARIABLE no_lead GET "${dumped}" positiveLead)
if(no_lead)
  message(FATAL_ERROR "the dump of ${PACKED} does not print positiveLead")
endif()
string(JSON dumped REMOVE "${dumped}" positiveLead)
string(JSON same EQUAL "${source}" "${dumped}")
if(NOT same)
  message(FATAL_ERROR "the dump of ${PACKED} does not print the values of ${FIXTURE}")
endif()
