// The reply waits of the receipt steps on a fake clock: a refusal ends a wait at once, and only
// silence costs the wait's time.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "tests/fiscal/fiscal_fixture.h"

namespace vekta::testing_fiscal {
namespace {

using std::chrono::milliseconds;

class ReceiptWaitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_line->SetResponder([this](const std::string& command) -> Commands {
      if (command == "\x55") return {"READY"};
      if (command == "CONf") return {ConfReply(PrinterSetup{}), "READY"};
      if (command == "CNAL") return {CnalReply(PrinterSetup{}), "READY"};
      if (!m_refused.empty() && command.rfind(m_refused, 0) == 0) return m_refusal;
      return {"READY"};
    });
    m_link = std::make_unique<PrinterLink>(1, m_host, m_clock, FixtureTimings());
    ASSERT_GT(m_link->Connect("COM1", "CASHIER", "7777777777"), 0);
    m_link->SetShowErrorMessages(false);
  }
  void TearDown() override { m_link.reset(); }

  // Commands starting with `prefix` get `replies`; every other command "READY".
  void Refuse(std::string prefix, Commands replies) {
    m_refused = std::move(prefix);
    m_refusal = std::move(replies);
  }

  // The fake time a call took, and the time-outs it counted.
  template <typename Call>
  milliseconds Timed(Call call, std::uint64_t& timeouts) {
    const std::uint64_t before = m_link->Stats().timeouts;
    const auto start = m_clock.Now();
    call();
    timeouts = m_link->Stats().timeouts - before;
    return std::chrono::duration_cast<milliseconds>(m_clock.Now() - start);
  }

  std::shared_ptr<FakeLine> m_line = std::make_shared<FakeLine>();
  ScriptedLinkHost m_host{m_line};
  FakeClock m_clock;
  std::unique_ptr<PrinterLink> m_link;
  std::string m_refused;
  Commands m_refusal;
};

TEST_F(ReceiptWaitTest, WrongPositionNumberIsARefusalInEveryReceiptStep) {
  // "SOFFPOSNO" is the one status word without "SOFT" in it; waited on as an ordinary reply,
  // each step would sit out its time-out and report a lost link instead of the refusal.
  const std::string refusal = LoadString1251(2037);
  std::uint64_t timeouts = 0;

  Refuse("PREP", {"SOFFPOSNO"});
  EXPECT_EQ(Timed([&] { EXPECT_EQ(m_link->OpenCheck("1"), 0); }, timeouts), milliseconds(0));
  EXPECT_EQ(timeouts, 0u);
  EXPECT_EQ(m_link->LastErrorText(), refusal);
  EXPECT_FALSE(m_link->IsCheckOpen());

  Refuse("FISC", {"SOFFPOSNO"});
  ASSERT_EQ(m_link->OpenCheck("1"), 1);
  m_link->SetLastErrorText("");
  EXPECT_EQ(Timed([&] { EXPECT_EQ(m_link->FiscalLine("A", 1, 1000, 0, 1, 8, 0), -1); }, timeouts),
            milliseconds(0));
  EXPECT_EQ(timeouts, 0u);
  EXPECT_EQ(m_link->LastErrorText(), refusal);
  EXPECT_TRUE(m_link->IsCheckOpen());
  EXPECT_EQ(m_link->Sums().Total(), 0);

  Refuse("COMP", {"SOFFPOSNO"});
  ASSERT_GT(m_link->FiscalLine("B", 1, 1000, 0, 0, 0, 0), 0);
  m_link->SetLastErrorText("");
  EXPECT_EQ(Timed([&] { EXPECT_EQ(m_link->CloseCheck(), -1); }, timeouts), milliseconds(0));
  EXPECT_EQ(timeouts, 0u);
  EXPECT_EQ(m_link->LastErrorText(), refusal);
  EXPECT_TRUE(m_link->IsCheckOpen());

  Refuse("CANC", {"SOFFPOSNO"});
  m_link->SetLastErrorText("");
  EXPECT_EQ(Timed([&] { EXPECT_EQ(m_link->AbortCheck(), 0); }, timeouts), milliseconds(0));
  EXPECT_EQ(timeouts, 0u);
  EXPECT_EQ(m_link->LastErrorText(), refusal);
  EXPECT_TRUE(m_link->IsCheckOpen());

  // Silence, by contrast, is waited on for the whole step and reported as no link.
  Refuse("CANC", {});
  EXPECT_EQ(Timed([&] { EXPECT_EQ(m_link->AbortCheck(), 0); }, timeouts), milliseconds(3000));
  EXPECT_EQ(timeouts, 1u);
  EXPECT_EQ(m_link->LastErrorText(), LoadString1251(1003));
}

}  // namespace
}  // namespace vekta::testing_fiscal
