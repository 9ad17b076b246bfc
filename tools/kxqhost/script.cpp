#include "script.h"

#include <algorithm>
#include <limits>

namespace kx::kxqhost {

namespace {

struct CommandShape {
  const char* name;
  size_t min_arguments;
  size_t max_arguments;
};

constexpr size_t kMany = std::numeric_limits<size_t>::max();

// Argument counts of each step's command (the command word and flags not
// counted).
constexpr CommandShape kCommands[] = {
    {"request", 1, 2},  {"event", 2, 3},          {"trigger", 2, 2},  {"service", 3, kMany},
    {"method", 2, 2},   {"automation", 1, kMany}, {"dump", 1, kMany}, {"set", 2, 4},
    {"create", 1, 2},   {"delete", 1, 1},         {"watch", 5, 5},    {"stall", 4, 4},
    {"wait", 1, 1},     {"deliver", 0, 0},        {"detach", 0, 0},   {"attach", 0, kMany},
    {"reserved", 1, 1},
};

std::string Where(const std::string& name, int line) {
  return name + ":" + std::to_string(line) + ": ";
}

}  // namespace

bool SplitWords(std::string_view line, std::vector<std::string>* words) {
  words->clear();
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i >= line.size()) break;
    std::string word;
    if (line[i] == '"') {
      ++i;
      bool closed = false;
      while (i < line.size()) {
        const char c = line[i++];
        if (c == '"') {
          closed = true;
          break;
        }
        if (c == '\\' && i < line.size() && (line[i] == '"' || line[i] == '\\')) {
          word.push_back(line[i++]);
          continue;
        }
        word.push_back(c);
      }
      if (!closed) return false;
    } else {
      while (i < line.size() && line[i] != ' ' && line[i] != '\t') word.push_back(line[i++]);
    }
    words->push_back(std::move(word));
  }
  return true;
}

std::string ParseScript(std::string_view text, const std::string& name, std::vector<Step>* steps) {
  steps->clear();
  std::vector<std::string_view> lines;
  for (size_t start = 0; start <= text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    if (end == text.size()) break;
    start = end + 1;
  }
  std::vector<Step> parsed;
  for (size_t i = 0; i < lines.size(); ++i) {
    const int number = static_cast<int>(i) + 1;
    std::string_view line = lines[i];
    const size_t first = line.find_first_not_of(" \t");
    if (first == std::string_view::npos || line[first] == '#') continue;
    line.remove_prefix(first);
    Step step;
    step.line = number;
    if (line[0] == '!') {
      step.expect_failure = true;
      line.remove_prefix(1);
      line.remove_prefix(std::min(line.size(), line.find_first_not_of(" \t")));
    }
    step.text = std::string(line);
    if (!SplitWords(line, &step.words)) return Where(name, number) + "unterminated quote";
    if (step.words.empty()) return Where(name, number) + "a step needs a command";
    const std::string& command = step.words[0];
    const CommandShape* shape = nullptr;
    for (const CommandShape& candidate : kCommands) {
      if (command == candidate.name) shape = &candidate;
    }
    if (!shape) return Where(name, number) + "unknown step \"" + command + "\"";
    // "--extra" is a flag of "request", not one of its arguments.
    const size_t flags =
        command == "request" && step.words.size() > 1 && step.words[1] == "--extra" ? 1 : 0;
    if (command == "request" && step.words.size() == 3 + flags &&
        step.words[2 + flags].starts_with("<<")) {
      const std::string tag = step.words[2 + flags].substr(2);
      if (tag.empty()) return Where(name, number) + "\"<<\" needs an end word";
      std::string body;
      size_t j = i + 1;
      for (; j < lines.size() && lines[j] != tag; ++j) {
        body.append(lines[j]);
        body.push_back('\n');
      }
      if (j >= lines.size()) return Where(name, number) + "no line \"" + tag + "\" ends the text";
      step.body = std::move(body);
      step.body_end = tag;
      step.words.pop_back();
      i = j;
    }
    size_t count = step.words.size() - 1 - flags;
    // "--local" is a flag of "event", not one of its arguments.
    if (command == "event" && count > 0 && step.words[1] == "--local") --count;
    if (count < shape->min_arguments || count > shape->max_arguments) {
      return Where(name, number) + "wrong number of arguments for \"" + command + "\"";
    }
    parsed.push_back(std::move(step));
  }
  *steps = std::move(parsed);
  return {};
}

}  // namespace kx::kxqhost
