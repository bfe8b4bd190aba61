// Telling a metafile by its content or its name, in the picture library
// itself (no Qt): the codecs and the clipboard use it without the players.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace kv::imaging {

enum class MetafileType { kNone, kWmf, kEmf };

// From the content (the picture library itself, no Qt needed): the placeable key, a WMF header or an EMF header record.
MetafileType DetectMetafile(std::span<const uint8_t> bytes);
// From the name's last four characters (".WMF", ".EMF", any case).
MetafileType MetafileTypeFromName(std::string_view name);

}  // namespace kv::imaging
