#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <thread>

#include "sim/frame_parser.h"
#include "sim/sim_control.h"
#include "tests/sim/test_wire.h"
#include "tests/support/sim_harness.h"

namespace vekta {
namespace {

using Kind = SimInput::Kind;

std::vector<SimInput> FeedAll(SimFrameParser& parser, const std::string& bytes) {
  std::vector<SimInput> out;
  parser.Feed(bytes.data(), bytes.size(), out);
  return out;
}

TEST(SimFrameParser, CutsFramesFromNoiseAndAnswersOnlyTheBareWakeUpByte) {
  SimFrameParser parser;
  // noise before a frame, a wake-up byte, a frame holding "U" that is not a wake-up
  auto out = FeedAll(parser, std::string("AB\x55") + SimFrame("UPAS") + "\x13");
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0].kind, Kind::kWakeUp);
  EXPECT_EQ(out[1].kind, Kind::kCommand);
  EXPECT_EQ(out[1].text, "UPAS");

  // a frame split in three writes gives one command after the last
  std::string frame = SimFrame("CONf");
  EXPECT_TRUE(FeedAll(parser, frame.substr(0, 2)).empty());
  EXPECT_TRUE(FeedAll(parser, frame.substr(2, 2)).empty());
  out = FeedAll(parser, frame.substr(4));
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].text, "CONf");

  // two frames in one write, in order
  out = FeedAll(parser, SimFrame("KASS") + SimFrame("FEED3"));
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0].text, "KASS");
  EXPECT_EQ(out[1].text, "FEED3");

  // empty frames and a frame of only its length byte carry nothing
  EXPECT_TRUE(FeedAll(parser, "\xFD\xFE\xFD\x01\xFE").empty());

  // a start byte inside a frame restarts it: the cut frame is lost, the next one survives
  out = FeedAll(parser, "\xFDKA" + SimFrame("GETD"));
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].text, "GETD");
}

TEST(SimFrameParser, LengthByteIsCheckedInBytesAndLongRepliesCarryZero) {
  SimFrameParser parser;
  // Cyrillic in 866 is one byte per letter: "PREP" + two letters is 6 bytes, length 7
  auto out = FeedAll(parser, SimFrame("PREP\x80\x81"));
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].kind, Kind::kCommand);
  EXPECT_EQ(static_cast<unsigned char>(SimFrame("PREP\x80\x81")[7]), 7);

  // a length counted in UTF-8 bytes, as a host that forgot the conversion would send
  out = FeedAll(parser, std::string("\xFDPREP\x80\x81\x09\xFE"));
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].kind, Kind::kBadFrame);

  EXPECT_EQ(SimLengthByte(250), 251);
  EXPECT_EQ(SimLengthByte(264 + 4), 0);

  // noise longer than any frame is dropped and the parser finds the next frame
  std::string noise = "\xFD" + std::string(SimFrameParser::kMaxFrame + 10, 'x');
  EXPECT_TRUE(FeedAll(parser, noise).empty());
  out = FeedAll(parser, SimFrame("KASS"));
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].text, "KASS");
}

TEST(SimPty, AnswersWakeUpAndFramesOverThePseudoTerminal) {
  SimHarness sim;
  test::TestWire wire(sim.DevicePath());
  ASSERT_TRUE(wire.IsOpen());

  wire.SendRaw("\x55");
  auto replies = wire.Receive();
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0], "READY");

  // garbage around a frame is ignored; a bad length byte is refused as a damaged frame
  wire.SendRaw("\x01\x02zz");
  wire.SendRaw("\xFDKASS\x09\xFE");
  replies = wire.Receive();
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0], "SOFTBLOCK");

  // a frame written in two pieces is one command
  wire.SendRaw("\xFDGE");
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  wire.SendRaw("TD\x05\xFE");
  replies = wire.Receive();
  EXPECT_FALSE(replies.empty());
  ASSERT_FALSE(sim.Model().Commands().empty());
  EXPECT_EQ(sim.Model().Commands().back(), "GETD");
}

TEST(SimPty, LineFaultsReachTheHost) {
  SimHarness sim;
  test::TestWire wire(sim.DevicePath());
  ASSERT_TRUE(wire.IsOpen());

  // split replies arrive whole once both halves are in
  sim.Printer().SetSplitFrames(true);
  wire.SendRaw("\x55");
  auto replies = wire.Receive(std::chrono::milliseconds(400));
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0], "READY");
  sim.Printer().SetSplitFrames(false);

  sim.Printer().SendGarbage("\x01\x02\x03");
  sim.Printer().SendUnsolicited("HARDPAPER");
  replies = wire.Receive();
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0], "HARDPAPER");

  // silence: bytes are taken, nothing comes back; power off likewise
  sim.Model().SetSilent(true);
  wire.SendRaw("\x55");
  EXPECT_TRUE(wire.Receive().empty());
  sim.Model().SetSilent(false);
  sim.Model().SetPower(false);
  wire.SendRaw("\x55");
  EXPECT_TRUE(wire.Receive().empty());
  sim.Model().SetPower(true);
  wire.SendRaw("\x55");
  EXPECT_EQ(wire.Receive().size(), 1u);

  // unplugged: the host's reads fail as with a vanished device
  sim.Printer().Unplug();
  wire.Receive();
  EXPECT_TRUE(wire.Lost());
  EXPECT_TRUE(sim.Printer().Unplugged());
}

TEST(SimControl, EveryControlCommandParsesItsArgumentsAndActs) {
  SimHarness sim;
  SimPrinter& printer = sim.Printer();
  bool quit = false;
  EXPECT_EQ(RunSimControl(printer, "", &quit), "ok");
  EXPECT_EQ(RunSimControl(printer, "garbage 41 4g"),
            "error: garbage takes hexadecimal bytes, "
            "e.g. garbage 41 42 fe");
  EXPECT_EQ(RunSimControl(printer, "garbage 41 fe 100").rfind("error", 0), 0u);
  EXPECT_EQ(RunSimControl(printer, "garbage 41 fe"), "ok");
  EXPECT_EQ(RunSimControl(printer, "split maybe").rfind("error", 0), 0u);
  EXPECT_EQ(RunSimControl(printer, "clock soon").rfind("error", 0), 0u);
  EXPECT_EQ(RunSimControl(printer, "clock 90000"), "ok");
  EXPECT_EQ(RunSimControl(printer, "silence on"), "ok");
  EXPECT_FALSE(sim.Model().Answering());
  EXPECT_EQ(RunSimControl(printer, "silence off"), "ok");
  EXPECT_EQ(RunSimControl(printer, "power off"), "ok");
  EXPECT_FALSE(sim.Model().Answering());
  EXPECT_EQ(RunSimControl(printer, "power on"), "ok");
  EXPECT_EQ(RunSimControl(printer, "key P"), "ok");
  EXPECT_EQ(sim.Model().KeyPosition(), 'P');
  EXPECT_EQ(RunSimControl(printer, "paper out"), "ok");
  EXPECT_EQ(RunSimControl(printer, "status-first HARDSENSOR"), "ok");

  // a status word for the next command goes out ahead of its own answer
  test::TestWire wire(sim.DevicePath());
  ASSERT_TRUE(wire.IsOpen());
  EXPECT_EQ(wire.Command("UPASKasir     7777777777"),
            (std::vector<std::string>{"HARDSENSOR", "READY"}));
  EXPECT_EQ(wire.Command("FEED1"), std::vector<std::string>{"HARDPAPER"});

  // replug gives a new device (the kernel may hand out the same number again)
  std::string after = RunSimControl(printer, "replug");
  EXPECT_EQ(after, sim.DevicePath());
  EXPECT_EQ(after.rfind("/dev/pts/", 0), 0u);
  wire.Receive();
  EXPECT_TRUE(wire.Lost());
  test::TestWire again(after);
  ASSERT_TRUE(again.IsOpen());
  EXPECT_EQ(again.Command("FEED1"), std::vector<std::string>{"HARDPAPER"});

  EXPECT_EQ(RunSimControl(printer, "quit", &quit), "ok");
  EXPECT_TRUE(quit);
  EXPECT_NE(SimHelpText().find("--baud"), std::string::npos);
  EXPECT_NE(SimHelpText().find("status-first WORD"), std::string::npos);
}

TEST(SimProcessTest, BinaryServesAPtyAndTakesControlLines) {
  std::string link = ::testing::TempDir() + "orbis-sim-link-" + std::to_string(getpid());
  SimProcess sim({"--link", link});
  ASSERT_TRUE(sim.Running());
  char target[256] = {};
  ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
  EXPECT_EQ(std::string(target), sim.DevicePath());

  test::TestWire wire(link);
  ASSERT_TRUE(wire.IsOpen());
  wire.SendRaw("\x55");
  auto replies = wire.Receive();
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0], "READY");

  EXPECT_TRUE(sim.SendControl("unsolicited SOFTNREP"));
  replies = wire.Receive();
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0], "SOFTNREP");

  EXPECT_FALSE(sim.SendControl("no such thing"));
  EXPECT_EQ(sim.LastReply().rfind("error", 0), 0u);
  EXPECT_FALSE(sim.SendControl("key Q"));

  EXPECT_TRUE(sim.SendControl("unplug"));
  wire.Receive();
  EXPECT_TRUE(wire.Lost());
  sim.Kill();
  EXPECT_FALSE(sim.Running());
}

TEST(SimProcessTest, BinaryRunsALoginAndAReceiptOverThePty) {
  SimProcess sim({"--model", "0.1", "--password", "0000012345", "--key", "X"});
  ASSERT_TRUE(sim.Running());
  test::TestWire wire(sim.DevicePath());
  ASSERT_TRUE(wire.IsOpen());

  EXPECT_EQ(wire.Command("UPASCashier   7777777777"), std::vector<std::string>{"SOFTUPAS"});
  EXPECT_EQ(wire.Command("UPASCashier   0000012345"), std::vector<std::string>{"READY"});
  auto replies = wire.Command("CONf");
  ASSERT_EQ(replies.size(), 2u);
  ASSERT_EQ(replies[0].size(), 152u);
  EXPECT_EQ(replies[0].substr(4, 3), "441");
  EXPECT_EQ(replies[0][74], '2');

  EXPECT_EQ(wire.Command("PREP1"), std::vector<std::string>{"SOFTSLWORK"});
  EXPECT_TRUE(sim.SendControl("key R"));
  EXPECT_EQ(wire.Command("PREP1"), std::vector<std::string>{"READY"});
  // a whole-goods line of 2 x 5.00 in group B (20.00 on-sale), no article
  std::string line = "FISCTea         000001000000000500000021";
  line += "0";
  line += "000000";
  line += "\x81" + std::string("12000");
  line += std::string(6 * 6, '0');
  line += "0000";
  EXPECT_EQ(wire.Command(line), (std::vector<std::string>{"FISC0000000200", "READY"}));

  EXPECT_TRUE(sim.SendControl("paper out"));
  EXPECT_EQ(wire.Command("COMP" + std::string(50, '0') + "0000001200"),
            std::vector<std::string>{"HARDPAPER"});
  EXPECT_TRUE(sim.SendControl("paper in"));
  // sales 10.00, no returns, packing, cheque or credit, 12.00 cash
  replies = wire.Command(
      "COMP"
      "0000001000" +
      std::string(40, '0') + "0000001200");
  ASSERT_EQ(replies.size(), 2u);
  EXPECT_EQ(replies[0],
            "COMP"
            "0000000001"
            "0000001200"
            "0000000200"
            "0000000000"
            "0000000000"
            "0000000000"
            "0000000000"
            "0000000000"
            "0000000000");

  // the fiscal registers reply is longer than a length byte can count
  replies = wire.Command("CFIS");
  ASSERT_EQ(replies.size(), 2u);
  EXPECT_EQ(replies[0].size(), 4u + 264);
  EXPECT_EQ(replies[0].substr(4, 12), "000000001200");
  EXPECT_TRUE(sim.SendControl("registers"));
  EXPECT_NE(sim.LastReply().find("checks=1"), std::string::npos);

  // a status word for the next command, then an unsolicited one
  EXPECT_TRUE(sim.SendControl("status SOFTNREP"));
  EXPECT_EQ(wire.Command("KASS"), std::vector<std::string>{"SOFTNREP"});
  EXPECT_EQ(wire.Command("KASS"), std::vector<std::string>{"READY"});
}

}  // namespace
}  // namespace vekta
