#include "client/remote_orbis.h"

#include <atomic>
#include <random>

#include "client/lease_keeper.h"

namespace vekta {

namespace {

using nlohmann::json;

std::string NewIdempotencyKey() {
  static std::atomic<std::uint64_t> counter{0};
  static const std::uint64_t process = [] {
    std::random_device device;
    return (static_cast<std::uint64_t>(device()) << 32) ^ device();
  }();
  char buffer[48];
  std::snprintf(buffer, sizeof(buffer), "%016llx-%llu", static_cast<unsigned long long>(process),
                static_cast<unsigned long long>(++counter));
  return buffer;
}

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
  if (m_owned) m_connection->Release(m_objectId);
}

HRESULT RemoteOrbis::CallMember(const std::string& member, const json& args, json* out) {
  const std::string key = NewIdempotencyKey();
  HttpAnswer answer = m_connection->Call(m_objectId, member, args, key);
  if (answer.status == 0) {
    // The answer was lost on the way: ask again under the same key, so that a call that did
    // run is answered from the server's record and not run twice.
    answer = m_connection->Call(m_objectId, member, args, key);
  }
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

HRESULT RemoteOrbis::Long(const char* member, const json& args, std::int32_t* out) {
  json value;
  const HRESULT hr = CallMember(member, args, &value);
  if (out && value.is_number_integer()) *out = value.get<std::int32_t>();
  return hr;
}

HRESULT RemoteOrbis::Text(const char* member, const json& args, std::string* out) {
  json value;
  const HRESULT hr = CallMember(member, args, &value);
  if (out && value.is_string()) *out = value.get<std::string>();
  return hr;
}

HRESULT RemoteOrbis::Init(std::int32_t portNumber, const std::string& cashierName,
                          const std::string& cashierPassword, std::int32_t showStatusDialogs,
                          const std::string& callerApplicationName) {
  return CallMember("Init", json::array({portNumber, cashierName, cashierPassword,
                                         showStatusDialogs, callerApplicationName}));
}
HRESULT RemoteOrbis::GetPortNumber(std::int32_t* p) {
  return Long("GetPortNumber", nullptr, p);
}
HRESULT RemoteOrbis::Done() {
  return CallMember("Done", nullptr);
}
HRESULT RemoteOrbis::LockPrinter(std::int32_t t) {
  return CallMember("LockPrinter", json::array({t}));
}
HRESULT RemoteOrbis::UnlockPrinter() {
  return CallMember("UnlockPrinter", nullptr);
}
HRESULT RemoteOrbis::LowSendMessageToPrinter(const std::string& text) {
  return CallMember("LowSendMessageToPrinter", json::array({text}));
}
HRESULT RemoteOrbis::LowGetNextPendingPrinterMessage(std::int32_t t, std::string* text) {
  return Text("LowGetNextPendingPrinterMessage", json::array({t}), text);
}
HRESULT RemoteOrbis::SetShowPrinterStatus(std::int32_t v) {
  return CallMember("SetShowPrinterStatus", json::array({v}));
}
HRESULT RemoteOrbis::GetPrinterSerialNumber(std::string* s) {
  return Text("GetPrinterSerialNumber", nullptr, s);
}
HRESULT RemoteOrbis::GetPrinterConfigXML(std::int32_t refresh, std::string* s) {
  return Text("GetPrinterConfigXML", json::array({refresh}), s);
}
HRESULT RemoteOrbis::SetCheckMessagesMode(std::int32_t v) {
  return CallMember("SetCheckMessagesMode", json::array({v}));
}
HRESULT RemoteOrbis::OpenCheck(const std::string& d) {
  return CallMember("OpenCheck", json::array({d}));
}
HRESULT RemoteOrbis::SetReturnCheckNumber(std::int32_t v) {
  return CallMember("SetReturnCheckNumber", json::array({v}));
}
HRESULT RemoteOrbis::OpenReturnCheck(const std::string& d) {
  return CallMember("OpenReturnCheck", json::array({d}));
}
HRESULT RemoteOrbis::LongName(const std::string& n) {
  return CallMember("LongName", json::array({n}));
}
HRESULT RemoteOrbis::SetCurrentCheckDirection(std::int32_t v) {
  return CallMember("SetCurrentCheckDirection", json::array({v}));
}
HRESULT RemoteOrbis::FiscalLine(const std::string& goodsName, std::int32_t qty, std::int32_t price,
                                std::int32_t goodsDividual, std::int32_t tax1Index,
                                std::int32_t tax2Index, std::int32_t article,
                                std::int32_t* thisLineSum) {
  return Long("FiscalLine",
              json::array({goodsName, qty, price, goodsDividual, tax1Index, tax2Index, article}),
              thisLineSum);
}
HRESULT RemoteOrbis::FiscalLineEx(const std::string& goodsName, std::int32_t qty,
                                  std::int32_t price, std::int32_t goodsDividual,
                                  std::int32_t tax1Index, std::int32_t tax2Index,
                                  std::int32_t article, std::int32_t discountDirection,
                                  const std::string& discountName, std::int32_t discountValue,
                                  std::int32_t* thisLineSum) {
  return Long("FiscalLineEx",
              json::array({goodsName, qty, price, goodsDividual, tax1Index, tax2Index, article,
                           discountDirection, discountName, discountValue}),
              thisLineSum);
}
HRESULT RemoteOrbis::FreeTextLine(std::int32_t before, std::int32_t journal, std::int32_t bold,
                                  const std::string& text) {
  return CallMember("FreeTextLine", json::array({before, journal, bold, text}));
}
HRESULT RemoteOrbis::GetCheckSum(std::int32_t* v) {
  return Long("GetCheckSum", nullptr, v);
}
HRESULT RemoteOrbis::GetCheckOnSaleTaxes(std::int32_t* v) {
  return Long("GetCheckOnSaleTaxes", nullptr, v);
}
HRESULT RemoteOrbis::GetCheckReturnSum(std::int32_t* v) {
  return Long("GetCheckReturnSum", nullptr, v);
}
HRESULT RemoteOrbis::GetCheckReturnOnSaleTaxes(std::int32_t* v) {
  return Long("GetCheckReturnOnSaleTaxes", nullptr, v);
}
HRESULT RemoteOrbis::ClearFreeTextLines() {
  return CallMember("ClearFreeTextLines", nullptr);
}
HRESULT RemoteOrbis::CloseCheck(std::int32_t* v) {
  return Long("CloseCheck", nullptr, v);
}
HRESULT RemoteOrbis::CloseCheckEx(std::int32_t cash, std::int32_t payCheck, std::int32_t credit,
                                  std::int32_t packing, std::int32_t* checkSum) {
  return Long("CloseCheckEx", json::array({cash, payCheck, credit, packing}), checkSum);
}
HRESULT RemoteOrbis::AbortCheck() {
  return CallMember("AbortCheck", nullptr);
}
HRESULT RemoteOrbis::GetCheckResult(std::string* s) {
  return Text("GetCheckResult", nullptr, s);
}
HRESULT RemoteOrbis::CheckCopy() {
  return CallMember("CheckCopy", nullptr);
}
HRESULT RemoteOrbis::SetOnSaleTaxesPrintMode(std::int32_t v) {
  return CallMember("SetOnSaleTaxesPrintMode", json::array({v}));
}
HRESULT RemoteOrbis::MoveCash(std::int32_t direction, std::int32_t sum) {
  return CallMember("MoveCash", json::array({direction, sum}));
}
HRESULT RemoteOrbis::GetPrinterConfig(std::string* s) {
  return Text("GetPrinterConfig", nullptr, s);
}
HRESULT RemoteOrbis::GetPrinterKeyPosition(std::int32_t* v) {
  return Long("GetPrinterKeyPosition", nullptr, v);
}
HRESULT RemoteOrbis::GetArticleInfo(std::int32_t article, std::string* s) {
  return Text("GetArticleInfo", json::array({article}), s);
}
HRESULT RemoteOrbis::GetArticleInfoXML(std::int32_t article, std::string* s) {
  return Text("GetArticleInfoXML", json::array({article}), s);
}
HRESULT RemoteOrbis::GetPrinterTime(std::string* s) {
  return Text("GetPrinterTime", nullptr, s);
}
HRESULT RemoteOrbis::GetCashInfo(std::string* s) {
  return Text("GetCashInfo", nullptr, s);
}
HRESULT RemoteOrbis::GetCashInfoXML(std::string* s) {
  return Text("GetCashInfoXML", nullptr, s);
}
HRESULT RemoteOrbis::GetFiscalInfo(std::string* s) {
  return Text("GetFiscalInfo", nullptr, s);
}
HRESULT RemoteOrbis::GetFiscalInfoXML(std::string* s) {
  return Text("GetFiscalInfoXML", nullptr, s);
}
HRESULT RemoteOrbis::GetTaxesInfo(std::string* s) {
  return Text("GetTaxesInfo", nullptr, s);
}
HRESULT RemoteOrbis::GetTaxesInfoXML(std::string* s) {
  return Text("GetTaxesInfoXML", nullptr, s);
}
HRESULT RemoteOrbis::OpenTextDocument() {
  return CallMember("OpenTextDocument", nullptr);
}
HRESULT RemoteOrbis::CloseTextDocument(std::int32_t v) {
  return CallMember("CloseTextDocument", json::array({v}));
}
HRESULT RemoteOrbis::NullCheck() {
  return CallMember("NullCheck", nullptr);
}
HRESULT RemoteOrbis::XReport() {
  return CallMember("XReport", nullptr);
}
HRESULT RemoteOrbis::ZReport() {
  return CallMember("ZReport", nullptr);
}
HRESULT RemoteOrbis::ArticleReport() {
  return CallMember("ArticleReport", nullptr);
}
HRESULT RemoteOrbis::DiscountReport() {
  return CallMember("DiscountReport", nullptr);
}
HRESULT RemoteOrbis::PeriodicalFiscalReport(std::int32_t first, std::int32_t last) {
  return CallMember("PeriodicalFiscalReport", json::array({first, last}));
}
HRESULT RemoteOrbis::PeriodicalFiscalReportDate(double from, double to) {
  return CallMember("PeriodicalFiscalReportDate", json::array({from, to}));
}
HRESULT RemoteOrbis::Feed(std::int32_t v) {
  return CallMember("Feed", json::array({v}));
}
HRESULT RemoteOrbis::SetPrintingDoubleWidth(std::int32_t v) {
  return CallMember("SetPrintingDoubleWidth", json::array({v}));
}
HRESULT RemoteOrbis::SetTableMode(std::int32_t v) {
  return CallMember("SetTableMode", json::array({v}));
}
HRESULT RemoteOrbis::PutToDisplay(const std::string& line1, const std::string& line2) {
  return CallMember("PutToDisplay", json::array({line1, line2}));
}
HRESULT RemoteOrbis::OpenCashBox() {
  return CallMember("OpenCashBox", nullptr);
}
HRESULT RemoteOrbis::CutAndBeep(std::int32_t cutter, std::int32_t beep) {
  return CallMember("CutAndBeep", json::array({cutter, beep}));
}
HRESULT RemoteOrbis::SetInternalTime(std::int32_t h, std::int32_t m, std::int32_t s) {
  return CallMember("SetInternalTime", json::array({h, m, s}));
}
HRESULT RemoteOrbis::SetDeptAlias(const std::string& v) {
  return CallMember("SetDeptAlias", json::array({v}));
}
HRESULT RemoteOrbis::SetCheckHeadLine(const std::string& v) {
  return CallMember("SetCheckHeadLine", json::array({v}));
}
HRESULT RemoteOrbis::SetCheckBottomLine(const std::string& v) {
  return CallMember("SetCheckBottomLine", json::array({v}));
}
HRESULT RemoteOrbis::GetCheckResultXML(std::string* s) {
  return Text("GetCheckResultXML", nullptr, s);
}
HRESULT RemoteOrbis::SetTaxesCalcMode(std::int32_t v) {
  return CallMember("SetTaxesCalcMode", json::array({v}));
}
HRESULT RemoteOrbis::SetShowErrorMessages(std::int32_t v) {
  return CallMember("SetShowErrorMessages", json::array({v}));
}
HRESULT RemoteOrbis::GetLastErrorMessage(std::string* s) {
  return Text("GetLastErrorMessage", nullptr, s);
}
HRESULT RemoteOrbis::ZReportAsync() {
  return CallMember("ZReportAsync", nullptr);
}
HRESULT RemoteOrbis::XReportAsync() {
  return CallMember("XReportAsync", nullptr);
}

}  // namespace vekta
