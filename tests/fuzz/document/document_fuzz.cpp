// Feeds arbitrary bytes to the document loader with every insert kind
// registered. A file that loads must also write back deterministically: its
// stored bytes load again, and the reloaded document and its JSON print both
// store the same bytes.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "ext/register.h"
#include "persist/archive.h"
#include "persist/document.h"
#include "persist/json_fields.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool registered = (kv::RegisterPersistClasses(), kv::RegisterInsertClasses(), true);
  (void)registered;
  std::shared_ptr<kv::CStgDoc> doc;
  try {
    doc = kv::LoadDocument(std::span(data, size), "fuzz.kvs");
  } catch (const kv::CArchiveException&) {
    return 0;  // refused input: the expected outcome for most bytes
  }
  const std::vector<uint8_t> stored = doc->Store();
  auto again = kv::LoadDocument(stored, "fuzz.kvs");
  Require(again->Store() == stored);
  kv::CStgDoc packed;
  kv::FillFromJson(packed, kv::ObjectToJson(*again));
  Require(packed.Store() == stored);
  return 0;
}
