// Builtins for the sound of an object: a sound insert itself, or the sound a
// visible object carries. Volume, balance and rate reach a playing sound at
// once (the sound insert hands them to its playing copy); start and end
// times go as requests to the sound's own thread; the switch for buffered
// sound acts on the run's buffer manager.
#include "engine/commands.h"
#include "engine/media_service.h"
#include "engine/runner.h"
#include "ext/orlan_builtins.h"
#include "media/audio.h"
#include "media/media_context.h"

namespace kv {

namespace {

// The sound the name stands for; null when it names none.
std::shared_ptr<CInsert> SoundArg(BuiltinCall& c) {
  auto o = c.ObjectArg(1);
  if (!o || As<CAudio>(o.get())) return o;
  MediaService* media = c.runner.Media();
  return media ? media->AttachedSound(*o) : nullptr;
}

template <uint16_t Code>
void SetTime(BuiltinCall& c) {
  if (auto sound = SoundArg(c)) PostForObject(c, Code, sound, c.args.GetDouble(2));
}

template <double (CInsert::*Get)() const>
void GetTime(BuiltinCall& c) {
  auto sound = SoundArg(c);
  c.args.SetDouble(0, sound ? (sound.get()->*Get)() : kUnavailableDouble);
}

template <void (CInsert::*Set)(int)>
void SetLevel(BuiltinCall& c) {
  if (auto sound = SoundArg(c)) (sound.get()->*Set)(c.args.GetInteger(2));
}

template <int (CInsert::*Get)() const>
void GetLevel(BuiltinCall& c) {
  auto sound = SoundArg(c);
  c.args.SetInteger(0, sound ? static_cast<int16_t>((sound.get()->*Get)()) : kUnavailable16);
}

void GetFrequency(BuiltinCall& c) {
  auto sound = SoundArg(c);
  c.args.SetLong(0, sound ? sound->GetFrequencyHz() : kUnavailable32);
}

// A sound insert stops as any object does; a visible object's carried sound
// stops through the object (command 74).
void StopSound(BuiltinCall& c) {
  if (!c.runner.playerRunning || c.runner.shuttingDown) return;
  auto o = c.ObjectArg(1);
  if (!o) return;
  PostForObject(c, As<CAudio>(o.get()) ? command::kStopObject : command::kStopSoundInObject, o);
}

template <bool On>
void SwitchBufferedSound(BuiltinCall& c) {
  MediaContext* media = c.runner.Context().media;
  if (!media) return;
  if (On)
    media->buffers().SwitchOn();
  else
    media->buffers().SwitchOff();
}

}  // namespace

void InstallMediaBuiltins(BuiltinTable& table) {
  table.Set(56, SetTime<command::kSetStartTime>);
  table.Set(57, SetTime<command::kSetEndTime>);
  table.Set(69, GetTime<&CInsert::GetStartTime>);
  table.Set(70, GetTime<&CInsert::GetEndTime>);
  table.Set(58, SetLevel<&CInsert::SetVolumePercent>);
  table.Set(59, SetLevel<&CInsert::SetPanStep>);
  table.Set(86, SetLevel<&CInsert::SetFrequencyHz>);
  table.Set(60, SetLevel<&CInsert::ShiftFrequencyPercent>);
  table.Set(71, GetLevel<&CInsert::GetVolumePercent>);
  table.Set(72, GetLevel<&CInsert::GetPanStep>);
  table.Set(73, GetFrequency);
  table.Set(148, StopSound);
  table.Set(91, SwitchBufferedSound<false>);
  table.Set(92, SwitchBufferedSound<true>);
}

}  // namespace kv
