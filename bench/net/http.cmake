# HttpGet of a large file from nginx on loopback, against curl fetching the
# same file in the same run.
kv_add_bench(bench_http_get SOURCES ${CMAKE_CURRENT_LIST_DIR}/http_bench.cpp DEPS kv_net)
