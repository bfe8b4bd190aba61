// The three process-wide locks of the compositing engine. Order: the stage
// lock before every engine lock, the dirty lock last of all; the picture lock
// is never held while the stage lock is taken.
#pragma once

#include <mutex>

namespace kv {

// Guards every sprite list, every sprite's list state and every update. Recursive.
std::recursive_mutex& StageLock();
// Guards the dirty-rectangle lists; taken after the stage lock when both are needed.
std::mutex& DirtyLock();
// Serialises picture loading, metafile playing and clipboard transfers of pictures.
std::mutex& PictureLock();

}  // namespace kv
