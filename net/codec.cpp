#include "net/codec.h"

namespace kv {

const char* CodecStatusText(CodecStatus status) {
  switch (status) {
    case CodecStatus::Ok: return "ok";
    case CodecStatus::Truncated: return "truncated stream";
    case CodecStatus::TooLarge: return "decoded size over the limit";
    case CodecStatus::Corrupt: return "corrupt stream";
  }
  return "unknown";
}

}  // namespace kv
