// The headless harness's trace: one JSON object a line, every object with
// the run's clock time `t` and its `ev`, texts converted to UTF-8.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>

#include "engine/trace.h"

namespace kv {

class Clock;

class JsonTrace : public TraceSink {
 public:
  // `out` is borrowed (standard output) or owned (a file opened by the caller
  // and handed over with `owned`).
  JsonTrace(Clock& clock, FILE* out, bool owned);
  // Times come from `clock` from now on, `offset` added (a new project's
  // clock in a run that goes on).
  void Rebase(Clock& clock, int64_t offset);
  ~JsonTrace() override;

  void Start(const std::string& file) override;
  void Script(const std::string& thread, const std::string& path) override;
  void Run(const std::string& thread, const std::string& script, int64_t index, const std::string& insert,
           const std::string& className) override;
  void Event(const std::string& thread, const std::string& insert, uint32_t code) override;
  void Handler(const std::string& thread, const std::string& insert, uint32_t code, uint16_t command) override;
  void Set(const VariableView& value) override;
  void Rw(const VariableView& value) override;
  void MessageShown(uint32_t id, const std::string& title, const std::string& text,
                    const std::string& answer) override;
  void Launch(const std::string& program, const std::vector<std::string>& args) override;
  void Show(const std::string& insert, int32_t left, int32_t top, int32_t right, int32_t bottom) override;
  void Hide(const std::string& insert) override;
  void Focus(const std::string& insert) override;
  void Cursor(const std::string& insert, const std::string& shape, const std::string& file, bool hidden) override;
  void Menu(const std::string& insert, const std::string& item, uint16_t command) override;
  void Printed(int pages, int32_t left, int32_t top, int32_t right, int32_t bottom) override;
  void Effect(const std::string& insert, uint32_t id, const char* op, int steps) override;
  void Path(const std::string& insert, size_t node, int32_t left, int32_t top, int32_t right,
            int32_t bottom) override;
  void Sound(const std::string& thread, const std::string& insert, const char* op) override;
  void Movie(const std::string& insert, const char* op, int64_t frame) override;
  void Mci(const std::string& thread, const std::string& insert, const std::string& command, uint32_t result,
           const std::string& ret) override;
  void Print(const std::string& thread, const std::string& insert, const std::string& text) override;
  void End(int code, const std::vector<VariableView>& vars, const std::vector<VariableView>& rw) override;

 private:
  void Write(const std::string& line, bool last = false);
  std::string Head(const char* ev);

  int64_t Now();
  Clock* clock_;
  int64_t offset_ = 0;  // the run's time when this clock started
  FILE* out_;
  bool owned_;
  std::mutex mutex_;
  // The end line closes the trace: what the teardown after it does (a movie
  // stopped as its thread goes) is not part of the run.
  bool ended_ = false;
};

// The type name a trace gives a variable type.
const char* VariableTypeName(uint16_t type);

}  // namespace kv
