#include "threed/errors.h"

namespace kv::threed {

uint32_t MessageIdForError(int code) {
  auto in = [code](int low, int high) { return code >= low && code <= high; };
  if (code == 0) return 0;
  if (in(-28483, -28482)) return msg::kOutOfMemory;
  if (in(-28474, -28471) || code == -28464 || in(-28455, -28450)) return msg::kUnknownFileType;
  if (code == -28469 || in(-28447, -28443) || code == -28441 || code == -28433) return msg::kAccessDenied;
  if (in(-28458, -28456) || code == -28449 || code == -28448 || in(-28440, -28434) || in(-28432, -28421))
    return msg::kErrorReadingFile;
  if (code == err::kFileNotFound) return msg::kFileNotFound;
  if (code == err::kLibraryTooOld) return msg::kLibraryTooOld;
  if (code == err::kLibraryMissing) return msg::kLibraryMissing;
  return msg::kInternalError;
}

}  // namespace kv::threed
