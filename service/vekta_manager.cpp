#include "service/vekta_manager.h"

#include <cstdio>
#include <new>

#include "platform/codepage.h"
#include "service/orbis.h"

namespace vekta {

namespace {

// The wait the wrapper always gives LowGetNextPendingPrinterMessage, whatever the client asked.
constexpr std::int32_t kPendingMessageWaitMs = 3000;
constexpr std::size_t kMaxFailureText = 1024;

std::string Format(const char* format, unsigned value) {
  char text[128];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// The name of a code in the COM error message: a few have names, the rest show as "%X".
std::string ErrorCodeName(HRESULT hr) {
  switch (hr) {
    case E_NOINTERFACE:
    case E_FAIL:
    case E_UNEXPECTED:
    case REGDB_E_CLASSNOTREG:
    case REGDB_E_IIDNOTREG:
    case E_INVALIDARG:
      return HresultName(hr);
    default:
      return Format("%X", static_cast<unsigned>(hr));
  }
}

}  // namespace

HRESULT LocalOrbisFactory::CreateLocal(std::unique_ptr<IOrbis>& object) {
  object = std::make_unique<Orbis>(m_registry);
  return S_OK;
}

HRESULT LocalOrbisFactory::CreateRemote(const std::string&, std::unique_ptr<IOrbis>& object) {
  object.reset();
  return RPC_S_SERVER_UNAVAILABLE;
}

VektaManager::VektaManager(OrbisFactory& factory, LinkHost& host)
    : m_factory(factory), m_host(host) {}

VektaManager::~VektaManager() {
  std::lock_guard<std::mutex> lock(m_mutex);
  Drop();
}

bool VektaManager::HoldsObject() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_iOrbis != nullptr;
}

void VektaManager::Abandon() {
  std::lock_guard<std::mutex> lock(m_abandonMutex);
  m_abandoned = true;
  if (m_iOrbis) m_iOrbis->Abandon();
}

void VektaManager::Hold(std::unique_ptr<IOrbis> object) {
  std::lock_guard<std::mutex> lock(m_abandonMutex);
  m_iOrbis = std::move(object);
  if (m_abandoned && m_iOrbis) m_iOrbis->Abandon();
}

void VektaManager::Drop() {
  std::unique_ptr<IOrbis> gone;
  {
    std::lock_guard<std::mutex> lock(m_abandonMutex);
    gone = std::move(m_iOrbis);
  }
  m_attachedPort = 0;
  // Its final release detaches it (closing a port takes a while): not under m_abandonMutex.
  gone.reset();
}

template <class Call>
std::int32_t VektaManager::Flag(Call&& call) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (!m_iOrbis) return 0;
  try {
    return Succeeded(call(*m_iOrbis)) ? 1 : 0;
  } catch (...) {
    LogCaught("a call of VektaManager's Orbis object");
    return 0;
  }
}

template <class Call>
std::int32_t VektaManager::Number(Call&& call, std::int32_t failure) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (!m_iOrbis) return failure;
  try {
    std::int32_t value = failure;
    return Succeeded(call(*m_iOrbis, &value)) ? value : failure;
  } catch (...) {
    LogCaught("a call of VektaManager's Orbis object");
    return failure;
  }
}

template <class Call>
std::string VektaManager::Text(Call&& call) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (!m_iOrbis) return {};
  try {
    std::string value;
    if (Failed(call(*m_iOrbis, &value))) return {};
    return value;
  } catch (...) {
    LogCaught("a call of VektaManager's Orbis object");
    return {};
  }
}

void VektaManager::ShowBox(const std::string& text) {
  m_host.ShowMessageBox(Utf8ToCp1251(text), MessageBoxStyle::kStopOk);
}

std::int32_t VektaManager::Init(std::int32_t portNumber, const std::string& cashierName,
                                const std::string& cashierPassword, std::int32_t showStatusDialogs,
                                const std::string& callerApplicationName) {
  std::lock_guard<std::mutex> lock(m_mutex);
  Drop();  // detaches the earlier object from its port first
  try {
    std::unique_ptr<IOrbis> object;
    if (Succeeded(m_factory.CreateLocal(object)) && object) {
      // Held while it connects, so that Abandon reaches it.
      Hold(std::move(object));
      if (Failed(m_iOrbis->Init(portNumber, cashierName, cashierPassword, showStatusDialogs,
                                callerApplicationName))) {
        Drop();
      }
    }
  } catch (...) {
    LogCaught("VektaManager.Init");
    Drop();
    // Init shows nothing; the value says it all.
  }
  if (m_iOrbis) m_attachedPort = portNumber;
  return m_iOrbis ? 1 : 0;
}

std::int32_t VektaManager::InitEx(std::int32_t portNumber, const std::string& cashierName,
                                  const std::string& cashierPassword,
                                  std::int32_t showStatusDialogs,
                                  const std::string& callerApplicationName,
                                  const std::string& remoteHostName) {
  std::lock_guard<std::mutex> lock(m_mutex);
  Drop();
  const bool show = showStatusDialogs != 0;
  try {
    std::unique_ptr<IOrbis> object;
    const HRESULT created = m_factory.CreateRemote(remoteHostName, object);
    if (Failed(created) && show) {
      ShowBox(Format("CoCreateInstanceEx failed: %x\n", static_cast<unsigned>(created)));
    }
    if (!object && show) {
      ShowBox(
          Format("Error connecting to VektaManager server: %x\n", static_cast<unsigned>(created)));
    }
    Hold(std::move(object));
    if (m_iOrbis && Failed(m_iOrbis->Init(portNumber, cashierName, cashierPassword,
                                          showStatusDialogs, callerApplicationName))) {
      if (show) ShowBox("m_iOrbis->Init failed");
      Drop();
    }
  } catch (const ComError& error) {
    // What is held stays held, but an Init that did not come back is no success.
    if (show) {
      ShowBox("[ERROR] COM error while accessing the VektaManager server: " +
              ErrorCodeName(error.Code()) + "\n");
    }
    return 0;
  } catch (const std::bad_alloc& error) {
    Drop();
    if (show) ShowBox("[ERROR] " + std::string(error.what()).substr(0, kMaxFailureText));
    return 0;
  } catch (const std::exception& error) {
    Drop();
    if (show) ShowBox("[ERROR] " + std::string(error.what()).substr(0, kMaxFailureText));
    return 0;
  }
  if (m_iOrbis) m_attachedPort = portNumber;
  return m_iOrbis ? 1 : 0;
}

std::int32_t VektaManager::GetPortNumber() {
  return Number([](IOrbis& o, std::int32_t* v) { return o.GetPortNumber(v); });
}

std::int32_t VektaManager::Done() {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (!m_iOrbis) return 0;
  // Releasing the only reference is the object's final release, which detaches it.
  Drop();
  return 1;
}

std::int32_t VektaManager::LockPrinter(std::int32_t timeoutInMilliseconds) {
  return Flag([&](IOrbis& o) { return o.LockPrinter(timeoutInMilliseconds); });
}

std::int32_t VektaManager::UnlockPrinter() {
  return Flag([](IOrbis& o) { return o.UnlockPrinter(); });
}

std::int32_t VektaManager::LowSendMessageToPrinter(const std::string& textMessage) {
  return Flag([&](IOrbis& o) { return o.LowSendMessageToPrinter(textMessage); });
}

std::string VektaManager::LowGetNextPendingPrinterMessage(std::int32_t) {
  return Text([](IOrbis& o, std::string* v) {
    return o.LowGetNextPendingPrinterMessage(kPendingMessageWaitMs, v);
  });
}

std::int32_t VektaManager::SetShowPrinterStatus(std::int32_t showStatus) {
  return Flag([&](IOrbis& o) { return o.SetShowPrinterStatus(showStatus); });
}

std::string VektaManager::GetPrinterSerialNumber() {
  return Text([](IOrbis& o, std::string* v) { return o.GetPrinterSerialNumber(v); });
}

std::string VektaManager::GetPrinterConfigXML(std::int32_t refreshFromPrinter) {
  return Text(
      [&](IOrbis& o, std::string* v) { return o.GetPrinterConfigXML(refreshFromPrinter, v); });
}

std::int32_t VektaManager::SetCheckMessagesMode(std::int32_t mode) {
  return Flag([&](IOrbis& o) { return o.SetCheckMessagesMode(mode); });
}

std::int32_t VektaManager::OpenCheck(const std::string& department) {
  return Flag([&](IOrbis& o) { return o.OpenCheck(department); });
}

std::int32_t VektaManager::SetReturnCheckNumber(std::int32_t checkNumber) {
  return Flag([&](IOrbis& o) { return o.SetReturnCheckNumber(checkNumber); });
}

std::int32_t VektaManager::OpenReturnCheck(const std::string& departmentName) {
  return Flag([&](IOrbis& o) { return o.OpenReturnCheck(departmentName); });
}

std::int32_t VektaManager::LongName(const std::string& name) {
  return Flag([&](IOrbis& o) { return o.LongName(name); });
}

std::int32_t VektaManager::SetCurrentCheckDirection(std::int32_t direction) {
  return Flag([&](IOrbis& o) { return o.SetCurrentCheckDirection(direction); });
}

std::int32_t VektaManager::FiscalLine(const std::string& goodName, std::int32_t qty,
                                      std::int32_t price, std::int32_t goodsDividual,
                                      std::int32_t tax1Index, std::int32_t tax2Index,
                                      std::int32_t article) {
  return Number([&](IOrbis& o, std::int32_t* v) {
    return o.FiscalLine(goodName, qty, price, goodsDividual, tax1Index, tax2Index, article, v);
  });
}

std::int32_t VektaManager::FiscalLineEx(const std::string& goodsName, std::int32_t qty,
                                        std::int32_t price, std::int32_t goodsDividual,
                                        std::int32_t tax1Index, std::int32_t tax2Index,
                                        std::int32_t article, std::int32_t discountDirection,
                                        const std::string& discountName, std::int32_t discount) {
  return Number([&](IOrbis& o, std::int32_t* v) {
    return o.FiscalLineEx(goodsName, qty, price, goodsDividual, tax1Index, tax2Index, article,
                          discountDirection, discountName, discount, v);
  });
}

std::int32_t VektaManager::FreeTextLine(std::int32_t placeBeforeFiscalPart,
                                        std::int32_t printOnJornal, std::int32_t doubleStrike,
                                        const std::string& textMessage) {
  return Flag([&](IOrbis& o) {
    return o.FreeTextLine(placeBeforeFiscalPart, printOnJornal, doubleStrike, textMessage);
  });
}

std::int32_t VektaManager::ClearFreeTextLines() {
  return Flag([](IOrbis& o) { return o.ClearFreeTextLines(); });
}

std::int32_t VektaManager::CloseCheck() {
  return Number([](IOrbis& o, std::int32_t* v) { return o.CloseCheck(v); });
}

std::int32_t VektaManager::CloseCheckEx(std::int32_t cash, std::int32_t payCheck,
                                        std::int32_t credit, std::int32_t packing) {
  return Number([&](IOrbis& o, std::int32_t* v) {
    return o.CloseCheckEx(cash, payCheck, credit, packing, v);
  });
}

std::int32_t VektaManager::AbortCheck() {
  return Flag([](IOrbis& o) { return o.AbortCheck(); });
}

std::string VektaManager::GetCheckResult() {
  return Text([](IOrbis& o, std::string* v) { return o.GetCheckResult(v); });
}

std::int32_t VektaManager::CheckCopy() {
  return Flag([](IOrbis& o) { return o.CheckCopy(); });
}

std::int32_t VektaManager::SetOnSaleTaxes(std::int32_t on) {
  return Flag([&](IOrbis& o) { return o.SetOnSaleTaxesPrintMode(on); });
}

std::int32_t VektaManager::MoveCash(std::int32_t moveDirection, std::int32_t cashSum) {
  return Flag([&](IOrbis& o) { return o.MoveCash(moveDirection, cashSum); });
}

std::string VektaManager::GetPrinterConfig() {
  return Text([](IOrbis& o, std::string* v) { return o.GetPrinterConfig(v); });
}

std::int32_t VektaManager::GetPrinterKeyPosition() {
  return Number([](IOrbis& o, std::int32_t* v) { return o.GetPrinterKeyPosition(v); }, -1);
}

std::string VektaManager::GetArticleInfoXML(std::int32_t article) {
  return Text([&](IOrbis& o, std::string* v) { return o.GetArticleInfoXML(article, v); });
}

std::string VektaManager::GetArticleInfo(std::int32_t article) {
  return Text([&](IOrbis& o, std::string* v) { return o.GetArticleInfo(article, v); });
}

std::string VektaManager::GetPrinterTime() {
  return Text([](IOrbis& o, std::string* v) { return o.GetPrinterTime(v); });
}

std::string VektaManager::GetCashInfoXML() {
  return Text([](IOrbis& o, std::string* v) { return o.GetCashInfoXML(v); });
}

std::string VektaManager::GetCashInfo() {
  return Text([](IOrbis& o, std::string* v) { return o.GetCashInfo(v); });
}

std::string VektaManager::GetFiscalInfoXML() {
  return Text([](IOrbis& o, std::string* v) { return o.GetFiscalInfoXML(v); });
}

std::string VektaManager::GetFiscalInfo() {
  return Text([](IOrbis& o, std::string* v) { return o.GetFiscalInfo(v); });
}

std::string VektaManager::GetTaxesInfoXML() {
  return Text([](IOrbis& o, std::string* v) { return o.GetTaxesInfoXML(v); });
}

std::string VektaManager::GetTaxesInfo() {
  return Text([](IOrbis& o, std::string* v) { return o.GetTaxesInfo(v); });
}

std::int32_t VektaManager::OpenTextDocument() {
  return Flag([](IOrbis& o) { return o.OpenTextDocument(); });
}

std::int32_t VektaManager::CloseTextDocument(std::int32_t printOnJornal) {
  return Flag([&](IOrbis& o) { return o.CloseTextDocument(printOnJornal); });
}

std::int32_t VektaManager::NullCheck() {
  return Flag([](IOrbis& o) { return o.NullCheck(); });
}

std::int32_t VektaManager::XReport() {
  return Flag([](IOrbis& o) { return o.XReport(); });
}

std::int32_t VektaManager::ZReport() {
  return Flag([](IOrbis& o) { return o.ZReport(); });
}

std::int32_t VektaManager::ArticleReport() {
  return Flag([](IOrbis& o) { return o.ArticleReport(); });
}

std::int32_t VektaManager::DiscountReport() {
  return Flag([](IOrbis& o) { return o.DiscountReport(); });
}

std::int32_t VektaManager::PeriodicalFiscalReport(std::int32_t firstZReport,
                                                  std::int32_t lastZReport) {
  return Flag([&](IOrbis& o) { return o.PeriodicalFiscalReport(firstZReport, lastZReport); });
}

std::int32_t VektaManager::PeriodicalFiscalReportDate(double dateFrom, double dateTo) {
  return Flag([&](IOrbis& o) { return o.PeriodicalFiscalReportDate(dateFrom, dateTo); });
}

std::int32_t VektaManager::Feed(std::int32_t linesToFeed) {
  return Flag([&](IOrbis& o) { return o.Feed(linesToFeed); });
}

std::int32_t VektaManager::SetPrintingDoubleWidth(std::int32_t doubleWidth) {
  return Flag([&](IOrbis& o) { return o.SetPrintingDoubleWidth(doubleWidth); });
}

std::int32_t VektaManager::SetTableMode(std::int32_t tableMode) {
  return Flag([&](IOrbis& o) { return o.SetTableMode(tableMode); });
}

std::int32_t VektaManager::PutToDisplay(const std::string& line1, const std::string& line2) {
  return Flag([&](IOrbis& o) { return o.PutToDisplay(line1, line2); });
}

std::int32_t VektaManager::OpenCashBox() {
  return Flag([](IOrbis& o) { return o.OpenCashBox(); });
}

std::int32_t VektaManager::CutAndBeep(std::int32_t cutterOn, std::int32_t beepOn) {
  return Flag([&](IOrbis& o) { return o.CutAndBeep(cutterOn, beepOn); });
}

std::int32_t VektaManager::SetInternalTime(std::int32_t hours, std::int32_t minutes,
                                           std::int32_t seconds) {
  return Flag([&](IOrbis& o) { return o.SetInternalTime(hours, minutes, seconds); });
}

std::int32_t VektaManager::SetDeptAlias(const std::string& alias) {
  return Flag([&](IOrbis& o) { return o.SetDeptAlias(alias); });
}

std::int32_t VektaManager::SetCheckHeadLine(const std::string& checkHeadLine) {
  return Flag([&](IOrbis& o) { return o.SetCheckHeadLine(checkHeadLine); });
}

std::int32_t VektaManager::SetCheckBottomLine(const std::string& checkBottomLine) {
  return Flag([&](IOrbis& o) { return o.SetCheckBottomLine(checkBottomLine); });
}

std::string VektaManager::GetCheckResultXML() {
  return Text([](IOrbis& o, std::string* v) { return o.GetCheckResultXML(v); });
}

std::int32_t VektaManager::SetTaxesCalcMode(std::int32_t saleTaxesOnTotal) {
  return Flag([&](IOrbis& o) { return o.SetTaxesCalcMode(saleTaxesOnTotal); });
}

std::int32_t VektaManager::XReportAsync() {
  return Flag([](IOrbis& o) { return o.XReportAsync(); });
}

std::int32_t VektaManager::ZReportAsync() {
  return Flag([](IOrbis& o) { return o.ZReportAsync(); });
}

std::int32_t VektaManager::GetCheckSumm() {
  return Number([](IOrbis& o, std::int32_t* v) { return o.GetCheckSum(v); });
}

std::int32_t VektaManager::GetCheckOnSaleTaxes() {
  return Number([](IOrbis& o, std::int32_t* v) { return o.GetCheckOnSaleTaxes(v); });
}

std::int32_t VektaManager::GetCheckReturnSumm() {
  return Number([](IOrbis& o, std::int32_t* v) { return o.GetCheckReturnSum(v); });
}

std::int32_t VektaManager::GetCheckReturnOnSaleTaxes() {
  return Number([](IOrbis& o, std::int32_t* v) { return o.GetCheckReturnOnSaleTaxes(v); });
}

void VektaManager::SetShowStatusDialogs(std::int32_t value) {
  Flag([&](IOrbis& o) { return o.SetShowPrinterStatus(value); });
}

void VektaManager::SetShowErrorMessages(std::int32_t value) {
  Flag([&](IOrbis& o) { return o.SetShowErrorMessages(value); });
}

std::string VektaManager::GetLastErrorMessage() {
  return Text([](IOrbis& o, std::string* v) { return o.GetLastErrorMessage(v); });
}

}  // namespace vekta
