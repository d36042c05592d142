#include "service/orbis.h"

#include <algorithm>
#include <chrono>
#include <new>
#include <string>

#include "fiscal/xml_documents.h"
#include "platform/codepage.h"

namespace vekta {

namespace {

// A command frame carries at most 251 bytes, and the printer cuts frames at 0xFD and 0xFE
// wherever they stand: such a text would reach the printer as something else.
constexpr std::size_t kMaxFrameText = 251;

// How often a pending-message wait looks whether its object has been abandoned.
constexpr std::chrono::milliseconds kAbandonCheck{100};

bool FrameCanCarry(const std::string& text1251) {
  const std::string wire = Cp1251ToCp866(text1251);
  if (wire.size() > kMaxFrameText) return false;
  for (char c : wire) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte == 0xFD || byte == 0xFE) return false;
  }
  return true;
}

std::string In(const std::string& utf8) {
  return Utf8ToCp1251(utf8);
}

template <class T>
void SetOut(const Out<T>& out, std::type_identity_t<T> value) {
  out.Set(std::move(value));
}

// Runs an operation that talks to the printer: one at a time per port, and a link whose device
// vanished is reopened first.
template <class Op>
auto Talk(const SharedLink& link, Op&& op) {
  const LockedLink locked = link.Lock();
  if (locked->IsLost()) locked->Reconnect();
  return op(*locked);
}

// A command that reports success as non-zero.
template <class Op>
HRESULT Command(const SharedLink& link, Op&& op) {
  if (!link) return E_FAIL;
  try {
    return Talk(link, op) != 0 ? S_OK : E_FAIL;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    LogCaught("a printer command");
    return E_FAIL;
  }
}

// A text result: E_FAIL with the out value untouched when the text is empty.
template <class Make>
HRESULT TextResult(Make&& make, Out<std::string> out) {
  try {
    std::string text = make();
    if (text.empty()) return E_FAIL;
    SetOut(out, Cp1251ToUtf8(text));
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    LogCaught("a printer query");
    return E_FAIL;
  }
}

template <class Op>
HRESULT PrinterText(const SharedLink& link, Op&& op, Out<std::string> out) {
  if (!link) return E_FAIL;
  return TextResult([&] { return Talk(link, op); }, out);
}

// A printer query whose reply data is turned into a document; no document without data.
template <class Op, class Build>
HRESULT PrinterXml(const SharedLink& link, Op&& op, Build&& build, Out<std::string> out) {
  if (!link) return E_FAIL;
  return TextResult(
      [&]() -> std::string {
        const std::string data = Talk(link, op);
        if (data.empty()) return {};
        return build(data);
      },
      out);
}

// A running sum of the receipt: 0 in the out value when the object is detached.
template <class Read>
HRESULT SumResult(const SharedLink& link, Read&& read, Out<std::int32_t> out) {
  if (!link) {
    SetOut(out, std::int32_t{0});
    return E_FAIL;
  }
  SetOut(out, read(link));
  return S_OK;
}

}  // namespace

Orbis::Orbis(PrinterRegistry& registry) : m_registry(registry) {}

Orbis::~Orbis() {
  std::lock_guard<std::mutex> lock(m_mutex);
  DetachLocked();
}

std::shared_ptr<PrinterEntry> Orbis::Entry() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_client.entry;
}

SharedLink Orbis::AttachedLink() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_client.portNumber <= 0 || !m_client.entry) return {};
  return m_client.entry->Link();  // none once the registry has closed the port
}

void Orbis::SetEntry(std::shared_ptr<PrinterEntry> entry) {
  m_client.entry = entry;
  m_attachedPort = entry ? m_client.portNumber : 0;
  std::lock_guard<std::mutex> lock(m_abandonMutex);
  m_abandonEntry = std::move(entry);
}

void Orbis::DetachLocked() {
  // Without an entry nothing was counted: a detachment would take another client's.
  if (m_client.portNumber > 0 && m_client.entry) {
    m_client.entry->ReleaseAll(this);
    m_registry.DetachClient(static_cast<std::uint32_t>(m_client.portNumber), m_client.callerName);
  }
  m_client.portNumber = 0;
  SetEntry(nullptr);
}

void Orbis::Abandon() {
  m_abandoned = true;
  std::shared_ptr<PrinterEntry> entry;
  {
    std::lock_guard<std::mutex> lock(m_abandonMutex);
    entry = m_abandonEntry;
  }
  if (!entry) return;
  entry->ReleaseAll(this);
  entry->WakeWaiters();
}

HRESULT Orbis::Init(std::int32_t portNumber, const std::string& cashierName,
                    const std::string& cashierPassword, std::int32_t showStatusDialogs,
                    const std::string& callerApplicationName) {
  if (portNumber <= 0 || callerApplicationName.empty()) return E_INVALIDARG;
  std::lock_guard<std::mutex> lock(m_mutex);
  try {
    // A second Init would otherwise leave the first attachment counted, and its port open,
    // until the process ends. On the same port the first goes only once the second is counted:
    // in between the port would close, aborting the receipt the client has open on it.
    std::string samePortCaller;
    const bool samePort = m_client.portNumber == portNumber && m_client.entry;
    if (samePort) {
      m_client.entry->ReleaseAll(this);
      samePortCaller = m_client.callerName;
    } else if (m_client.portNumber > 0 && m_client.entry) {
      DetachLocked();
    }

    m_client.portNumber = portNumber;
    m_client.callerName = In(callerApplicationName);
    const auto port = static_cast<std::uint32_t>(portNumber);
    PrinterRegistry::Attachment attachment =
        m_registry.AttachClient(port, m_client.callerName, this);
    if (samePort) m_registry.DetachClient(port, samePortCaller);
    SetEntry(attachment.entry);
    PrinterEntry& entry = *attachment.entry;
    if (!attachment.connects) {
      // The port's first client may still be connecting: its outcome is this one's, and no
      // object stays attached to a link that never connected.
      if (entry.WaitConnected(&m_abandoned)) return S_OK;
      DetachLocked();
      return E_FAIL;
    }

    // The registry locked the entry for this object, so that no other client's LockPrinter
    // gets in while the printer connects.
    SharedLink link = entry.Link();
    bool connected = false;
    {
      // However the connect ends, the lock goes back and the clients waiting learn the outcome.
      struct Outcome {
        PrinterEntry& entry;
        const void* owner;
        const bool& connected;
        ~Outcome() {
          entry.Unlock(owner);
          entry.FinishConnect(connected);
        }
      } outcome{entry, this, connected};
      if (link && entry.GetLock().IsHeldBy(this)) {
        link.SetShowStatusWindows(showStatusDialogs != 0);
        const LockedLink command = link.Lock();
        connected = command->Connect("COM" + std::to_string(portNumber), In(cashierName),
                                     In(cashierPassword)) > 0;
      }
    }
    if (connected) return S_OK;
    link = {};
    DetachLocked();
    return E_FAIL;
  } catch (const std::bad_alloc&) {
    DetachLocked();
    return E_OUTOFMEMORY;
  }
}

HRESULT Orbis::GetPortNumber(Out<std::int32_t> pPortNumber) {
  std::lock_guard<std::mutex> lock(m_mutex);
  SetOut(pPortNumber, m_client.portNumber);
  return S_OK;
}

HRESULT Orbis::Done() {
  std::lock_guard<std::mutex> lock(m_mutex);
  DetachLocked();
  return S_OK;
}

HRESULT Orbis::LockPrinter(std::int32_t timeoutInMilliseconds) {
  std::shared_ptr<PrinterEntry> entry;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_client.portNumber <= 0 || !m_client.entry || !m_client.entry->Link()) return E_FAIL;
    entry = m_client.entry;
  }
  // The time-out is unsigned: -1 waits without limit, or until this object is abandoned.
  const auto timeout = static_cast<std::uint32_t>(timeoutInMilliseconds);
  if (!entry->Lock(this, timeout, &m_abandoned)) {
    return m_abandoned.load() ? E_FAIL : CONTEXT_E_SYNCH_TIMEOUT;
  }
  // Done on another thread while this one waited: a lock taken now would outlive the object's
  // attachment and hold every other client back.
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_client.entry != entry || m_abandoned.load()) {
    entry->ReleaseAll(this);
    return E_FAIL;
  }
  return S_OK;
}

HRESULT Orbis::UnlockPrinter() {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_client.portNumber <= 0 || !m_client.entry || !m_client.entry->Link()) return E_FAIL;
  m_client.entry->Unlock(this);
  return S_OK;
}

HRESULT Orbis::LowSendMessageToPrinter(const std::string& textMessage) {
  auto link = AttachedLink();
  if (!link) return E_FAIL;
  const std::string text = In(textMessage);
  if (!FrameCanCarry(text)) return E_INVALIDARG;
  // Nothing written (no open port) is a failure, not a sent message.
  return Command(link, [&](PrinterLink& l) { return l.PassThroughFrame(text); });
}

std::string Orbis::WaitPendingMessage(const SharedLink& link, std::int32_t timeoutMs) {
  Clock& clock = link->GetClock();
  const Clock::TimePoint deadline = clock.Now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
  for (bool first = true;; first = false) {
    {
      // The queue has one consumer at a time: the message is taken under the command mutex,
      // like a command's reply. Only the first look reopens a vanished device, as a call does.
      const LockedLink command = link.Lock();
      if (first && command->IsLost()) command->Reconnect();
      std::string message = command->TakePendingMessage(0);
      if (!message.empty() || command->IsLost()) return message;
      command->Queue().Rearm();  // another client's command took what woke this wait
    }
    // The wait holds nothing of the port, so that the other clients' calls go on meanwhile.
    for (;;) {
      if (m_abandoned.load()) return {};
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock.Now());
      if (left.count() <= 0) return {};
      if (clock.WaitFor(link->Queue().MessageEvent(), std::min(left, kAbandonCheck))) break;
    }
  }
}

HRESULT Orbis::LowGetNextPendingPrinterMessage(std::int32_t timeoutMilliseconds,
                                               Out<std::string> textMessage) {
  auto link = AttachedLink();
  if (!link) return E_FAIL;
  try {
    const std::string message = WaitPendingMessage(link, timeoutMilliseconds);
    SetOut(textMessage, Cp1251ToUtf8(message));
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    LogCaught("LowGetNextPendingPrinterMessage");
    return E_FAIL;
  }
}

HRESULT Orbis::SetShowPrinterStatus(std::int32_t showStatusDialogs) {
  auto link = AttachedLink();
  if (!link) return E_FAIL;
  link.SetShowStatusWindows(showStatusDialogs != 0);
  return S_OK;
}

HRESULT Orbis::GetPrinterSerialNumber(Out<std::string> serialNumber) {
  auto link = AttachedLink();
  if (!link) return E_FAIL;
  try {
    SetOut(serialNumber, Cp1251ToUtf8(link->SerialNumber()));
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT Orbis::GetPrinterConfigXML(std::int32_t refreshFromPrinter,
                                   Out<std::string> vektaPrinterConfigXML) {
  auto link = AttachedLink();
  if (!link) return E_FAIL;
  // A failed refresh is reported by the link; the document then shows what is stored.
  if (refreshFromPrinter != 0) Talk(link, [](PrinterLink& l) { return l.ReadConfiguration(); });
  return TextResult([&] { return BuildConfigXml(link->Config()); }, vektaPrinterConfigXML);
}

HRESULT Orbis::SetCheckMessagesMode(std::int32_t checkMessagesMode) {
  return Command(AttachedLink(),
                 [&](PrinterLink& l) { return l.SetCheckMessagesMode(checkMessagesMode); });
}

HRESULT Orbis::OpenCheck(const std::string& departmentName) {
  const std::string name = In(departmentName);
  return Command(AttachedLink(), [&](PrinterLink& l) { return l.OpenCheck(name); });
}

HRESULT Orbis::SetReturnCheckNumber(std::int32_t returnCheckNumber) {
  return Command(AttachedLink(),
                 [&](PrinterLink& l) { return l.SetReturnCheckNumber(returnCheckNumber); });
}

HRESULT Orbis::OpenReturnCheck(const std::string& departmentName) {
  const std::string name = In(departmentName);
  return Command(AttachedLink(), [&](PrinterLink& l) { return l.OpenReturnCheck(name); });
}

HRESULT Orbis::LongName(const std::string& longName) {
  const std::string name = In(longName);
  return Command(AttachedLink(), [&](PrinterLink& l) { return l.LongName(name); });
}

HRESULT Orbis::SetCurrentCheckDirection(std::int32_t checkDirection) {
  auto link = AttachedLink();
  if (!link) return E_FAIL;
  return Command(link, [&](PrinterLink& l) -> short {
    if (!l.IsCheckOpen()) return 0;
    l.SetCurrentCheckDirection(checkDirection);
    return 1;  // a sales receipt is now a return one; a return one stays so
  });
}

HRESULT Orbis::FiscalLine(const std::string& goodsName, std::int32_t qty, std::int32_t price,
                          std::int32_t goodsDividual, std::int32_t tax1Index,
                          std::int32_t tax2Index, std::int32_t article,
                          Out<std::int32_t> thisLineSum) {
  return FiscalLineEx(goodsName, qty, price, goodsDividual, tax1Index, tax2Index, article, 0, "", 0,
                      thisLineSum);
}

HRESULT Orbis::FiscalLineEx(const std::string& goodsName, std::int32_t qty, std::int32_t price,
                            std::int32_t goodsDividual, std::int32_t tax1Index,
                            std::int32_t tax2Index, std::int32_t article,
                            std::int32_t discountDirection, const std::string& discountName,
                            std::int32_t discountValue, Out<std::int32_t> thisLineSum) {
  auto link = AttachedLink();
  if (!link) return E_FAIL;
  try {
    const std::string name = In(goodsName);
    const std::string discount = In(discountName);
    // 0 is a line the operation turned down without an error: S_OK with 0.
    const std::int32_t sum = Talk(link, [&](PrinterLink& l) {
      return l.FiscalLineEx(name, qty, price, goodsDividual, tax1Index, tax2Index, article,
                            discountDirection, discount, discountValue);
    });
    SetOut(thisLineSum, sum);
    return sum < 0 ? E_FAIL : S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    LogCaught("FiscalLineEx");
    return E_FAIL;
  }
}

HRESULT Orbis::FreeTextLine(std::int32_t placeBeforeFiscalPart, std::int32_t printOnJornal,
                            std::int32_t useBoldStyle, const std::string& textMessage) {
  const std::string text = In(textMessage);
  return Command(AttachedLink(), [&](PrinterLink& l) {
    return l.FreeTextLine(placeBeforeFiscalPart, printOnJornal, useBoldStyle, text);
  });
}

HRESULT Orbis::GetCheckSum(Out<std::int32_t> checkSum) {
  return SumResult(
      AttachedLink(), [](const SharedLink& l) { return l->GetCheckSum(); }, checkSum);
}

HRESULT Orbis::GetCheckOnSaleTaxes(Out<std::int32_t> checkOnSaleTaxes) {
  return SumResult(
      AttachedLink(), [](const SharedLink& l) { return l->GetCheckOnSaleTaxes(); },
      checkOnSaleTaxes);
}

HRESULT Orbis::GetCheckReturnSum(Out<std::int32_t> checkReturnSum) {
  return SumResult(
      AttachedLink(), [](const SharedLink& l) { return l->GetCheckReturnSum(); }, checkReturnSum);
}

HRESULT Orbis::GetCheckReturnOnSaleTaxes(Out<std::int32_t> checkReturnOnSaleTaxes) {
  return SumResult(
      AttachedLink(), [](const SharedLink& l) { return l->GetCheckReturnOnSaleTaxes(); },
      checkReturnOnSaleTaxes);
}

HRESULT Orbis::ClearFreeTextLines() {
  return Command(AttachedLink(), [](PrinterLink& l) { return l.ClearFreeTextLines(); });
}

HRESULT Orbis::CloseCheck(Out<std::int32_t> checkSum) {
  // S_OK whatever the printer said: the out value carries the operation's result.
  return SumResult(
      AttachedLink(),
      [](const SharedLink& l) { return Talk(l, [](PrinterLink& t) { return t.CloseCheck(); }); },
      checkSum);
}

HRESULT Orbis::CloseCheckEx(std::int32_t cash, std::int32_t payCheck, std::int32_t credit,
                            std::int32_t packing, Out<std::int32_t> checkSum) {
  return SumResult(
      AttachedLink(),
      [&](const SharedLink& l) {
        return Talk(
            l, [&](PrinterLink& t) { return t.CloseCheckEx(cash, payCheck, credit, packing); });
      },
      checkSum);
}

HRESULT Orbis::AbortCheck() {
  return Command(AttachedLink(), [](PrinterLink& l) { return l.AbortCheck(); });
}

HRESULT Orbis::GetCheckResult(Out<std::string> checkResult) {
  auto link = AttachedLink();
  if (!link) return E_FAIL;
  return TextResult([&] { return link->CheckResultText(); }, checkResult);
}

HRESULT Orbis::CheckCopy() {
  return Command(AttachedLink(), [](PrinterLink& l) { return l.CheckCopy(); });
}

HRESULT Orbis::SetOnSaleTaxesPrintMode(std::int32_t taxesPrintMode) {
  return Command(AttachedLink(),
                 [&](PrinterLink& l) { return l.SetOnSaleTaxesPrintMode(taxesPrintMode); });
}

HRESULT Orbis::MoveCash(std::int32_t moveDirection, std::int32_t cashSum) {
  return Command(AttachedLink(),
                 [&](PrinterLink& l) { return l.MoveCash(moveDirection, cashSum); });
}

HRESULT Orbis::GetPrinterConfig(Out<std::string> config) {
  return PrinterText(
      AttachedLink(), [](PrinterLink& l) { return l.GetConfigText(); }, config);
}

HRESULT Orbis::GetPrinterKeyPosition(Out<std::int32_t> keyPosition) {
  auto link = AttachedLink();
  if (!link) return E_FAIL;
  const int position = Talk(link, [](PrinterLink& l) { return l.GetPrinterKeyPosition(); });
  if (position < 0) return E_FAIL;
  SetOut(keyPosition, static_cast<std::int32_t>(position));
  return S_OK;
}

HRESULT Orbis::GetArticleInfo(std::int32_t article, Out<std::string> articleInfo) {
  return PrinterText(
      AttachedLink(), [&](PrinterLink& l) { return l.GetArticleInfo(article); }, articleInfo);
}

HRESULT Orbis::GetArticleInfoXML(std::int32_t article, Out<std::string> articleInfo) {
  return PrinterXml(
      AttachedLink(), [&](PrinterLink& l) { return l.GetArticleInfo(article); },
      [](const std::string& data) { return BuildArticleXml(data); }, articleInfo);
}

HRESULT Orbis::GetPrinterTime(Out<std::string> printerTime) {
  return PrinterText(
      AttachedLink(), [](PrinterLink& l) { return l.GetPrinterTime(); }, printerTime);
}

HRESULT Orbis::GetCashInfo(Out<std::string> cashInfo) {
  return PrinterText(
      AttachedLink(), [](PrinterLink& l) { return l.GetCashInfo(); }, cashInfo);
}

HRESULT Orbis::GetCashInfoXML(Out<std::string> cashInfo) {
  return PrinterXml(
      AttachedLink(), [](PrinterLink& l) { return l.GetCashInfo(); },
      [](const std::string& data) { return BuildCashInfoXml(data); }, cashInfo);
}

HRESULT Orbis::GetFiscalInfo(Out<std::string> fiscalInfo) {
  return PrinterText(
      AttachedLink(), [](PrinterLink& l) { return l.GetFiscalInfo(); }, fiscalInfo);
}

HRESULT Orbis::GetFiscalInfoXML(Out<std::string> fiscalInfo) {
  return PrinterXml(
      AttachedLink(), [](PrinterLink& l) { return l.GetFiscalInfo(); },
      [](const std::string& data) { return BuildFiscalInfoXml(data); }, fiscalInfo);
}

HRESULT Orbis::GetTaxesInfo(Out<std::string> taxesInfo) {
  return PrinterText(
      AttachedLink(), [](PrinterLink& l) { return l.GetTaxesInfo(); }, taxesInfo);
}

HRESULT Orbis::GetTaxesInfoXML(Out<std::string> taxesInfo) {
  auto link = AttachedLink();
  if (!link) return E_FAIL;
  return TextResult([&] { return BuildTaxesXml(link->Config()); }, taxesInfo);
}

HRESULT Orbis::OpenTextDocument() {
  return Command(AttachedLink(), [](PrinterLink& l) { return l.OpenTextDocument(); });
}

HRESULT Orbis::CloseTextDocument(std::int32_t printOnJornal) {
  return Command(AttachedLink(),
                 [&](PrinterLink& l) { return l.CloseTextDocument(printOnJornal); });
}

HRESULT Orbis::NullCheck() {
  return Command(AttachedLink(), [](PrinterLink& l) { return l.NullCheck(); });
}

HRESULT Orbis::XReport() {
  return Command(AttachedLink(), [](PrinterLink& l) { return l.XReport(); });
}

HRESULT Orbis::ZReport() {
  return Command(AttachedLink(), [](PrinterLink& l) { return l.ZReport(); });
}

HRESULT Orbis::ArticleReport() {
  return Command(AttachedLink(), [](PrinterLink& l) { return l.ArticleReport(); });
}

HRESULT Orbis::DiscountReport() {
  return Command(AttachedLink(), [](PrinterLink& l) { return l.DiscountReport(); });
}

HRESULT Orbis::PeriodicalFiscalReport(std::int32_t firstZReport, std::int32_t lastZReport) {
  return Command(AttachedLink(), [&](PrinterLink& l) {
    return l.PeriodicalFiscalReport(firstZReport, lastZReport);
  });
}

HRESULT Orbis::PeriodicalFiscalReportDate(double dateFrom, double dateTo) {
  return Command(AttachedLink(),
                 [&](PrinterLink& l) { return l.PeriodicalFiscalReportDate(dateFrom, dateTo); });
}

HRESULT Orbis::Feed(std::int32_t linesToFeed) {
  return Command(AttachedLink(), [&](PrinterLink& l) { return l.Feed(linesToFeed); });
}

HRESULT Orbis::SetPrintingDoubleWidth(std::int32_t on) {
  return Command(AttachedLink(), [&](PrinterLink& l) { return l.SetPrintingDoubleWidth(on); });
}

HRESULT Orbis::SetTableMode(std::int32_t on) {
  return Command(AttachedLink(), [&](PrinterLink& l) { return l.SetTableMode(on); });
}

HRESULT Orbis::PutToDisplay(const std::string& line1, const std::string& line2) {
  const std::string text1 = In(line1);
  const std::string text2 = In(line2);
  return Command(AttachedLink(), [&](PrinterLink& l) { return l.PutToDisplay(text1, text2); });
}

HRESULT Orbis::OpenCashBox() {
  return Command(AttachedLink(), [](PrinterLink& l) { return l.OpenCashBox(); });
}

HRESULT Orbis::CutAndBeep(std::int32_t cutterOn, std::int32_t beepOn) {
  return Command(AttachedLink(), [&](PrinterLink& l) { return l.CutAndBeep(cutterOn, beepOn); });
}

HRESULT Orbis::SetInternalTime(std::int32_t hours, std::int32_t minutes, std::int32_t seconds) {
  return Command(AttachedLink(),
                 [&](PrinterLink& l) { return l.SetInternalTime(hours, minutes, seconds); });
}

HRESULT Orbis::SetDeptAlias(const std::string& deptAlias) {
  const std::string alias = In(deptAlias);
  return Command(AttachedLink(), [&](PrinterLink& l) { return l.SetDeptAlias(alias); });
}

HRESULT Orbis::SetCheckHeadLine(const std::string& checkText) {
  const std::string text = In(checkText);
  return Command(AttachedLink(), [&](PrinterLink& l) { return l.SetCheckHeadLine(text); });
}

HRESULT Orbis::SetCheckBottomLine(const std::string& checkLine) {
  const std::string text = In(checkLine);
  return Command(AttachedLink(), [&](PrinterLink& l) { return l.SetCheckBottomLine(text); });
}

HRESULT Orbis::GetCheckResultXML(Out<std::string> checkResult) {
  auto link = AttachedLink();
  if (!link) return E_FAIL;
  return TextResult([&] { return link->CheckResultXml(); }, checkResult);
}

HRESULT Orbis::SetTaxesCalcMode(std::int32_t saleTaxesOnTotal) {
  return Command(AttachedLink(),
                 [&](PrinterLink& l) { return l.SetTaxesCalcMode(saleTaxesOnTotal); });
}

HRESULT Orbis::SetShowErrorMessages(std::int32_t showErrorMessages) {
  auto link = AttachedLink();
  if (!link) return E_FAIL;
  link.SetShowErrorMessages(showErrorMessages != 0);
  return S_OK;
}

HRESULT Orbis::GetLastErrorMessage(Out<std::string> errorMessage) {
  auto link = AttachedLink();
  if (!link) return E_FAIL;
  // Reading consumes the text for every client of the port.
  return TextResult([&] { return link.TakeLastErrorText(); }, errorMessage);
}

HRESULT Orbis::ZReportAsync() {
  return Command(AttachedLink(), [](PrinterLink& l) { return l.ZReportAsync(); });
}

HRESULT Orbis::XReportAsync() {
  return Command(AttachedLink(), [](PrinterLink& l) { return l.XReportAsync(); });
}

}  // namespace vekta
