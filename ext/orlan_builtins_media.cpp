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

// The object that answers a sound property for the name: the object itself
// when it keeps the property (a sound insert), else the sound it carries;
// null when neither does.
std::shared_ptr<CInsert> SoundFor(BuiltinCall& c, Property id) {
  auto o = c.ObjectArg(1);
  if (!o || o->GetProperty(id)) return o;
  MediaService* media = c.runner.Media();
  return media ? media->AttachedSound(*o) : nullptr;
}

// The property's number on the object or its sound; none when neither keeps it.
std::optional<double> SoundNumber(BuiltinCall& c, Property id) {
  auto sound = SoundFor(c, id);
  const PropertyAnswer answer = sound ? sound->GetProperty(id) : std::nullopt;
  const double* number = AnswerAs<double>(answer);
  return number ? std::optional<double>(*number) : std::nullopt;
}

template <uint16_t Code, Property P>
void SetTime(BuiltinCall& c) {
  if (auto sound = SoundFor(c, P)) PostForObject(c, Code, sound, c.args.GetDouble(2));
}

template <Property P>
void GetTime(BuiltinCall& c) {
  c.args.SetDouble(0, SoundNumber(c, P).value_or(kUnavailableDouble));
}

// Set on the object when it keeps the property, else on the sound it carries.
template <Property P>
void SetLevel(BuiltinCall& c) {
  auto o = c.ObjectArg(1);
  if (!o) return;
  const PropertyValue level = static_cast<double>(c.args.GetInteger(2));
  if (o->SetProperty(c.runner.Context(), P, level)) return;
  MediaService* media = c.runner.Media();
  if (auto sound = media ? media->AttachedSound(*o) : nullptr) sound->SetProperty(c.runner.Context(), P, level);
}

template <Property P>
void GetLevel(BuiltinCall& c) {
  const std::optional<double> level = SoundNumber(c, P);
  c.args.SetInteger(0, level ? static_cast<int16_t>(static_cast<int>(*level)) : kUnavailable16);
}

void GetFrequency(BuiltinCall& c) {
  const std::optional<double> hz = SoundNumber(c, Property::kFrequency);
  c.args.SetLong(0, hz ? static_cast<int32_t>(*hz) : kUnavailable32);
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
  table.Set(56, SetTime<command::kSetStartTime, Property::kStartTime>);
  table.Set(57, SetTime<command::kSetEndTime, Property::kEndTime>);
  table.Set(69, GetTime<Property::kStartTime>);
  table.Set(70, GetTime<Property::kEndTime>);
  table.Set(58, SetLevel<Property::kVolume>);
  table.Set(59, SetLevel<Property::kPan>);
  table.Set(86, SetLevel<Property::kFrequency>);
  table.Set(60, SetLevel<Property::kFrequencyShift>);
  table.Set(71, GetLevel<Property::kVolume>);
  table.Set(72, GetLevel<Property::kPan>);
  table.Set(73, GetFrequency);
  table.Set(148, StopSound);
  table.Set(91, SwitchBufferedSound<false>);
  table.Set(92, SwitchBufferedSound<true>);
}

}  // namespace kv
