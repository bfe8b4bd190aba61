// The process-wide lock of the picture layer. Each compositor has its own
// stage lock (Compositor::Lock, taken before every engine lock) and dirty
// lock (taken last of all); the picture lock is never held while a stage
// lock is taken.
#pragma once

#include <mutex>

namespace kv {

// Serialises picture loading, metafile playing and clipboard transfers of
// pictures: the codecs and the metafile player share process-wide state.
std::mutex& PictureLock();

}  // namespace kv
