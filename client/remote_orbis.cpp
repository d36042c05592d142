#include "client/remote_orbis.h"

#include <algorithm>

#include "client/lease_keeper.h"

namespace vekta {

namespace {

using nlohmann::json;

HRESULT ParseHr(const json& body) {
  if (!body.is_object() || !body.contains("hresult") || !body["hresult"].is_string()) {
    return E_UNEXPECTED;
  }
  try {
    return static_cast<HRESULT>(
        static_cast<std::uint32_t>(std::stoul(body["hresult"].get<std::string>(), nullptr, 16)));
  } catch (...) {
    return E_UNEXPECTED;
  }
}

}  // namespace

HRESULT RemoteOrbis::Create(std::shared_ptr<ObjectConnection> connection,
                            std::unique_ptr<RemoteOrbis>& object,
                            std::shared_ptr<LeaseKeeper> keeper, std::int64_t leaseMs) {
  object.reset();
  std::string id;
  std::int64_t granted = 0;
  const HRESULT hr = connection->CreateObject("VektaManager.Orbis", leaseMs, id, &granted);
  if (Failed(hr)) return hr;
  object.reset(new RemoteOrbis(std::move(connection), std::move(id), std::move(keeper), granted));
  return S_OK;
}

RemoteOrbis::RemoteOrbis(std::shared_ptr<ObjectConnection> connection, std::string objectId,
                         std::shared_ptr<LeaseKeeper> keeper, std::int64_t leaseMs)
    : m_connection(std::move(connection)),
      m_objectId(std::move(objectId)),
      m_keeper(std::move(keeper)) {
  if (m_keeper && leaseMs > 0) {
    m_leaseTicket = m_keeper->Keep(m_connection, m_objectId, std::chrono::milliseconds(leaseMs));
  }
}

std::unique_ptr<RemoteOrbis> RemoteOrbis::AttachExisting(
    std::shared_ptr<ObjectConnection> connection, std::string objectId) {
  std::unique_ptr<RemoteOrbis> object(
      new RemoteOrbis(std::move(connection), std::move(objectId), nullptr, 0));
  object->m_owned = false;
  return object;
}

RemoteOrbis::~RemoteOrbis() {
  if (m_keeper) m_keeper->Forget(m_leaseTicket);
  if (m_owned.exchange(false)) m_connection->Release(m_objectId);
}

void RemoteOrbis::Abandon() {
  // Without a call running, the final release follows at once and does it; a call that starts
  // later is not sent.
  m_abandoned = true;
  if (m_callsRunning.load() > 0) ReleaseBeside();
}

void RemoteOrbis::ReleaseBeside() {
  if (!m_owned.exchange(false)) return;
  const HRESULT hr = m_connection->ReleaseBesideCall(m_objectId);
  // Not released there (no answer in time): the final release tries again.
  if (Failed(hr) && hr != RPC_E_DISCONNECTED) m_owned = true;
}

HRESULT RemoteOrbis::CallMember(const std::string& member, const json& args, json* out,
                                std::chrono::milliseconds extraWait) {
  ++m_callsRunning;
  if (m_abandoned) {
    // Let go while this call was on its way here: it would wait there for no one.
    ReleaseBeside();
    --m_callsRunning;
    m_lastTransportError = "the object was released";
    return RPC_E_DISCONNECTED;
  }
  const HttpAnswer answer = m_connection->CallOnce(m_objectId, member, args, "", extraWait);
  --m_callsRunning;
  if (answer.status == 0 || answer.status >= 300) {
    m_lastTransportError = answer.error;
    return answer.hr;
  }
  m_lastTransportError.clear();
  const HRESULT hr = ParseHr(answer.body);
  if (out && answer.body.contains("out") && answer.body["out"].is_object() &&
      !answer.body["out"].empty()) {
    *out = answer.body["out"].begin().value();
  }
  return hr;
}

HRESULT RemoteOrbis::CallBound(const MemberInfo& member, const json& args, const Outs& outs,
                               std::chrono::milliseconds extraWait) {
  json value;
  // A member without arguments is called without a body, as it always was.
  const HRESULT hr =
      CallMember(member.name, args.empty() ? json(nullptr) : args, &value, extraWait);
  if (value.is_number_integer()) {
    outs.number.Set(value.get<std::int32_t>());
  } else if (value.is_string()) {
    outs.text.Set(value.get<std::string>());
  }
  return hr;
}

HRESULT RemoteOrbis::Init(std::int32_t portNumber, const std::string& cashierName,
                          const std::string& cashierPassword, std::int32_t showStatusDialogs,
                          const std::string& callerApplicationName) {
  return Forward<&IOrbis::Init>(portNumber, cashierName, cashierPassword, showStatusDialogs,
                                callerApplicationName);
}
HRESULT RemoteOrbis::GetPortNumber(Out<std::int32_t> pPortNumber) {
  return Forward<&IOrbis::GetPortNumber>(pPortNumber);
}
HRESULT RemoteOrbis::Done() {
  return Forward<&IOrbis::Done>();
}
std::chrono::milliseconds RemoteOrbis::ServerWait(std::string_view member, std::int64_t argument) {
  // The server takes LockPrinter's time-out as unsigned: a negative one waits without limit
  // (-1) or for weeks, and the lock it takes in the end must not find this side gone.
  if (member == "LockPrinter") {
    return argument < 0 ? ObjectConnection::kNoLimit : std::chrono::milliseconds(argument);
  }
  if (member == "LowGetNextPendingPrinterMessage") {
    return std::chrono::milliseconds(std::max<std::int64_t>(argument, 0));
  }
  return std::chrono::milliseconds(0);
}

HRESULT RemoteOrbis::LockPrinter(std::int32_t timeoutInMilliseconds) {
  return ForwardWaiting<&IOrbis::LockPrinter>(ServerWait("LockPrinter", timeoutInMilliseconds),
                                              timeoutInMilliseconds);
}
HRESULT RemoteOrbis::UnlockPrinter() {
  return Forward<&IOrbis::UnlockPrinter>();
}
HRESULT RemoteOrbis::LowSendMessageToPrinter(const std::string& textMessage) {
  return Forward<&IOrbis::LowSendMessageToPrinter>(textMessage);
}
HRESULT RemoteOrbis::LowGetNextPendingPrinterMessage(std::int32_t timeoutMilliseconds,
                                                     Out<std::string> textMessage) {
  return ForwardWaiting<&IOrbis::LowGetNextPendingPrinterMessage>(
      ServerWait("LowGetNextPendingPrinterMessage", timeoutMilliseconds), timeoutMilliseconds,
      textMessage);
}
HRESULT RemoteOrbis::SetShowPrinterStatus(std::int32_t showStatusDialogs) {
  return Forward<&IOrbis::SetShowPrinterStatus>(showStatusDialogs);
}
HRESULT RemoteOrbis::GetPrinterSerialNumber(Out<std::string> serialNumber) {
  return Forward<&IOrbis::GetPrinterSerialNumber>(serialNumber);
}
HRESULT RemoteOrbis::GetPrinterConfigXML(std::int32_t refreshFromPrinter,
                                         Out<std::string> vektaPrinterConfigXML) {
  return Forward<&IOrbis::GetPrinterConfigXML>(refreshFromPrinter, vektaPrinterConfigXML);
}
HRESULT RemoteOrbis::SetCheckMessagesMode(std::int32_t checkMessagesMode) {
  return Forward<&IOrbis::SetCheckMessagesMode>(checkMessagesMode);
}
HRESULT RemoteOrbis::OpenCheck(const std::string& departmentName) {
  return Forward<&IOrbis::OpenCheck>(departmentName);
}
HRESULT RemoteOrbis::SetReturnCheckNumber(std::int32_t returnCheckNumber) {
  return Forward<&IOrbis::SetReturnCheckNumber>(returnCheckNumber);
}
HRESULT RemoteOrbis::OpenReturnCheck(const std::string& departmentName) {
  return Forward<&IOrbis::OpenReturnCheck>(departmentName);
}
HRESULT RemoteOrbis::LongName(const std::string& longName) {
  return Forward<&IOrbis::LongName>(longName);
}
HRESULT RemoteOrbis::SetCurrentCheckDirection(std::int32_t checkDirection) {
  return Forward<&IOrbis::SetCurrentCheckDirection>(checkDirection);
}
HRESULT RemoteOrbis::FiscalLine(const std::string& goodsName, std::int32_t qty, std::int32_t price,
                                std::int32_t goodsDividual, std::int32_t tax1Index,
                                std::int32_t tax2Index, std::int32_t article,
                                Out<std::int32_t> thisLineSum) {
  return Forward<&IOrbis::FiscalLine>(goodsName, qty, price, goodsDividual, tax1Index, tax2Index,
                                      article, thisLineSum);
}
HRESULT RemoteOrbis::FiscalLineEx(const std::string& goodsName, std::int32_t qty,
                                  std::int32_t price, std::int32_t goodsDividual,
                                  std::int32_t tax1Index, std::int32_t tax2Index,
                                  std::int32_t article, std::int32_t discountDirection,
                                  const std::string& discountName, std::int32_t discountValue,
                                  Out<std::int32_t> thisLineSum) {
  return Forward<&IOrbis::FiscalLineEx>(goodsName, qty, price, goodsDividual, tax1Index, tax2Index,
                                        article, discountDirection, discountName, discountValue,
                                        thisLineSum);
}
HRESULT RemoteOrbis::FreeTextLine(std::int32_t placeBeforeFiscalPart, std::int32_t printOnJornal,
                                  std::int32_t useBoldStyle, const std::string& textMessage) {
  return Forward<&IOrbis::FreeTextLine>(placeBeforeFiscalPart, printOnJornal, useBoldStyle,
                                        textMessage);
}
HRESULT RemoteOrbis::GetCheckSum(Out<std::int32_t> checkSum) {
  return Forward<&IOrbis::GetCheckSum>(checkSum);
}
HRESULT RemoteOrbis::GetCheckOnSaleTaxes(Out<std::int32_t> checkOnSaleTaxes) {
  return Forward<&IOrbis::GetCheckOnSaleTaxes>(checkOnSaleTaxes);
}
HRESULT RemoteOrbis::GetCheckReturnSum(Out<std::int32_t> checkReturnSum) {
  return Forward<&IOrbis::GetCheckReturnSum>(checkReturnSum);
}
HRESULT RemoteOrbis::GetCheckReturnOnSaleTaxes(Out<std::int32_t> checkReturnOnSaleTaxes) {
  return Forward<&IOrbis::GetCheckReturnOnSaleTaxes>(checkReturnOnSaleTaxes);
}
HRESULT RemoteOrbis::ClearFreeTextLines() {
  return Forward<&IOrbis::ClearFreeTextLines>();
}
HRESULT RemoteOrbis::CloseCheck(Out<std::int32_t> checkSum) {
  return Forward<&IOrbis::CloseCheck>(checkSum);
}
HRESULT RemoteOrbis::CloseCheckEx(std::int32_t cash, std::int32_t payCheck, std::int32_t credit,
                                  std::int32_t packing, Out<std::int32_t> checkSum) {
  return Forward<&IOrbis::CloseCheckEx>(cash, payCheck, credit, packing, checkSum);
}
HRESULT RemoteOrbis::AbortCheck() {
  return Forward<&IOrbis::AbortCheck>();
}
HRESULT RemoteOrbis::GetCheckResult(Out<std::string> checkResult) {
  return Forward<&IOrbis::GetCheckResult>(checkResult);
}
HRESULT RemoteOrbis::CheckCopy() {
  return Forward<&IOrbis::CheckCopy>();
}
HRESULT RemoteOrbis::SetOnSaleTaxesPrintMode(std::int32_t taxesPrintMode) {
  return Forward<&IOrbis::SetOnSaleTaxesPrintMode>(taxesPrintMode);
}
HRESULT RemoteOrbis::MoveCash(std::int32_t moveDirection, std::int32_t cashSum) {
  return Forward<&IOrbis::MoveCash>(moveDirection, cashSum);
}
HRESULT RemoteOrbis::GetPrinterConfig(Out<std::string> config) {
  return Forward<&IOrbis::GetPrinterConfig>(config);
}
HRESULT RemoteOrbis::GetPrinterKeyPosition(Out<std::int32_t> keyPosition) {
  return Forward<&IOrbis::GetPrinterKeyPosition>(keyPosition);
}
HRESULT RemoteOrbis::GetArticleInfo(std::int32_t article, Out<std::string> articleInfo) {
  return Forward<&IOrbis::GetArticleInfo>(article, articleInfo);
}
HRESULT RemoteOrbis::GetArticleInfoXML(std::int32_t article, Out<std::string> articleInfo) {
  return Forward<&IOrbis::GetArticleInfoXML>(article, articleInfo);
}
HRESULT RemoteOrbis::GetPrinterTime(Out<std::string> printerTime) {
  return Forward<&IOrbis::GetPrinterTime>(printerTime);
}
HRESULT RemoteOrbis::GetCashInfo(Out<std::string> cashInfo) {
  return Forward<&IOrbis::GetCashInfo>(cashInfo);
}
HRESULT RemoteOrbis::GetCashInfoXML(Out<std::string> cashInfo) {
  return Forward<&IOrbis::GetCashInfoXML>(cashInfo);
}
HRESULT RemoteOrbis::GetFiscalInfo(Out<std::string> fiscalInfo) {
  return Forward<&IOrbis::GetFiscalInfo>(fiscalInfo);
}
HRESULT RemoteOrbis::GetFiscalInfoXML(Out<std::string> fiscalInfo) {
  return Forward<&IOrbis::GetFiscalInfoXML>(fiscalInfo);
}
HRESULT RemoteOrbis::GetTaxesInfo(Out<std::string> taxesInfo) {
  return Forward<&IOrbis::GetTaxesInfo>(taxesInfo);
}
HRESULT RemoteOrbis::GetTaxesInfoXML(Out<std::string> taxesInfo) {
  return Forward<&IOrbis::GetTaxesInfoXML>(taxesInfo);
}
HRESULT RemoteOrbis::OpenTextDocument() {
  return Forward<&IOrbis::OpenTextDocument>();
}
HRESULT RemoteOrbis::CloseTextDocument(std::int32_t printOnJornal) {
  return Forward<&IOrbis::CloseTextDocument>(printOnJornal);
}
HRESULT RemoteOrbis::NullCheck() {
  return Forward<&IOrbis::NullCheck>();
}
HRESULT RemoteOrbis::XReport() {
  return Forward<&IOrbis::XReport>();
}
HRESULT RemoteOrbis::ZReport() {
  return Forward<&IOrbis::ZReport>();
}
HRESULT RemoteOrbis::ArticleReport() {
  return Forward<&IOrbis::ArticleReport>();
}
HRESULT RemoteOrbis::DiscountReport() {
  return Forward<&IOrbis::DiscountReport>();
}
HRESULT RemoteOrbis::PeriodicalFiscalReport(std::int32_t firstZReport, std::int32_t lastZReport) {
  return Forward<&IOrbis::PeriodicalFiscalReport>(firstZReport, lastZReport);
}
HRESULT RemoteOrbis::PeriodicalFiscalReportDate(double dateFrom, double dateTo) {
  return Forward<&IOrbis::PeriodicalFiscalReportDate>(dateFrom, dateTo);
}
HRESULT RemoteOrbis::Feed(std::int32_t linesToFeed) {
  return Forward<&IOrbis::Feed>(linesToFeed);
}
HRESULT RemoteOrbis::SetPrintingDoubleWidth(std::int32_t on) {
  return Forward<&IOrbis::SetPrintingDoubleWidth>(on);
}
HRESULT RemoteOrbis::SetTableMode(std::int32_t on) {
  return Forward<&IOrbis::SetTableMode>(on);
}
HRESULT RemoteOrbis::PutToDisplay(const std::string& line1, const std::string& line2) {
  return Forward<&IOrbis::PutToDisplay>(line1, line2);
}
HRESULT RemoteOrbis::OpenCashBox() {
  return Forward<&IOrbis::OpenCashBox>();
}
HRESULT RemoteOrbis::CutAndBeep(std::int32_t cutterOn, std::int32_t beepOn) {
  return Forward<&IOrbis::CutAndBeep>(cutterOn, beepOn);
}
HRESULT RemoteOrbis::SetInternalTime(std::int32_t hours, std::int32_t minutes,
                                     std::int32_t seconds) {
  return Forward<&IOrbis::SetInternalTime>(hours, minutes, seconds);
}
HRESULT RemoteOrbis::SetDeptAlias(const std::string& deptAlias) {
  return Forward<&IOrbis::SetDeptAlias>(deptAlias);
}
HRESULT RemoteOrbis::SetCheckHeadLine(const std::string& checkText) {
  return Forward<&IOrbis::SetCheckHeadLine>(checkText);
}
HRESULT RemoteOrbis::SetCheckBottomLine(const std::string& checkLine) {
  return Forward<&IOrbis::SetCheckBottomLine>(checkLine);
}
HRESULT RemoteOrbis::GetCheckResultXML(Out<std::string> checkResult) {
  return Forward<&IOrbis::GetCheckResultXML>(checkResult);
}
HRESULT RemoteOrbis::SetTaxesCalcMode(std::int32_t saleTaxesOnTotal) {
  return Forward<&IOrbis::SetTaxesCalcMode>(saleTaxesOnTotal);
}
HRESULT RemoteOrbis::SetShowErrorMessages(std::int32_t showErrorMessages) {
  return Forward<&IOrbis::SetShowErrorMessages>(showErrorMessages);
}
HRESULT RemoteOrbis::GetLastErrorMessage(Out<std::string> errorMessage) {
  return Forward<&IOrbis::GetLastErrorMessage>(errorMessage);
}
HRESULT RemoteOrbis::ZReportAsync() {
  return Forward<&IOrbis::ZReportAsync>();
}
HRESULT RemoteOrbis::XReportAsync() {
  return Forward<&IOrbis::XReportAsync>();
}

}  // namespace vekta
