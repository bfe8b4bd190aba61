# Tests of the hosting protocol, the requestor and the host's end.
if(TARGET kv_hosting)
  kv_add_test(hosting_test SOURCES
    host_protocol_test.cpp
    requestor_test.cpp
    DEPS kv_hosting)
endif()
