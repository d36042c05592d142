#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "sim/frame_parser.h"
#include "sim/sim_control.h"
#include "tests/sim/test_wire.h"
#include "tests/support/files.h"
#include "tests/support/sim_harness.h"

namespace vekta {
namespace {

using test::Messages;

// What the parser made of `bytes`: "U" for a wake-up, "!" for a damaged frame, else the text.
std::string Feed(SimFrameParser& parser, const std::string& bytes) {
  std::vector<SimInput> inputs;
  parser.Feed(bytes.data(), bytes.size(), inputs);
  std::string out;
  for (const SimInput& input : inputs) {
    out += input.kind == SimInput::Kind::kWakeUp     ? "U"
           : input.kind == SimInput::Kind::kBadFrame ? "!"
                                                     : input.text;
    out += ';';
  }
  return out;
}

TEST(SimFrameParser, CutsFramesFromNoiseAndChecksTheLengthByteInBytes) {
  SimFrameParser parser;
  // noise before a frame, a wake-up byte, a frame holding "U" that is not a wake-up
  EXPECT_EQ(Feed(parser, std::string("AB\x55") + SimFrame("UPAS") + "\x13"), "U;UPAS;");
  // a frame split in three writes gives one command after the last
  const std::string frame = SimFrame("CONf");
  EXPECT_EQ(Feed(parser, frame.substr(0, 2)), "");
  EXPECT_EQ(Feed(parser, frame.substr(2, 2)), "");
  EXPECT_EQ(Feed(parser, frame.substr(4)), "CONf;");
  EXPECT_EQ(Feed(parser, SimFrame("KASS") + SimFrame("FEED3")), "KASS;FEED3;");
  // empty frames and a frame of only its length byte carry nothing
  EXPECT_EQ(Feed(parser, "\xFD\xFE\xFD\x01\xFE"), "");
  // a start byte inside a frame restarts it: the cut frame is lost, the next one survives
  EXPECT_EQ(Feed(parser, "\xFDKA" + SimFrame("GETD")), "GETD;");

  // Cyrillic in 866 is one byte per letter: "PREP" + two letters is 6 bytes, length 7
  EXPECT_EQ(static_cast<unsigned char>(SimFrame("PREP\x80\x81")[7]), 7);
  EXPECT_EQ(Feed(parser, SimFrame("PREP\x80\x81")), "PREP\x80\x81;");
  // a length counted in UTF-8 bytes, as a host that forgot the conversion would send
  EXPECT_EQ(Feed(parser, std::string("\xFDPREP\x80\x81\x09\xFE")), "!;");
  EXPECT_EQ(SimLengthByte(250), 251);
  EXPECT_EQ(SimLengthByte(264 + 4), 0);
  // a length byte never reads as a start or end byte: texts of every length come through whole
  for (const std::size_t size : {251u, 252u, 253u, 254u}) {
    const std::string text = "TEXT" + std::string(size - 4, 'a');
    EXPECT_EQ(Feed(parser, SimFrame(text)), text + ";") << size;
  }
  // noise longer than any frame is dropped: an end byte after it ends no frame
  EXPECT_EQ(Feed(parser, "\xFD" + std::string(SimFrameParser::kMaxFrame + 10, 'x') + "\xFE"), "");
}

TEST(SimPty, AnUnpluggedPrinterLeavesNoDeviceBehindItsLink) {
  const TempDir dir;
  SimOptions options;
  options.linkPath = dir.Path() + "/link";
  SimHarness sim(options);
  struct stat st {};
  ASSERT_EQ(::lstat(options.linkPath.c_str(), &st), 0);
  sim.Printer().Unplug();
  // the old pseudo-terminal's number is free for anyone; the link must not lead there
  EXPECT_NE(::lstat(options.linkPath.c_str(), &st), 0);

  // A --link naming something that is not a link (a device, a file) is never removed.
  options.linkPath = dir.Write("file", "");
  EXPECT_FALSE(SimPrinter(options).Start());
  EXPECT_EQ(::lstat(options.linkPath.c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
}

TEST(SimPty, TheLineCountsEveryByteAndThePrintTime) {
  SimOptions options;
  options.baud = 57600;
  options.printLineMs = 7;
  SimHarness sim(options);
  test::TestWire wire(sim.DevicePath());
  EXPECT_EQ(wire.Command("UPASKasir     7777777777"), Messages{"READY"});
  EXPECT_EQ(RunSimControl(sim.Printer(), "line"), "in=27 out=8 print_ms=0");

  EXPECT_EQ(wire.Command("CCAS").back(), "READY");
  wire.Command("FEED3");
  const SimPrinter::LineCounts counts = sim.Printer().Counts();
  EXPECT_EQ(counts.printMs, 21u);
  EXPECT_EQ(counts.bytesIn, 27u + 7 + 8);
  EXPECT_GT(counts.bytesOut, 8u + 8 + 8);
}

TEST(SimControl, ControlCommandsAndLineFaultsOverThePseudoTerminal) {
  SimHarness sim;
  SimPrinter& printer = sim.Printer();
  test::TestWire wire(sim.DevicePath());
  // garbage around a frame is ignored; a bad length byte is refused as a damaged frame
  wire.SendRaw("\x01\x02zz");
  wire.SendRaw("\xFDKASS\x09\xFE");
  EXPECT_EQ(wire.Receive(), Messages{"SOFTBLOCK"});
  // split replies arrive whole once both halves are in
  EXPECT_EQ(RunSimControl(printer, "split on"), "ok");
  wire.SendRaw("\x55");
  EXPECT_EQ(wire.Receive(std::chrono::milliseconds(400)), Messages{"READY"});
  EXPECT_EQ(RunSimControl(printer, "split off"), "ok");

  bool quit = false;
  EXPECT_EQ(RunSimControl(printer, "", &quit), "ok");
  for (const char* bad :
       {"garbage 41 4g", "garbage 41 fe 100", "split maybe", "clock soon", "key Q", "no such"}) {
    EXPECT_EQ(RunSimControl(printer, bad).rfind("error", 0), 0u) << bad;
  }
  for (const char* good : {"garbage 41 fe", "clock 90000", "silence on", "silence off", "power off",
                           "power on", "key P", "paper out", "status-first HARDSENSOR"}) {
    EXPECT_EQ(RunSimControl(printer, good), "ok") << good;
    if (std::string(good) == "silence on" || std::string(good) == "power off") {
      EXPECT_FALSE(sim.Model().Answering()) << good;
    }
  }
  EXPECT_TRUE(sim.Model().Answering());
  EXPECT_EQ(sim.Model().KeyPosition(), 'P');

  // a status word for the next command goes out ahead of its own answer
  EXPECT_EQ(wire.Command("UPASKasir     7777777777"), (Messages{"HARDSENSOR", "READY"}));
  EXPECT_EQ(wire.Command("FEED1"), Messages{"HARDPAPER"});
  EXPECT_EQ(RunSimControl(printer, "paper in"), "ok");

  // replug gives a new device (the kernel may hand out the same number again); a frame cut off
  // by the pulled cable goes with the line, so the wake-up after the replug counts
  wire.SendRaw("\xFDKA");
  wire.Receive(std::chrono::milliseconds(100));
  const std::string after = RunSimControl(printer, "replug");
  EXPECT_EQ(after, sim.DevicePath());
  EXPECT_EQ(after.rfind("/dev/pts/", 0), 0u);
  wire.Receive();
  EXPECT_TRUE(wire.Lost());
  test::TestWire again(after);
  again.SendRaw("\x55");
  EXPECT_EQ(again.Receive(std::chrono::milliseconds(400)), Messages{"READY"});
  EXPECT_EQ(again.Command("FEED1"), Messages{"READY"});

  EXPECT_EQ(RunSimControl(printer, "quit", &quit), "ok");
  EXPECT_TRUE(quit);
}

TEST(SimProcessTest, BinaryTakesItsOptionsAndControlLinesOverThePty) {
  const std::string link = ::testing::TempDir() + "orbis-sim-link-" + std::to_string(getpid());
  SimProcess sim({"--link", link, "--model", "0.1", "--password", "0000012345", "--key", "X"});
  ASSERT_TRUE(sim.Running());
  EXPECT_EQ(std::filesystem::read_symlink(link), sim.DevicePath());
  test::TestWire wire(link);
  EXPECT_EQ(wire.Command("UPASCashier   0000012345"), Messages{"READY"});
  auto replies = wire.Command("CONf");
  ASSERT_EQ(replies.size(), 2u);
  ASSERT_EQ(replies[0].size(), 152u);
  EXPECT_EQ(replies[0].substr(4, 3), "441");
  EXPECT_EQ(replies[0][74], '2');

  EXPECT_TRUE(sim.SendControl("registers"));
  EXPECT_NE(sim.LastReply().find("checks=0"), std::string::npos);

  // a status word for the next command, then an unsolicited one
  EXPECT_TRUE(sim.SendControl("status SOFTNREP"));
  EXPECT_EQ(wire.Command("KASS"), Messages{"SOFTNREP"});
  EXPECT_TRUE(sim.SendControl("unsolicited SOFTNREP"));
  EXPECT_EQ(wire.Receive(), Messages{"SOFTNREP"});

  EXPECT_TRUE(sim.SendControl("unplug"));
  wire.Receive();
  EXPECT_TRUE(wire.Lost());
}

}  // namespace
}  // namespace vekta
