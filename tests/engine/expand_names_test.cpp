#include "engine/expand_names.h"

#include <gtest/gtest.h>

#include <map>
#include <tuple>

namespace kv {
namespace {

// Answers from maps and records what expansion asked.
class FakeMacroHost : public MacroHost {
 public:
  std::string ProjectDir() override { return "C:\\proj"; }
  std::string ProgramDir() override { return "C:\\prog\\"; }
  std::string CacheDir() override { return "Z:\\tmp\\cache"; }
  std::string CurrentDir() override { return "C:\\"; }
  std::vector<char> Drives(DriveType type) override {
    switch (type) {
      case DriveType::Fixed: return {'C', 'D'};
      case DriveType::CdRom: return {'E'};
      default: return {};
    }
  }
  std::optional<std::string> Variable(const std::string& name) override {
    ++variableLookups;
    auto it = variables.find(name);
    return it == variables.end() ? std::nullopt : std::optional(it->second);
  }
  std::optional<std::string> Environment(const std::string& name) override {
    auto it = environment.find(name);
    return it == environment.end() ? std::nullopt : std::optional(it->second);
  }
  std::string RegistryValue(RegistryRoot root, const std::string& subkey, const std::string& value) override {
    registryReads.emplace_back(root, subkey, value);
    return registryValue;
  }
  std::string IniValue(const std::string& file, const std::string& section, const std::string& key) override {
    iniReads.emplace_back(file, section, key);
    return iniValue;
  }
  std::optional<std::string> PromptForFile(const std::string& initialFile) override {
    prompts.push_back(initialFile);
    if (promptAnswer.empty()) return std::nullopt;  // cancelled
    return promptAnswer;
  }

  std::map<std::string, std::string> variables;
  std::map<std::string, std::string> environment;
  std::string registryValue = "regval";
  std::string iniValue = "inival";
  std::string promptAnswer;
  int variableLookups = 0;
  std::vector<std::tuple<RegistryRoot, std::string, std::string>> registryReads;
  std::vector<std::tuple<std::string, std::string, std::string>> iniReads;
  std::vector<std::string> prompts;
};

TEST(ExpandNames, EveryMacro) {
  struct Case {
    const char* text;
    const char* expanded;
  };
  const Case cases[] = {
      {"", ""},
      {"plain.bmp", "plain.bmp"},
      {"%PROJPATH%file.bmp", "C:\\proj\\file.bmp"},
      {"%KVPATH%k.dll", "C:\\prog\\k.dll"},  // already ends in a backslash: not doubled
      {"%CACHE%", "Z:\\tmp\\cache\\"},
      {"%CWD%", "C:\\"},
      {"%FD%", "C:"},
      {"%FD:0%", "C:"},
      {"%FD:2%\\x", "D:\\x"},
      {"%FD:3%x", "x"},
      {"%FD:-1%x", "x"},
      {"%CD%", "E:"},
      {"%CD:3%", ""},
      {"%RD%%ND%%MD%|", "|"},  // no such drives
      {"%VAR:name%.txt", "value.txt"},
      {"%VAR:missing%.txt", ".txt"},
      {"%VAR:nested%", "C:\\proj\\n.bmp"},  // a value holding a macro is expanded too
      {"%VAR:%x", "x"},                      // no name
      {"%ENV:HOME%/a", "/home/u/a"},
      {"%ENV:EMPTY%a", "a"},
      {"%ENV:UNSET%a", "a"},
      {"%REG:HKEY_CURRENT_USER:Software\\A\\v%", "regval"},
      {"%REG:HKEY_FOO:Software\\A\\v%", ""},
      {"%REG:HKEY_USERS:v%", ""},  // no value name
      {"%INI:a.ini:Sec:Key%", "inival"},
      {"%INI:a.ini:Sec%", ""},
      {"%PROMPT%", ""},  // cancelled
      {"100%%", "100%"},
      {"a%%b%%%%c", "a%b%%c"},
      {"%%PROJPATH%%", "%PROJPATH%"},
      {"abc%def", "abc"},       // a lone percent sign ends the text
      {"a%FD", "aC:"},          // replaced, then the unclosed rest is dropped
      {"%bogus%file.txt", "file.txt"},
      {"%fd%x", "x"},           // keywords are case-sensitive
      {"%FDX%y", "C:y"},        // matched as a prefix
      {"%VAR:name", "value"},   // no closing sign
  };
  for (const Case& c : cases) {
    FakeMacroHost host;
    host.variables = {{"name", "value"}, {"nested", "%PROJPATH%n.bmp"}};
    host.environment = {{"HOME", "/home/u"}, {"EMPTY", ""}};
    EXPECT_EQ(ExpandNames(c.text, host), c.expanded) << c.text;
  }
}

TEST(ExpandNames, WhatOnePassReports) {
  struct Case {
    const char* text;
    bool replaced;
    const char* output;
  };
  const Case cases[] = {
      {"", false, ""},
      {"x%%y", false, "x%%y"},
      {"%CD:3%", true, ""},  // a drive keyword counts even without the drive
      {"%CWD%", true, "C:\\"},
      {"%VAR:name%", true, "value"},
      {"%VAR:missing%", false, ""},
      {"%ENV:HOME%", false, "%PROJPATH%"},  // never counts
      {"%ENV:HOME%%KVPATH%", true, "%PROJPATH%C:\\prog\\"},
      {"%REG:hkey_users:v%", true, ""},  // known root, no value name
      {"%REG:HKEY_FOO:a\\b%", false, ""},
      {"%INI:a:b:c%", true, "inival"},
      {"%INI:a:b%", false, ""},
      {"%PROMPT%", false, ""},
      {"%bogus%", false, ""},
  };
  for (const Case& c : cases) {
    FakeMacroHost host;
    host.variables = {{"name", "value"}};
    host.environment = {{"HOME", "%PROJPATH%"}};
    std::string text = c.text;
    EXPECT_EQ(ExpandOnce(text, host), c.replaced) << c.text;
    EXPECT_EQ(text, c.output) << c.text;
  }
}

TEST(ExpandNames, AnEnvironmentValueIsExpandedOnlyAlongsideAnotherMacro) {
  FakeMacroHost host;
  host.environment = {{"E", "%KVPATH%"}};
  EXPECT_EQ(ExpandNames("%ENV:E%", host), "%KVPATH%");
  EXPECT_EQ(ExpandNames("%ENV:E% %CWD%", host), "C:\\prog\\ C:\\");
}

TEST(ExpandNames, RegistryAndIniArguments) {
  FakeMacroHost host;
  ExpandNames("%REG:hkey_local_machine:Software\\Acme\\Sub\\Name%", host);
  ExpandNames("%REG:HKEY_CURRENT_USER:Software\\Acme\\%", host);  // empty value name: no read
  ASSERT_EQ(host.registryReads.size(), 1u);
  EXPECT_EQ(host.registryReads[0], std::make_tuple(RegistryRoot::LocalMachine, std::string("Software\\Acme\\Sub"),
                                                   std::string("Name")));
  // The drive's colon ends the file part: such a file cannot be addressed.
  EXPECT_EQ(ExpandNames("%INI:C:\\a.ini:Sec:Key%", host), "inival");
  ASSERT_EQ(host.iniReads.size(), 1u);
  EXPECT_EQ(host.iniReads[0], std::make_tuple(std::string("C"), std::string("\\a.ini"), std::string("Sec:Key")));
}

TEST(ExpandNames, LookupsAreCutAt259Bytes) {
  FakeMacroHost host;
  host.registryValue = std::string(300, 'r');
  host.iniValue = std::string(300, 'i');
  EXPECT_EQ(ExpandNames("%REG:HKEY_USERS:a\\b%", host), std::string(259, 'r'));
  EXPECT_EQ(ExpandNames("%INI:f:s:k%", host), std::string(259, 'i'));
}

TEST(ExpandNames, PromptOffersTheDefault) {
  FakeMacroHost host;
  host.promptAnswer = "C:\\picked.bmp";
  EXPECT_EQ(ExpandNames("[%PROMPT:start.bmp%]", host), "[C:\\picked.bmp]");
  EXPECT_EQ(ExpandNames("%PROMPT%", host), "C:\\picked.bmp");
  EXPECT_EQ(host.prompts, (std::vector<std::string>{"start.bmp", ""}));
}

TEST(ExpandNames, SelfReferenceStopsAfter255Passes) {
  FakeMacroHost host;
  host.variables = {{"loop", "%VAR:loop%"}};
  EXPECT_EQ(ExpandNames("%VAR:loop%", host), "%VAR:loop%");
  EXPECT_EQ(host.variableLookups, kMaxExpandPasses);
}

TEST(ExpandNames, GrowthStopsAtTheBound) {
  FakeMacroHost host;
  host.variables = {{"g", "ab%VAR:g%c%VAR:g%"}};  // doubles every pass
  std::string out = ExpandNames("%VAR:g%", host);
  EXPECT_EQ(out.size(), kMaxExpandedSize);
  EXPECT_EQ(out.substr(0, 6), "ababab");

  // One huge value is cut as well.
  host.variables = {{"big", std::string(kMaxExpandedSize * 2, 'b')}};
  EXPECT_EQ(ExpandNames("x%VAR:big%y", host), "x" + std::string(kMaxExpandedSize - 1, 'b'));
}

// The words expansion drops without a word, as kvtool check reports them:
// only those that begin with no keyword, "%%" never.
TEST(ExpandNames, UnknownMacros) {
  const struct {
    const char* text;
    std::vector<std::string> unknown;
  } cases[] = {
      {"%KVDIR%\\photo.jpg", {"%KVDIR%"}},
      {"%PROJPATH%a.bmp", {}},
      {"%%KVDIR%%", {}},
      {"%VAR:x%%BAD%end", {"%BAD%"}},
      {"%ENV:HOME%\\%WINDIR%\\%CD%", {"%WINDIR%"}},
      {"plain.bmp", {}},
      {"tail %NOCLOSE", {"%NOCLOSE"}},
      {"%fd%", {"%fd%"}},  // keywords are upper case
  };
  for (const auto& c : cases) EXPECT_EQ(UnknownMacros(c.text), c.unknown) << c.text;
}

}  // namespace
}  // namespace kv
