// Feeds arbitrary bytes to the document loader: every failure must be an
// archive exception, never a crash, a leak or undefined behaviour.
#include <cstddef>
#include <cstdint>

#include "persist/document.h"
#ifdef KV_HAVE_INSERTS
#include "ext/register.h"
#endif

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool registered = [] {
    kv::RegisterPersistClasses();
#ifdef KV_HAVE_INSERTS
    kv::RegisterInsertClasses();
#endif
    return true;
  }();
  (void)registered;
  try {
    auto doc = kv::LoadDocument(std::span(data, size), "fuzz.kvp");
    // What loaded must store again.
    (void)doc->Store();
  } catch (const kv::CArchiveException&) {
  }
  return 0;
}
