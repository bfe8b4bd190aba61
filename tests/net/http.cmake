add_library(kv_net_testing STATIC ${CMAKE_CURRENT_LIST_DIR}/loopback_server.cpp)
target_include_directories(kv_net_testing PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(kv_net_testing PUBLIC kv_net PRIVATE kv_warnings)

kv_add_test(net_http_test SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/http_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/socket_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upload_test.cpp
  DEPS kv_net kv_net_testing)
kv_add_test(net_http_server_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/http_server_test.cpp
  DEPS kv_net kv_net_testing)
if(TARGET kvtool)
  add_dependencies(net_http_server_test kvtool)
  target_compile_definitions(net_http_server_test PRIVATE KVTOOL_PATH="$<TARGET_FILE:kvtool>")
endif()
kv_add_test(net_progress_model_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/progress_model_test.cpp DEPS kv_net)
