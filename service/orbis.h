#pragma once

// Orbis: the printer object that point-of-sale programs call. A thin handle: it holds which port
// it is attached to and the caller's name; all printer state lives in the port's PrinterLink,
// shared by every object attached to that port.
//
// Threads: calls that talk to the printer run under the link's command mutex (one at a time per
// port, ports in parallel); calls that only read what the link stores do not take it. The
// waits for another client (its connect, its printer lock) and for a pending message hold
// neither, and Abandon ends them. Lock order: the object's mutex, then the registry mutex, then
// the link's command mutex; the abandon mutex is taken last (the daemon's whole order is in
// service/printer_registry.h).

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "service/i_orbis.h"
#include "service/printer_registry.h"

namespace vekta {

// The state of one Orbis object.
struct OrbisClient {
  std::int32_t portNumber = -1;  // -1 new, the port of the last good Init, 0 after Done
  std::shared_ptr<PrinterEntry> entry;
  std::string callerName;  // Windows-1251, as the connection list shows it
};

class Orbis final : public IOrbis {
 public:
  explicit Orbis(PrinterRegistry& registry);
  // The final release: detaches, giving up any printer lock the object holds.
  ~Orbis() override;
  Orbis(const Orbis&) = delete;
  Orbis& operator=(const Orbis&) = delete;

  // The entry the object is attached to, or none.
  std::shared_ptr<PrinterEntry> Entry() const;
  // The port of that entry, 0 when none; read without waiting for a running Init.
  std::int32_t AttachedPort() const { return m_attachedPort.load(); }

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

  void Abandon() override;

 private:
  // The link of the attached object, or none.
  SharedLink AttachedLink() const;
  void SetEntry(std::shared_ptr<PrinterEntry> entry);  // m_mutex held
  void DetachLocked();                                 // m_mutex held
  // The oldest queued message, waiting up to `timeoutMs` for one; empty when none came.
  std::string WaitPendingMessage(const SharedLink& link, std::int32_t timeoutMs);

  PrinterRegistry& m_registry;
  mutable std::mutex m_mutex;
  OrbisClient m_client;  // guarded by m_mutex
  std::atomic<std::int32_t> m_attachedPort{0};
  std::atomic<bool> m_abandoned{false};
  // The entry again, for Abandon, which cannot take m_mutex: Init holds it while it waits.
  std::mutex m_abandonMutex;
  std::shared_ptr<PrinterEntry> m_abandonEntry;  // guarded by m_abandonMutex
};

}  // namespace vekta
