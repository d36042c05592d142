#include <gtest/gtest.h>

#include <thread>

#include "platform/string_table.h"
#include "tests/fiscal/fiscal_fixture.h"

namespace vekta::testing_fiscal {
namespace {

using Commands = std::vector<std::string>;

class TextDocumentTest : public FiscalFixture {};

TEST_F(TextDocumentTest, ADocumentIsClearedFilledAndPrinted) {
  Connect();
  EXPECT_EQ(Link().EndTextDocument(), 0);  // nothing open: nothing sent
  EXPECT_EQ(Link().OpenTextDocument(), 1);
  EXPECT_EQ(Link().FreeTextLine(1, 0, 0, W("Дякуємо")), 1);
  EXPECT_EQ(Link().FreeTextLine(0, 1, 0, "after"), 1);
  EXPECT_EQ(Link().FreeTextLine(0x10000, 0x10000, 7, "flags cut to 16 bits"), 1);
  EXPECT_EQ(Link().FreeTextLine(0, 0, 0, std::string(50, 'x')), 1);
  EXPECT_EQ(Link().CloseTextDocument(1), 1);
  EXPECT_FALSE(Link().IsTextDocumentOpen());
  EXPECT_EQ(Link().ClearFreeTextLines(), 1);
  EXPECT_EQ(Sent(),
            (Commands{"CTXT", "TEXT000Дякуємо", "TEXT110after", "TEXT101flags cut to 16 bits",
                      "TEXT100" + std::string(43, 'x'), "DBEG1", "PRTX", "CTXT"}));
}

TEST_F(TextDocumentTest, LineLimitOnVariant2AndReceiptAbortedBeforeTheDocument) {
  PrinterSetup variant2;
  variant2.serialNumber = "4501234567";
  variant2.firmwareId = "vTTs";
  Connect(variant2);
  EXPECT_EQ(Link().FreeTextLine(0, 0, 1, std::string(50, 'y')), 1);
  ASSERT_EQ(Link().OpenCheck("1"), 1);
  EXPECT_EQ(Link().CloseTextDocument(0), 1);
  EXPECT_FALSE(Link().IsCheckOpen());
  EXPECT_EQ(Sent(), (Commands{"TEXT101" + std::string(36, 'y'), "PREP1", "CANC", "DBEG0", "PRTX"}));
}

TEST_F(TextDocumentTest, RefusalsStopTheDocument) {
  Connect();
  OnCommand([](const std::string& command) -> std::vector<std::string> {
    if (command.rfind("DBEG", 0) == 0) return {"SOFTPROTOC"};
    return {"READY"};
  });
  EXPECT_EQ(Link().CloseTextDocument(0), 0);
  EXPECT_FALSE(Link().IsTextDocumentOpen());
  EXPECT_EQ(Sent(), Commands{"DBEG0"});

  // A status word waiting in the queue (left by an asynchronous report) refuses the line.
  Reset();
  DeliverUnasked("HARDPAPER");
  EXPECT_EQ(Link().FreeTextLine(0, 0, 0, "line"), 0);
  EXPECT_TRUE(Sent().empty());
  EXPECT_EQ(LastErrorUtf8(), LoadStringUtf8(2020));
}

}  // namespace
}  // namespace vekta::testing_fiscal
