# kv_net: the blocking socket layer, the HTTP/1.0 GET client and the multipart
# upload. POSIX sockets only; no Qt.
find_package(Threads REQUIRED)
kv_add_library(kv_net SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/hooks.cpp
  ${CMAKE_CURRENT_LIST_DIR}/progress_model.cpp
  ${CMAKE_CURRENT_LIST_DIR}/http.cpp
  ${CMAKE_CURRENT_LIST_DIR}/socket.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upload.cpp
  DEPS kv_url kv_platform Threads::Threads)
