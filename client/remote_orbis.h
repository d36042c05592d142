#pragma once

// RemoteOrbis: an Orbis object of a server reached over HTTP, with the same results as the
// object in the server's process. Texts are UTF-8 both ways. Destroying it is the final release
// of the server's object.
//
// Calls that change the printer's state carry an Idempotency-Key; when the answer is lost on
// the way (the connection drops, the server is slow to answer), the call is sent once more with
// the same key, and the server answers from what it stored instead of printing again.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "client/object_connection.h"
#include "service/i_orbis.h"
#include "service/orbis_binding.h"

namespace vekta {

class LeaseKeeper;

class RemoteOrbis final : public IOrbis {
 public:
  // Creates the object on the server ("VektaManager.Orbis"). `keeper` pings it while it lives
  // (none: no pings; the lease then runs from each call).
  static HRESULT Create(std::shared_ptr<ObjectConnection> connection,
                        std::unique_ptr<RemoteOrbis>& object,
                        std::shared_ptr<LeaseKeeper> keeper = nullptr, std::int64_t leaseMs = 0);
  // An object created earlier (by another process): not released when this one goes.
  static std::unique_ptr<RemoteOrbis> AttachExisting(std::shared_ptr<ObjectConnection> connection,
                                                     std::string objectId);
  ~RemoteOrbis() override;
  RemoteOrbis(const RemoteOrbis&) = delete;
  RemoteOrbis& operator=(const RemoteOrbis&) = delete;

  const std::string& ObjectId() const { return m_objectId; }
  ObjectConnection& Connection() { return *m_connection; }
  // Why the last call failed on the way (empty after a completed call).
  const std::string& LastTransportError() const { return m_lastTransportError; }

  // How long an Orbis member waits on the server by its first argument before it answers
  // (LockPrinter, LowGetNextPendingPrinterMessage; 0 for the others).
  static std::chrono::milliseconds ServerWait(std::string_view member, std::int64_t argument);

  // A call by member name with JSON arguments; the [out] value, if any, in `out`. `extraWait`
  // is how long the member waits on the server by its arguments.
  HRESULT CallMember(const std::string& member, const nlohmann::json& args,
                     nlohmann::json* out = nullptr,
                     std::chrono::milliseconds extraWait = std::chrono::milliseconds(0));

  HRESULT Init(std::int32_t portNumber, const std::string& cashierName,
               const std::string& cashierPassword, std::int32_t showStatusDialogs,
               const std::string& callerApplicationName) override;
  HRESULT GetPortNumber(Out<std::int32_t> pPortNumber) override;
  HRESULT Done() override;
  HRESULT LockPrinter(std::int32_t timeoutInMilliseconds) override;
  HRESULT UnlockPrinter() override;
  HRESULT LowSendMessageToPrinter(const std::string& textMessage) override;
  HRESULT LowGetNextPendingPrinterMessage(std::int32_t timeoutMilliseconds,
                                          Out<std::string> textMessage) override;
  HRESULT SetShowPrinterStatus(std::int32_t showStatusDialogs) override;
  HRESULT GetPrinterSerialNumber(Out<std::string> serialNumber) override;
  HRESULT GetPrinterConfigXML(std::int32_t refreshFromPrinter,
                              Out<std::string> vektaPrinterConfigXML) override;
  HRESULT SetCheckMessagesMode(std::int32_t checkMessagesMode) override;
  HRESULT OpenCheck(const std::string& departmentName) override;
  HRESULT SetReturnCheckNumber(std::int32_t returnCheckNumber) override;
  HRESULT OpenReturnCheck(const std::string& departmentName) override;
  HRESULT LongName(const std::string& longName) override;
  HRESULT SetCurrentCheckDirection(std::int32_t checkDirection) override;
  HRESULT FiscalLine(const std::string& goodsName, std::int32_t qty, std::int32_t price,
                     std::int32_t goodsDividual, std::int32_t tax1Index, std::int32_t tax2Index,
                     std::int32_t article, Out<std::int32_t> thisLineSum) override;
  HRESULT FiscalLineEx(const std::string& goodsName, std::int32_t qty, std::int32_t price,
                       std::int32_t goodsDividual, std::int32_t tax1Index, std::int32_t tax2Index,
                       std::int32_t article, std::int32_t discountDirection,
                       const std::string& discountName, std::int32_t discountValue,
                       Out<std::int32_t> thisLineSum) override;
  HRESULT FreeTextLine(std::int32_t placeBeforeFiscalPart, std::int32_t printOnJornal,
                       std::int32_t useBoldStyle, const std::string& textMessage) override;
  HRESULT GetCheckSum(Out<std::int32_t> checkSum) override;
  HRESULT GetCheckOnSaleTaxes(Out<std::int32_t> checkOnSaleTaxes) override;
  HRESULT GetCheckReturnSum(Out<std::int32_t> checkReturnSum) override;
  HRESULT GetCheckReturnOnSaleTaxes(Out<std::int32_t> checkReturnOnSaleTaxes) override;
  HRESULT ClearFreeTextLines() override;
  HRESULT CloseCheck(Out<std::int32_t> checkSum) override;
  HRESULT CloseCheckEx(std::int32_t cash, std::int32_t payCheck, std::int32_t credit,
                       std::int32_t packing, Out<std::int32_t> checkSum) override;
  HRESULT AbortCheck() override;
  HRESULT GetCheckResult(Out<std::string> checkResult) override;
  HRESULT CheckCopy() override;
  HRESULT SetOnSaleTaxesPrintMode(std::int32_t taxesPrintMode) override;
  HRESULT MoveCash(std::int32_t moveDirection, std::int32_t cashSum) override;
  HRESULT GetPrinterConfig(Out<std::string> config) override;
  HRESULT GetPrinterKeyPosition(Out<std::int32_t> keyPosition) override;
  HRESULT GetArticleInfo(std::int32_t article, Out<std::string> articleInfo) override;
  HRESULT GetArticleInfoXML(std::int32_t article, Out<std::string> articleInfo) override;
  HRESULT GetPrinterTime(Out<std::string> printerTime) override;
  HRESULT GetCashInfo(Out<std::string> cashInfo) override;
  HRESULT GetCashInfoXML(Out<std::string> cashInfo) override;
  HRESULT GetFiscalInfo(Out<std::string> fiscalInfo) override;
  HRESULT GetFiscalInfoXML(Out<std::string> fiscalInfo) override;
  HRESULT GetTaxesInfo(Out<std::string> taxesInfo) override;
  HRESULT GetTaxesInfoXML(Out<std::string> taxesInfo) override;
  HRESULT OpenTextDocument() override;
  HRESULT CloseTextDocument(std::int32_t printOnJornal) override;
  HRESULT NullCheck() override;
  HRESULT XReport() override;
  HRESULT ZReport() override;
  HRESULT ArticleReport() override;
  HRESULT DiscountReport() override;
  HRESULT PeriodicalFiscalReport(std::int32_t firstZReport, std::int32_t lastZReport) override;
  HRESULT PeriodicalFiscalReportDate(double dateFrom, double dateTo) override;
  HRESULT Feed(std::int32_t linesToFeed) override;
  HRESULT SetPrintingDoubleWidth(std::int32_t on) override;
  HRESULT SetTableMode(std::int32_t on) override;
  HRESULT PutToDisplay(const std::string& line1, const std::string& line2) override;
  HRESULT OpenCashBox() override;
  HRESULT CutAndBeep(std::int32_t cutterOn, std::int32_t beepOn) override;
  HRESULT SetInternalTime(std::int32_t hours, std::int32_t minutes, std::int32_t seconds) override;
  HRESULT SetDeptAlias(const std::string& deptAlias) override;
  HRESULT SetCheckHeadLine(const std::string& checkText) override;
  HRESULT SetCheckBottomLine(const std::string& checkLine) override;
  HRESULT GetCheckResultXML(Out<std::string> checkResult) override;
  HRESULT SetTaxesCalcMode(std::int32_t saleTaxesOnTotal) override;
  HRESULT SetShowErrorMessages(std::int32_t showErrorMessages) override;
  HRESULT GetLastErrorMessage(Out<std::string> errorMessage) override;
  HRESULT ZReportAsync() override;
  HRESULT XReportAsync() override;
  // A call still waiting on the server (a printer lock, a message) ends there: the server's
  // object is released now, on a connection of its own.
  void Abandon() override;

 private:
  RemoteOrbis(std::shared_ptr<ObjectConnection> connection, std::string objectId,
              std::shared_ptr<LeaseKeeper> keeper, std::int64_t leaseMs);
  // The member's arguments in order, [in] ones into the call, the [out] one set from the answer.
  struct Outs {
    Out<std::int32_t> number = nullptr;
    Out<std::string> text = nullptr;
  };
  static void Add(nlohmann::json& args, Outs&, std::int32_t value) { args.push_back(value); }
  static void Add(nlohmann::json& args, Outs&, double value) { args.push_back(value); }
  static void Add(nlohmann::json& args, Outs&, const std::string& value) { args.push_back(value); }
  static void Add(nlohmann::json&, Outs& outs, Out<std::int32_t> out) { outs.number = out; }
  static void Add(nlohmann::json&, Outs& outs, Out<std::string> out) { outs.text = out; }

  template <auto Member, class... P>
  HRESULT Forward(const P&... params) {
    return ForwardWaiting<Member>(std::chrono::milliseconds(0), params...);
  }
  template <auto Member, class... P>
  HRESULT ForwardWaiting(std::chrono::milliseconds extraWait, const P&... params) {
    nlohmann::json args = nlohmann::json::array();
    Outs outs;
    (Add(args, outs, params), ...);
    return CallBound(BoundMember<Member>(), args, outs, extraWait);
  }
  HRESULT CallBound(const MemberInfo& member, const nlohmann::json& args, const Outs& outs,
                    std::chrono::milliseconds extraWait);
  // Releases the server's object now, beside a call that waits there.
  void ReleaseBeside();

  std::shared_ptr<ObjectConnection> m_connection;
  std::string m_objectId;
  std::shared_ptr<LeaseKeeper> m_keeper;
  std::uint64_t m_leaseTicket = 0;
  std::string m_lastTransportError;
  std::atomic<int> m_callsRunning{0};
  std::atomic<bool> m_owned{true};  // the server's object is still to be released
  std::atomic<bool> m_abandoned{false};
};

}  // namespace vekta
