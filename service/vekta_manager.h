#pragma once

// VektaManager ("VektaManager.Application"; CVektaManagerDlgAutoProxy in the Windows program):
// the automation wrapper for late-binding clients. It holds one IOrbis object, made in this
// process by Init or on another host by InitEx, and turns each result into a plain value:
// flags 1/0, numbers (0 on failure), texts (empty on failure). Texts are UTF-8.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "link/link_host.h"
#include "service/i_orbis.h"
#include "service/orbis_factory.h"

namespace vekta {

class PrinterRegistry;

// Makes Orbis objects in this process. It reaches no other host: the client library provides
// the remote factory.
class LocalOrbisFactory final : public OrbisFactory {
 public:
  explicit LocalOrbisFactory(PrinterRegistry& registry) : m_registry(registry) {}
  HRESULT CreateLocal(std::unique_ptr<IOrbis>& object) override;
  HRESULT CreateRemote(const std::string& host, std::unique_ptr<IOrbis>& object) override;

 private:
  PrinterRegistry& m_registry;
};

class VektaManager {
 public:
  // `host` shows InitEx's message boxes.
  VektaManager(OrbisFactory& factory, LinkHost& host);
  // Releasing the held object detaches it from its port.
  ~VektaManager();
  VektaManager(const VektaManager&) = delete;
  VektaManager& operator=(const VektaManager&) = delete;

  bool HoldsObject() const;
  // The server lets the wrapper go while a call may still run: the held object is abandoned
  // (IOrbis::Abandon), and so is any object a later Init of that call makes. Any thread.
  void Abandon();

  std::int32_t Init(std::int32_t portNumber, const std::string& cashierName,
                    const std::string& cashierPassword, std::int32_t showStatusDialogs,
                    const std::string& callerApplicationName);
  std::int32_t GetPortNumber();
  std::int32_t Done();
  std::int32_t LockPrinter(std::int32_t timeoutInMilliseconds);
  std::int32_t UnlockPrinter();
  std::int32_t LowSendMessageToPrinter(const std::string& textMessage);
  // The argument is not used: the wait is always 3000 ms.
  std::string LowGetNextPendingPrinterMessage(std::int32_t timeoutInMilliseconds);
  std::int32_t SetShowPrinterStatus(std::int32_t showStatus);
  std::string GetPrinterSerialNumber();
  std::string GetPrinterConfigXML(std::int32_t refreshFromPrinter);
  std::int32_t SetCheckMessagesMode(std::int32_t mode);
  std::int32_t OpenCheck(const std::string& department);
  std::int32_t SetReturnCheckNumber(std::int32_t checkNumber);
  std::int32_t OpenReturnCheck(const std::string& departmentName);
  std::int32_t LongName(const std::string& name);
  std::int32_t SetCurrentCheckDirection(std::int32_t direction);
  std::int32_t FiscalLine(const std::string& goodName, std::int32_t qty, std::int32_t price,
                          std::int32_t goodsDividual, std::int32_t tax1Index,
                          std::int32_t tax2Index, std::int32_t article);
  std::int32_t FiscalLineEx(const std::string& goodsName, std::int32_t qty, std::int32_t price,
                            std::int32_t goodsDividual, std::int32_t tax1Index,
                            std::int32_t tax2Index, std::int32_t article,
                            std::int32_t discountDirection, const std::string& discountName,
                            std::int32_t discount);
  std::int32_t FreeTextLine(std::int32_t placeBeforeFiscalPart, std::int32_t printOnJornal,
                            std::int32_t doubleStrike, const std::string& textMessage);
  std::int32_t ClearFreeTextLines();
  std::int32_t CloseCheck();
  std::int32_t CloseCheckEx(std::int32_t cash, std::int32_t payCheck, std::int32_t credit,
                            std::int32_t packing);
  std::int32_t AbortCheck();
  std::string GetCheckResult();
  std::int32_t CheckCopy();
  std::int32_t SetOnSaleTaxes(std::int32_t on);
  std::int32_t MoveCash(std::int32_t moveDirection, std::int32_t cashSum);
  std::string GetPrinterConfig();
  // -1 when the call fails or no object is held.
  std::int32_t GetPrinterKeyPosition();
  std::string GetArticleInfoXML(std::int32_t article);
  std::string GetArticleInfo(std::int32_t article);
  std::string GetPrinterTime();
  std::string GetCashInfoXML();
  std::string GetCashInfo();
  std::string GetFiscalInfoXML();
  std::string GetFiscalInfo();
  std::string GetTaxesInfoXML();
  std::string GetTaxesInfo();
  std::int32_t OpenTextDocument();
  std::int32_t CloseTextDocument(std::int32_t printOnJornal);
  std::int32_t NullCheck();
  std::int32_t XReport();
  std::int32_t ZReport();
  std::int32_t ArticleReport();
  std::int32_t DiscountReport();
  std::int32_t PeriodicalFiscalReport(std::int32_t firstZReport, std::int32_t lastZReport);
  std::int32_t PeriodicalFiscalReportDate(double dateFrom, double dateTo);
  std::int32_t Feed(std::int32_t linesToFeed);
  std::int32_t SetPrintingDoubleWidth(std::int32_t doubleWidth);
  std::int32_t SetTableMode(std::int32_t tableMode);
  std::int32_t PutToDisplay(const std::string& line1, const std::string& line2);
  std::int32_t OpenCashBox();
  std::int32_t CutAndBeep(std::int32_t cutterOn, std::int32_t beepOn);
  std::int32_t SetInternalTime(std::int32_t hours, std::int32_t minutes, std::int32_t seconds);
  std::int32_t SetDeptAlias(const std::string& alias);
  std::int32_t SetCheckHeadLine(const std::string& checkHeadLine);
  std::int32_t SetCheckBottomLine(const std::string& checkBottomLine);
  std::string GetCheckResultXML();
  std::int32_t SetTaxesCalcMode(std::int32_t saleTaxesOnTotal);
  std::int32_t InitEx(std::int32_t portNumber, const std::string& cashierName,
                      const std::string& cashierPassword, std::int32_t showStatusDialogs,
                      const std::string& callerApplicationName, const std::string& remoteHostName);
  std::int32_t XReportAsync();
  std::int32_t ZReportAsync();

  // Properties. The receipt sums and LastErrorMessage read through the held object and ignore
  // a set; ShowStatusDialogs and ShowErrorMessages forward a set and always read 0, since
  // nothing keeps a copy.
  std::int32_t GetCheckSumm();
  void SetCheckSumm(std::int32_t) {}
  std::int32_t GetCheckOnSaleTaxes();
  void SetCheckOnSaleTaxes(std::int32_t) {}
  std::int32_t GetCheckReturnSumm();
  void SetCheckReturnSumm(std::int32_t) {}
  std::int32_t GetCheckReturnOnSaleTaxes();
  void SetCheckReturnOnSaleTaxes(std::int32_t) {}
  std::int32_t GetShowStatusDialogs() { return 0; }
  void SetShowStatusDialogs(std::int32_t value);
  std::int32_t GetShowErrorMessages() { return 0; }
  void SetShowErrorMessages(std::int32_t value);
  // Reading empties the link's last error text, as GetLastErrorMessage does.
  std::string GetLastErrorMessage();
  void SetLastErrorMessage(const std::string&) {}

  // The port the last successful Init or InitEx named; 0 when none. Read without waiting for
  // a running call.
  std::int32_t AttachedPort() const { return m_attachedPort.load(); }

 private:
  template <class Call>
  std::int32_t Flag(Call&& call);
  template <class Call>
  std::int32_t Number(Call&& call, std::int32_t failure = 0);
  template <class Call>
  std::string Text(Call&& call);
  void ShowBox(const std::string& text);
  // Both with m_mutex held.
  void Hold(std::unique_ptr<IOrbis> object);
  void Drop();

  OrbisFactory& m_factory;
  LinkHost& m_host;
  // Calls on one wrapper object run one at a time, as they did in its apartment.
  mutable std::mutex m_mutex;
  // Changed under both mutexes: read under m_mutex by the calls, under m_abandonMutex by
  // Abandon, which cannot wait for a running call. m_abandonMutex is taken last.
  std::unique_ptr<IOrbis> m_iOrbis;
  std::mutex m_abandonMutex;
  bool m_abandoned = false;  // guarded by m_abandonMutex
  std::atomic<std::int32_t> m_attachedPort{0};
};

}  // namespace vekta
