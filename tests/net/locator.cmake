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
