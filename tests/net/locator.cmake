# Tests of the resource locator, compilation archives and their decoders.
if(TARGET kv_locator)
  kv_add_test(locator_test SOURCES
    codec_test.cpp
    kvg_archive_test.cpp
    locator_test.cpp
    remote_history_test.cpp
    temp_folder_test.cpp
    url_fetch_test.cpp
    DEPS kv_locator)
endif()
if(TARGET kvtool AND TARGET kv_locator)
  add_test(NAME kvtool_kvg COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/kvtool_kvg_test.sh $<TARGET_FILE:kvtool>)
  set_tests_properties(kvtool_kvg PROPERTIES LABELS unit)
endif()
