# kv_locator: the resource locator, compilation archives with their three
# decoders (and encoders for kvtool and the tests), the per-user temporary
# folder and the stand-alone URL download.
find_package(CURL REQUIRED)
kv_add_library(kv_locator SOURCES
  codec.cpp
  kvg_archive.cpp
  locator.cpp
  lz_match.cpp
  lzhuf.cpp
  lzss.cpp
  predictor.cpp
  remote_history.cpp
  temp_folder.cpp
  url_fetch.cpp
  DEPS kv_url kv_platform
  PRIVATE_DEPS CURL::libcurl)
# The fuzz targets need coverage of the library's own code, not only of
# their entry points.
if(KV_FUZZ)
  target_compile_options(kv_locator PRIVATE -fsanitize=fuzzer-no-link)
endif()
