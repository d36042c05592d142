#include "sim/replay_script.h"

#include <fstream>
#include <sstream>

#include "platform/codepage.h"

namespace vekta {

namespace {

const std::string kSent = ">>> To Printer >>>";
const std::string kReceived = "<< From Printer <<";

}  // namespace

bool ReplayScript::Load(const std::string& logText) {
  std::vector<Exchange> exchanges;
  std::istringstream in(logText);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    // the entry follows the first ';' (the date and time hold none)
    auto semicolon = line.find(';');
    if (semicolon == std::string::npos) continue;
    std::string entry = line.substr(semicolon + 1);
    if (entry.compare(0, kSent.size(), kSent) == 0) {
      exchanges.push_back({Cp1251ToCp866(entry.substr(kSent.size())), {}});
    } else if (entry.compare(0, kReceived.size(), kReceived) == 0 && !exchanges.empty()) {
      // messages before the first command answered the wake-up byte, which is not logged
      exchanges.back().replies.push_back(Cp1251ToCp866(entry.substr(kReceived.size())));
    }
  }
  // Every login is preceded by the unlogged wake-up byte: the "READY" logged right before a
  // login answered that byte, not the command before it.
  for (std::size_t i = 0; i + 1 < exchanges.size(); ++i) {
    auto& replies = exchanges[i].replies;
    if (exchanges[i + 1].command.compare(0, 4, "UPAS") == 0 && !replies.empty() &&
        replies.back() == "READY") {
      replies.pop_back();
    }
  }
  std::lock_guard<std::mutex> lock(m_mutex);
  m_exchanges = std::move(exchanges);
  m_next = 0;
  return !m_exchanges.empty();
}

bool ReplayScript::LoadFile(const std::string& path, std::string* error) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    if (error != nullptr) *error = "cannot read " + path;
    return false;
  }
  std::stringstream text;
  text << file.rdbuf();
  if (!Load(text.str())) {
    if (error != nullptr) *error = path + " holds no command sent to a printer";
    return false;
  }
  return true;
}

SimReply ReplayScript::Answer(const SimInput& input) {
  SimReply reply;
  if (input.kind == SimInput::Kind::kWakeUp) {
    reply.messages.push_back("READY");
    return reply;
  }
  if (input.kind == SimInput::Kind::kBadFrame) {
    reply.messages.push_back("SOFTBLOCK");
    return reply;
  }
  std::lock_guard<std::mutex> lock(m_mutex);
  for (std::size_t pass = 0; pass < 2; ++pass) {
    std::size_t from = pass == 0 ? m_next : 0;
    for (std::size_t i = from; i < m_exchanges.size(); ++i) {
      if (m_exchanges[i].command == input.text) {
        m_next = i + 1;
        reply.messages = m_exchanges[i].replies;
        return reply;
      }
    }
  }
  reply.messages.push_back("SOFTCOMMAN");
  return reply;
}

}  // namespace vekta
