// A media player control placed on the stage: its pictures go into an
// object's sprite and are composed with the stage, its sound is a voice of
// the run's mixer, its names resolve through the run's locator. Used by the
// media player object and by the ActiveX object hosting the same control.
#pragma once

#include <functional>

#include "media/media_player_control.h"

namespace kv {

class CVisibleInsert;
class Stage;

// `redraw` puts the sprite's new picture on the stage (under the stage
// lock); `wake` is told after every play, pause, resume and stop.
MediaPlayerSite StageMediaSite(CVisibleInsert& object, Stage& stage, int width, int height, bool showPicture,
                               std::function<void()> redraw, std::function<void()> wake);

// Registers the composited controls this library provides with the control
// registry (inserts/control_registry.h).
void RegisterMediaControls();

}  // namespace kv
