#include "sim/replay_script.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "platform/codepage.h"
#include "sim/sim_text.h"
#include "tests/sim/test_wire.h"
#include "tests/support/sim_harness.h"

namespace vekta {
namespace {

// A protocol log as the host writes it: Windows-1251, CR LF, "%x %X;entry".
std::string FieldLog() {
  const char* lines[] = {
      "12/05/26 21:58:05;Старт програми",
      "12/05/26 21:58:05;<< From Printer <<READY",
      "12/05/26 21:58:05;>>> To Printer >>>UPASОля       7777777777",
      "12/05/26 21:58:05;<< From Printer <<READY",
      "12/05/26 21:58:06;>>> To Printer >>>PREPВідділ",
      "12/05/26 21:58:06;<< From Printer <<SOFTSLWORK",
      "12/05/26 21:58:06;ERROR: SOFTSLWORK",
      "12/05/26 21:58:07;<< From Printer <<READY",
      "12/05/26 21:58:09;>>> To Printer >>>UPASОля       7777777777",
      "12/05/26 21:58:09;<< From Printer <<READY",
      "12/05/26 21:58:10;>>> To Printer >>>PREPВідділ",
      "12/05/26 21:58:10;<< From Printer <<READY",
      "12/05/26 21:58:10;Стоп програми",
  };
  std::string text;
  for (const char* line : lines) text += Utf8ToCp1251(line) + "\r\n";
  return text;
}

// The messages the script answers `utf8` with, joined by '|'.
std::string Answer(ReplayScript& script, const std::string& utf8) {
  std::string out;
  for (const std::string& m :
       script.Answer({SimInput::Kind::kCommand, SimUtf8ToCp866(utf8)}).messages) {
    out += (out.empty() ? "" : "|") + m;
  }
  return out;
}

TEST(SimReplay, AnswersEachCommandWithItsRecordedRepliesInOrderAlsoFromTheBinary) {
  ReplayScript script;
  ASSERT_TRUE(script.Load(FieldLog()));
  ASSERT_EQ(script.Exchanges().size(), 4u);
  EXPECT_EQ(script.Answer({SimInput::Kind::kWakeUp, {}}).messages,
            std::vector<std::string>{"READY"});
  // the same command text twice: the first answer, then the later one (the READY before the
  // second login answered its wake-up byte, not the refused PREP); past the end the log is
  // searched from its start again; unknown commands are refused
  const char* const login = "UPASОля       7777777777";
  for (const auto& [command, replies] : {std::pair{login, "READY"},
                                         {"PREPВідділ", "SOFTSLWORK"},
                                         {login, "READY"},
                                         {"PREPВідділ", "READY"},
                                         {"PREPВідділ", "SOFTSLWORK"},
                                         {"KASS", "SOFTCOMMAN"}}) {
    EXPECT_EQ(Answer(script, command), replies) << command;
  }
  EXPECT_FALSE(script.Load("12/05/26 21:58:05;Старт програми\r\n"));

  const std::string log =
      ::testing::TempDir() + "orbis-sim-replay-" + std::to_string(getpid()) + ".log";
  std::ofstream(log, std::ios::binary) << FieldLog();
  SimProcess sim({"--replay", log});
  ASSERT_TRUE(sim.Running());
  test::TestWire wire(sim.DevicePath());
  EXPECT_EQ(wire.Command(SimUtf8ToCp866("UPASОля       7777777777")), test::Messages{"READY"});
  EXPECT_EQ(wire.Command(SimUtf8ToCp866("PREPВідділ")), test::Messages{"SOFTSLWORK"});
  sim.Kill();
  std::remove(log.c_str());

  std::string error;
  EXPECT_FALSE(script.LoadFile(log, &error));
  EXPECT_NE(error.find(log), std::string::npos);
}

}  // namespace
}  // namespace vekta
