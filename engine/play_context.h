// What one run hands to behaviour: its runner and the services around it,
// typed. The Player fills it once they all exist; the runner carries it, so
// any code holding the runner reaches the run's stage, media, Orlan binding,
// session and network hooks without casting a service slot. The upper types
// are only declared here; a layer includes the headers of those it uses.
#pragma once

#include <memory>

namespace kv {

class MediaContext;
class NetHooks;
class OrlanBinding;
class ProjectSession;
class Runner;
class Stage;

struct PlayContext {
  Runner& runner;
  ProjectSession& session;
  // Null while the run has none (engine tests, tools); a player's run has
  // each of them from its start to its end.
  Stage* stage = nullptr;
  MediaContext* media = nullptr;
  OrlanBinding* orlan = nullptr;
  // Shared with transfers that may outlive the run (uploads).
  std::shared_ptr<NetHooks> net;
};

}  // namespace kv
