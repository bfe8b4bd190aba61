# Decode throughput of the compilation methods against zlib, and extraction
# of a 1,000-entry compilation.
if(TARGET kv_locator)
  find_package(ZLIB REQUIRED)
  kv_add_bench(locator_bench SOURCES locator_bench.cpp DEPS kv_locator ZLIB::ZLIB)
endif()
