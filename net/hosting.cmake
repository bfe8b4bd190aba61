# kv_hosting: the hosting protocol (framing and messages), the hosted
# player's requestor and the host's end used by tools/kvhost and the tests.
kv_add_library(kv_hosting SOURCES
  host_connection.cpp
  host_protocol.cpp
  requestor.cpp
  DEPS kv_locator kv_platform)
if(KV_FUZZ)
  target_compile_options(kv_hosting PRIVATE -fsanitize=fuzzer-no-link)
endif()
