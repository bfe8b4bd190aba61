# The one test that fails when the shared test data is missing; the tests
# that read it skip with the same sentence. Input: SOURCE (the checkout).
if(NOT "$ENV{KV_SHARED_DIR}" STREQUAL "")
  set(candidates "$ENV{KV_SHARED_DIR}")
else()
  set(candidates "${SOURCE}/../shared" "${SOURCE}/../../shared")
endif()
foreach(dir ${candidates})
  if(IS_DIRECTORY "${dir}")
    return()
  endif()
endforeach()
message(FATAL_ERROR "the tests expect the shared/ folder beside the checkout, or its path in KV_SHARED_DIR "
                    "(looked for ${candidates})")
