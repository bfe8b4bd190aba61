#include "player/json_trace.h"

#include <cmath>

#include <nlohmann/json.hpp>

#include "engine/clock.h"
#include "platform/text.h"

namespace kv {

namespace {

using Json = nlohmann::ordered_json;

std::string U(const std::string& cp1252) { return Cp1252ToUtf8(cp1252); }

Json ValueOf(const VariableView& v) {
  if (v.isString) return U(v.text);
  if (v.type == 5) {
    if (!std::isfinite(v.number)) return nullptr;
    return v.number;
  }
  return static_cast<int64_t>(v.number);
}

}  // namespace

const char* VariableTypeName(uint16_t type) {
  static const char* const kNames[] = {"Int2", "Word", "Bool", "Int4", "DWord", "Double", "String"};
  return type < 7 ? kNames[type] : "Unknown";
}

JsonTrace::JsonTrace(Clock& clock, FILE* out, bool owned) : clock_(&clock), out_(out), owned_(owned) {}

void JsonTrace::Rebase(Clock& clock, int64_t offset) {
  clock_ = &clock;
  offset_ = offset;
}

int64_t JsonTrace::Now() { return offset_ + clock_->NowMs(); }

JsonTrace::~JsonTrace() {
  if (owned_ && out_) std::fclose(out_);
}

void JsonTrace::Write(const std::string& line, bool last) {
  std::lock_guard lock(mutex_);
  if (ended_) return;
  ended_ = last;
  std::fwrite(line.data(), 1, line.size(), out_);
  std::fputc('\n', out_);
  std::fflush(out_);
}

void JsonTrace::Start(const std::string& file) {
  Json j{{"t", Now()}, {"ev", "start"}, {"file", U(file)}};
  Write(j.dump());
}

void JsonTrace::Script(const std::string& thread, const std::string& path) {
  Json j{{"t", Now()}, {"ev", "script"}, {"thread", U(thread)}, {"path", U(path)}};
  Write(j.dump());
}

void JsonTrace::Run(const std::string& thread, const std::string& script, int64_t index, const std::string& insert,
                    const std::string& className) {
  Json j{{"t", Now()}, {"ev", "run"},         {"thread", U(thread)},   {"script", U(script)},
         {"index", index},      {"insert", U(insert)}, {"class", className}};
  Write(j.dump());
}

void JsonTrace::Event(const std::string& thread, const std::string& insert, uint32_t code) {
  Json j{{"t", Now()}, {"ev", "event"}, {"thread", U(thread)}, {"insert", U(insert)}, {"code", code}};
  Write(j.dump());
}

void JsonTrace::Handler(const std::string& thread, const std::string& insert, uint32_t code, uint16_t command) {
  Json j{{"t", Now()}, {"ev", "handler"}, {"thread", U(thread)},
         {"insert", U(insert)}, {"code", code},    {"command", command}};
  Write(j.dump());
}

void JsonTrace::Set(const VariableView& v) {
  Json j{{"t", Now()}, {"ev", "set"}, {"group", U(v.group)}, {"var", U(v.name)}, {"value", ValueOf(v)}};
  Write(j.dump());
}

void JsonTrace::Rw(const VariableView& v) {
  Json j{{"t", Now()}, {"ev", "rw"}, {"var", U(v.name)}, {"value", ValueOf(v)}};
  Write(j.dump());
}

void JsonTrace::MessageShown(uint32_t id, const std::string& title, const std::string& text,
                             const std::string& answer) {
  Json j{{"t", Now()}, {"ev", "message"}, {"id", id},
         {"title", U(title)},   {"text", U(text)},  {"answer", answer}};
  Write(j.dump());
}

void JsonTrace::Launch(const std::string& program, const std::vector<std::string>& args) {
  Json list = Json::array();
  for (const auto& a : args) list.push_back(U(a));
  Json j{{"t", Now()}, {"ev", "launch"}, {"program", U(program)}, {"args", list}};
  Write(j.dump());
}

void JsonTrace::Show(const std::string& insert, int32_t left, int32_t top, int32_t right, int32_t bottom) {
  Json j{{"t", Now()}, {"ev", "show"}, {"insert", U(insert)}, {"rect", Json::array({left, top, right, bottom})}};
  Write(j.dump());
}

void JsonTrace::Hide(const std::string& insert) {
  Json j{{"t", Now()}, {"ev", "hide"}, {"insert", U(insert)}};
  Write(j.dump());
}

void JsonTrace::Focus(const std::string& insert) {
  Json j{{"t", Now()}, {"ev", "focus"}, {"insert", U(insert)}};
  Write(j.dump());
}

void JsonTrace::Cursor(const std::string& insert, const std::string& shape, const std::string& file, bool hidden) {
  Json j{{"t", Now()}, {"ev", "cursor"}, {"insert", U(insert)}, {"shape", shape}, {"file", U(file)},
         {"hidden", hidden}};
  Write(j.dump());
}

void JsonTrace::Menu(const std::string& insert, const std::string& item, uint16_t command) {
  Json j{{"t", Now()}, {"ev", "menu"}, {"insert", U(insert)}, {"item", U(item)}, {"command", command}};
  Write(j.dump());
}

void JsonTrace::Printed(int pages, int32_t left, int32_t top, int32_t right, int32_t bottom) {
  Json j{{"t", Now()}, {"ev", "printed"}, {"pages", pages}, {"rect", Json::array({left, top, right, bottom})}};
  Write(j.dump());
}

void JsonTrace::Effect(const std::string& insert, uint32_t id, const char* op, int steps) {
  Json j{{"t", Now()}, {"ev", "effect"}, {"insert", U(insert)}, {"id", id}, {"op", op}, {"steps", steps}};
  Write(j.dump());
}

void JsonTrace::Path(const std::string& insert, size_t node, int32_t left, int32_t top, int32_t right,
                     int32_t bottom) {
  Json j{{"t", Now()}, {"ev", "path"}, {"insert", U(insert)}, {"node", node},
         {"rect", Json::array({left, top, right, bottom})}};
  Write(j.dump());
}

void JsonTrace::Print(const std::string& thread, const std::string& insert, const std::string& text) {
  Json j{{"t", Now()}, {"ev", "print"}, {"thread", U(thread)}, {"insert", U(insert)}, {"text", U(text)}};
  Write(j.dump());
}

void JsonTrace::Sound(const std::string& thread, const std::string& insert, const char* op) {
  Json j{{"t", Now()}, {"ev", "sound"}, {"thread", U(thread)}, {"insert", U(insert)}, {"op", op}};
  Write(j.dump());
}

void JsonTrace::Movie(const std::string& insert, const char* op, int64_t frame) {
  Json j{{"t", Now()}, {"ev", "movie"}, {"insert", U(insert)}, {"op", op}, {"frame", frame}};
  Write(j.dump());
}

void JsonTrace::Mci(const std::string& thread, const std::string& insert, const std::string& command, uint32_t result,
                    const std::string& ret) {
  Json j{{"t", Now()},  {"ev", "mci"},       {"thread", U(thread)}, {"insert", U(insert)},
         {"command", U(command)}, {"result", result}, {"return", U(ret)}};
  Write(j.dump());
}

void JsonTrace::End(int code, const std::vector<VariableView>& vars, const std::vector<VariableView>& rw) {
  Json list = Json::array();
  for (const auto& v : vars)
    list.push_back(Json{{"group", U(v.group)}, {"var", U(v.name)}, {"type", VariableTypeName(v.type)},
                        {"value", ValueOf(v)}});
  Json runtime = Json::object();
  for (const auto& v : rw) runtime[U(v.name)] = ValueOf(v);
  Json j{{"t", Now()}, {"ev", "end"}, {"code", code}, {"vars", list}, {"rw", runtime}};
  Write(j.dump(), true);
}

}  // namespace kv
