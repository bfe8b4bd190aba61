// Reader of 3D metafiles (.3dmf), binary and text forms: containers, groups,
// references and tables of contents, geometries, attribute sets and
// transforms, flattened into a Model in model space. Used by the 3D kind.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>

#include "threed/model.h"

namespace kv::threed {

// Bounds against hostile files: a file that passes them reads into at most a
// few hundred megabytes; past them the read fails with a clear error.
struct ReadLimits {
  size_t maxTriangles = 1'000'000;  // after tessellation, the whole model
  size_t maxPoints = 4'000'000;     // one geometry's vertices
  int maxDepth = 256;               // containers, groups and references
};

// Throws ModelError: kUnknownFileType for what is no metafile or holds an
// object this reader refuses (NURB patches and curves), kReadFailed for a
// malformed, truncated or self-referencing file, kOutOfMemory past `limits`.
Model ReadMetafile(std::span<const uint8_t> bytes, const ReadLimits& limits = {});

// The same from a file: kFileNotFound when it does not exist, kAccessDenied
// when it cannot be opened.
Model ReadMetafileFile(const std::filesystem::path& path, const ReadLimits& limits = {});

}  // namespace kv::threed
