#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "service/hresult.h"

namespace vekta {

// Where a member puts its [out, retval] value: the address of a plain value, as callers pass it,
// or of an optional, which then also tells whether the member set the value at all.
template <class T>
class Out {
 public:
  Out(std::nullptr_t) {}
  Out(T* plain) : m_plain(plain) {}
  Out(std::optional<T>* held) : m_held(held) {}

  explicit operator bool() const { return m_plain != nullptr || m_held != nullptr; }
  void Set(T value) const {
    if (m_plain != nullptr) {
      *m_plain = std::move(value);
    } else if (m_held != nullptr) {
      *m_held = std::move(value);
    }
  }

 private:
  T* m_plain = nullptr;
  std::optional<T>* m_held = nullptr;
};

// The printer object interface, in interface order (the comment is the dispid). Texts are UTF-8;
// [out, retval] values are set only as each member's result rules say. The in-process
// Orbis object and the remote one of the client library implement it alike.
class IOrbis {
 public:
  virtual ~IOrbis() = default;

  virtual HRESULT Init(std::int32_t portNumber, const std::string& cashierName,
                       const std::string& cashierPassword, std::int32_t showStatusDialogs,
                       const std::string& callerApplicationName) = 0;           // 0x1
  virtual HRESULT GetPortNumber(Out<std::int32_t> pPortNumber) = 0;             // 0x2
  virtual HRESULT Done() = 0;                                                   // 0x3
  virtual HRESULT LockPrinter(std::int32_t timeoutInMilliseconds) = 0;          // 0x4
  virtual HRESULT UnlockPrinter() = 0;                                          // 0x5
  virtual HRESULT LowSendMessageToPrinter(const std::string& textMessage) = 0;  // 0x6
  virtual HRESULT LowGetNextPendingPrinterMessage(std::int32_t timeoutMilliseconds,
                                                  Out<std::string> textMessage) = 0;  // 0x7
  virtual HRESULT SetShowPrinterStatus(std::int32_t showStatusDialogs) = 0;           // 0x8
  virtual HRESULT GetPrinterSerialNumber(Out<std::string> serialNumber) = 0;          // 0x9
  virtual HRESULT GetPrinterConfigXML(std::int32_t refreshFromPrinter,
                                      Out<std::string> vektaPrinterConfigXML) = 0;  // 0xa
  virtual HRESULT SetCheckMessagesMode(std::int32_t checkMessagesMode) = 0;         // 0xb
  virtual HRESULT OpenCheck(const std::string& departmentName) = 0;                 // 0xc
  virtual HRESULT SetReturnCheckNumber(std::int32_t returnCheckNumber) = 0;         // 0xd
  virtual HRESULT OpenReturnCheck(const std::string& departmentName) = 0;           // 0xe
  virtual HRESULT LongName(const std::string& longName) = 0;                        // 0xf
  virtual HRESULT SetCurrentCheckDirection(std::int32_t checkDirection) = 0;        // 0x10
  virtual HRESULT FiscalLine(const std::string& goodsName, std::int32_t qty, std::int32_t price,
                             std::int32_t goodsDividual, std::int32_t tax1Index,
                             std::int32_t tax2Index, std::int32_t article,
                             Out<std::int32_t> thisLineSum) = 0;  // 0x11
  virtual HRESULT FiscalLineEx(const std::string& goodsName, std::int32_t qty, std::int32_t price,
                               std::int32_t goodsDividual, std::int32_t tax1Index,
                               std::int32_t tax2Index, std::int32_t article,
                               std::int32_t discountDirection, const std::string& discountName,
                               std::int32_t discountValue,
                               Out<std::int32_t> thisLineSum) = 0;  // 0x12
  virtual HRESULT FreeTextLine(std::int32_t placeBeforeFiscalPart, std::int32_t printOnJornal,
                               std::int32_t useBoldStyle,
                               const std::string& textMessage) = 0;                         // 0x13
  virtual HRESULT GetCheckSum(Out<std::int32_t> checkSum) = 0;                              // 0x14
  virtual HRESULT GetCheckOnSaleTaxes(Out<std::int32_t> checkOnSaleTaxes) = 0;              // 0x15
  virtual HRESULT GetCheckReturnSum(Out<std::int32_t> checkReturnSum) = 0;                  // 0x16
  virtual HRESULT GetCheckReturnOnSaleTaxes(Out<std::int32_t> checkReturnOnSaleTaxes) = 0;  // 0x17
  virtual HRESULT ClearFreeTextLines() = 0;                                                 // 0x18
  virtual HRESULT CloseCheck(Out<std::int32_t> checkSum) = 0;                               // 0x19
  virtual HRESULT CloseCheckEx(std::int32_t cash, std::int32_t payCheck, std::int32_t credit,
                               std::int32_t packing, Out<std::int32_t> checkSum) = 0;      // 0x1a
  virtual HRESULT AbortCheck() = 0;                                                        // 0x1b
  virtual HRESULT GetCheckResult(Out<std::string> checkResult) = 0;                        // 0x1c
  virtual HRESULT CheckCopy() = 0;                                                         // 0x1d
  virtual HRESULT SetOnSaleTaxesPrintMode(std::int32_t taxesPrintMode) = 0;                // 0x1e
  virtual HRESULT MoveCash(std::int32_t moveDirection, std::int32_t cashSum) = 0;          // 0x1f
  virtual HRESULT GetPrinterConfig(Out<std::string> config) = 0;                           // 0x20
  virtual HRESULT GetPrinterKeyPosition(Out<std::int32_t> keyPosition) = 0;                // 0x21
  virtual HRESULT GetArticleInfo(std::int32_t article, Out<std::string> articleInfo) = 0;  // 0x22
  virtual HRESULT GetArticleInfoXML(std::int32_t article,
                                    Out<std::string> articleInfo) = 0;  // 0x23
  virtual HRESULT GetPrinterTime(Out<std::string> printerTime) = 0;     // 0x24
  virtual HRESULT GetCashInfo(Out<std::string> cashInfo) = 0;           // 0x25
  virtual HRESULT GetCashInfoXML(Out<std::string> cashInfo) = 0;        // 0x26
  virtual HRESULT GetFiscalInfo(Out<std::string> fiscalInfo) = 0;       // 0x27
  virtual HRESULT GetFiscalInfoXML(Out<std::string> fiscalInfo) = 0;    // 0x28
  virtual HRESULT GetTaxesInfo(Out<std::string> taxesInfo) = 0;         // 0x29
  virtual HRESULT GetTaxesInfoXML(Out<std::string> taxesInfo) = 0;      // 0x2a
  virtual HRESULT OpenTextDocument() = 0;                               // 0x2b
  virtual HRESULT CloseTextDocument(std::int32_t printOnJornal) = 0;    // 0x2c
  virtual HRESULT NullCheck() = 0;                                      // 0x2d
  virtual HRESULT XReport() = 0;                                        // 0x2e
  virtual HRESULT ZReport() = 0;                                        // 0x2f
  virtual HRESULT ArticleReport() = 0;                                  // 0x30
  virtual HRESULT DiscountReport() = 0;                                 // 0x31
  virtual HRESULT PeriodicalFiscalReport(std::int32_t firstZReport,
                                         std::int32_t lastZReport) = 0;                  // 0x32
  virtual HRESULT PeriodicalFiscalReportDate(double dateFrom, double dateTo) = 0;        // 0x33
  virtual HRESULT Feed(std::int32_t linesToFeed) = 0;                                    // 0x34
  virtual HRESULT SetPrintingDoubleWidth(std::int32_t on) = 0;                           // 0x35
  virtual HRESULT SetTableMode(std::int32_t on) = 0;                                     // 0x36
  virtual HRESULT PutToDisplay(const std::string& line1, const std::string& line2) = 0;  // 0x37
  virtual HRESULT OpenCashBox() = 0;                                                     // 0x38
  virtual HRESULT CutAndBeep(std::int32_t cutterOn, std::int32_t beepOn) = 0;            // 0x39
  virtual HRESULT SetInternalTime(std::int32_t hours, std::int32_t minutes,
                                  std::int32_t seconds) = 0;                 // 0x3a
  virtual HRESULT SetDeptAlias(const std::string& deptAlias) = 0;            // 0x3b
  virtual HRESULT SetCheckHeadLine(const std::string& checkText) = 0;        // 0x3c
  virtual HRESULT SetCheckBottomLine(const std::string& checkLine) = 0;      // 0x3d
  virtual HRESULT GetCheckResultXML(Out<std::string> checkResult) = 0;       // 0x3e
  virtual HRESULT SetTaxesCalcMode(std::int32_t saleTaxesOnTotal) = 0;       // 0x3f
  virtual HRESULT SetShowErrorMessages(std::int32_t showErrorMessages) = 0;  // 0x40
  virtual HRESULT GetLastErrorMessage(Out<std::string> errorMessage) = 0;    // 0x41
  virtual HRESULT ZReportAsync() = 0;                                        // 0x42
  virtual HRESULT XReportAsync() = 0;                                        // 0x43

  // Not a member of the interface: the holder has let the object go while one of its calls may
  // still be running. Every wait of such a call ends (LockPrinter, Init behind another client's
  // connect, the pending-message wait) and the printer lock the object holds is given up. Any
  // thread; the object itself goes once its calls have returned.
  virtual void Abandon() {}
};

}  // namespace vekta
