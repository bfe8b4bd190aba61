# HttpGet of a large file from nginx on loopback, against curl fetching the
# same file in the same run.
kv_add_bench(bench_http_get SOURCES ${CMAKE_CURRENT_LIST_DIR}/http_bench.cpp DEPS kv_net)
# A 100 MB multipart upload to a loopback sink, against curl -F posting the
# same file in the same run.
kv_add_bench(bench_upload SOURCES ${CMAKE_CURRENT_LIST_DIR}/upload_bench.cpp DEPS kv_net)
