#pragma once

// An IOrbis that answers every call with one result code and one out value, and records which
// member was called with which arguments.

#include <functional>
#include <string>
#include <vector>

#include "service/dispatch.h"
#include "service/i_orbis.h"
#include "service/member_table.h"

namespace vekta {

// Arguments of the right types for every [in] parameter of `member`.
inline std::vector<Value> DefaultArgs(const MemberInfo& member) {
  std::vector<Value> args;
  for (const ParamInfo& param : member.params) {
    if (param.dir != ParamDir::kIn) continue;
    if (param.type == VarType::kBstr) {
      args.emplace_back(std::string());
    } else if (param.type == VarType::kDate) {
      args.emplace_back(0.0);
    } else {
      args.emplace_back(std::int32_t{0});
    }
  }
  return args;
}

class RecordingOrbis : public IOrbis {
 public:
  HRESULT hr = S_OK;
  std::int32_t number = 0;
  std::string text;
  std::vector<std::string> calls;
  std::vector<std::int32_t> longs;
  std::vector<std::string> texts;
  std::vector<double> dates;
  std::function<void()> onEnd;
  std::function<void(const char*)> onCall;  // may throw, as a remote object's transport does

  ~RecordingOrbis() override {
    if (onEnd) onEnd();
  }

  void Record(const char* name) {
    calls.emplace_back(name);
    if (onCall) onCall(name);
  }
  template <class T>
  static void Give(const Out<T>& out, const T& value) {
    out.Set(value);
  }

  // clang-format off
  HRESULT Init(std::int32_t portNumber, const std::string& cashierName, const std::string& cashierPassword, std::int32_t showStatusDialogs, const std::string& callerApplicationName) override { Record("Init"); longs.push_back(portNumber); texts.push_back(cashierName); texts.push_back(cashierPassword); longs.push_back(showStatusDialogs); texts.push_back(callerApplicationName); return hr; }
  HRESULT GetPortNumber(Out<std::int32_t> pPortNumber) override { Record("GetPortNumber"); Give(pPortNumber, number); return hr; }
  HRESULT Done() override { Record("Done"); return hr; }
  HRESULT LockPrinter(std::int32_t timeoutInMilliseconds) override { Record("LockPrinter"); longs.push_back(timeoutInMilliseconds); return hr; }
  HRESULT UnlockPrinter() override { Record("UnlockPrinter"); return hr; }
  HRESULT LowSendMessageToPrinter(const std::string& textMessage) override { Record("LowSendMessageToPrinter"); texts.push_back(textMessage); return hr; }
  HRESULT LowGetNextPendingPrinterMessage(std::int32_t timeoutMilliseconds, Out<std::string> textMessage) override { Record("LowGetNextPendingPrinterMessage"); longs.push_back(timeoutMilliseconds); Give(textMessage, text); return hr; }
  HRESULT SetShowPrinterStatus(std::int32_t showStatusDialogs) override { Record("SetShowPrinterStatus"); longs.push_back(showStatusDialogs); return hr; }
  HRESULT GetPrinterSerialNumber(Out<std::string> serialNumber) override { Record("GetPrinterSerialNumber"); Give(serialNumber, text); return hr; }
  HRESULT GetPrinterConfigXML(std::int32_t refreshFromPrinter, Out<std::string> vektaPrinterConfigXML) override { Record("GetPrinterConfigXML"); longs.push_back(refreshFromPrinter); Give(vektaPrinterConfigXML, text); return hr; }
  HRESULT SetCheckMessagesMode(std::int32_t checkMessagesMode) override { Record("SetCheckMessagesMode"); longs.push_back(checkMessagesMode); return hr; }
  HRESULT OpenCheck(const std::string& departmentName) override { Record("OpenCheck"); texts.push_back(departmentName); return hr; }
  HRESULT SetReturnCheckNumber(std::int32_t returnCheckNumber) override { Record("SetReturnCheckNumber"); longs.push_back(returnCheckNumber); return hr; }
  HRESULT OpenReturnCheck(const std::string& departmentName) override { Record("OpenReturnCheck"); texts.push_back(departmentName); return hr; }
  HRESULT LongName(const std::string& longName) override { Record("LongName"); texts.push_back(longName); return hr; }
  HRESULT SetCurrentCheckDirection(std::int32_t checkDirection) override { Record("SetCurrentCheckDirection"); longs.push_back(checkDirection); return hr; }
  HRESULT FiscalLine(const std::string& goodsName, std::int32_t qty, std::int32_t price, std::int32_t goodsDividual, std::int32_t tax1Index, std::int32_t tax2Index, std::int32_t article, Out<std::int32_t> thisLineSum) override { Record("FiscalLine"); texts.push_back(goodsName); longs.push_back(qty); longs.push_back(price); longs.push_back(goodsDividual); longs.push_back(tax1Index); longs.push_back(tax2Index); longs.push_back(article); Give(thisLineSum, number); return hr; }
  HRESULT FiscalLineEx(const std::string& goodsName, std::int32_t qty, std::int32_t price, std::int32_t goodsDividual, std::int32_t tax1Index, std::int32_t tax2Index, std::int32_t article, std::int32_t discountDirection, const std::string& discountName, std::int32_t discountValue, Out<std::int32_t> thisLineSum) override { Record("FiscalLineEx"); texts.push_back(goodsName); longs.push_back(qty); longs.push_back(price); longs.push_back(goodsDividual); longs.push_back(tax1Index); longs.push_back(tax2Index); longs.push_back(article); longs.push_back(discountDirection); texts.push_back(discountName); longs.push_back(discountValue); Give(thisLineSum, number); return hr; }
  HRESULT FreeTextLine(std::int32_t placeBeforeFiscalPart, std::int32_t printOnJornal, std::int32_t useBoldStyle, const std::string& textMessage) override { Record("FreeTextLine"); longs.push_back(placeBeforeFiscalPart); longs.push_back(printOnJornal); longs.push_back(useBoldStyle); texts.push_back(textMessage); return hr; }
  HRESULT GetCheckSum(Out<std::int32_t> checkSum) override { Record("GetCheckSum"); Give(checkSum, number); return hr; }
  HRESULT GetCheckOnSaleTaxes(Out<std::int32_t> checkOnSaleTaxes) override { Record("GetCheckOnSaleTaxes"); Give(checkOnSaleTaxes, number); return hr; }
  HRESULT GetCheckReturnSum(Out<std::int32_t> checkReturnSum) override { Record("GetCheckReturnSum"); Give(checkReturnSum, number); return hr; }
  HRESULT GetCheckReturnOnSaleTaxes(Out<std::int32_t> checkReturnOnSaleTaxes) override { Record("GetCheckReturnOnSaleTaxes"); Give(checkReturnOnSaleTaxes, number); return hr; }
  HRESULT ClearFreeTextLines() override { Record("ClearFreeTextLines"); return hr; }
  HRESULT CloseCheck(Out<std::int32_t> checkSum) override { Record("CloseCheck"); Give(checkSum, number); return hr; }
  HRESULT CloseCheckEx(std::int32_t cash, std::int32_t payCheck, std::int32_t credit, std::int32_t packing, Out<std::int32_t> checkSum) override { Record("CloseCheckEx"); longs.push_back(cash); longs.push_back(payCheck); longs.push_back(credit); longs.push_back(packing); Give(checkSum, number); return hr; }
  HRESULT AbortCheck() override { Record("AbortCheck"); return hr; }
  HRESULT GetCheckResult(Out<std::string> checkResult) override { Record("GetCheckResult"); Give(checkResult, text); return hr; }
  HRESULT CheckCopy() override { Record("CheckCopy"); return hr; }
  HRESULT SetOnSaleTaxesPrintMode(std::int32_t taxesPrintMode) override { Record("SetOnSaleTaxesPrintMode"); longs.push_back(taxesPrintMode); return hr; }
  HRESULT MoveCash(std::int32_t moveDirection, std::int32_t cashSum) override { Record("MoveCash"); longs.push_back(moveDirection); longs.push_back(cashSum); return hr; }
  HRESULT GetPrinterConfig(Out<std::string> config) override { Record("GetPrinterConfig"); Give(config, text); return hr; }
  HRESULT GetPrinterKeyPosition(Out<std::int32_t> keyPosition) override { Record("GetPrinterKeyPosition"); Give(keyPosition, number); return hr; }
  HRESULT GetArticleInfo(std::int32_t article, Out<std::string> articleInfo) override { Record("GetArticleInfo"); longs.push_back(article); Give(articleInfo, text); return hr; }
  HRESULT GetArticleInfoXML(std::int32_t article, Out<std::string> articleInfo) override { Record("GetArticleInfoXML"); longs.push_back(article); Give(articleInfo, text); return hr; }
  HRESULT GetPrinterTime(Out<std::string> printerTime) override { Record("GetPrinterTime"); Give(printerTime, text); return hr; }
  HRESULT GetCashInfo(Out<std::string> cashInfo) override { Record("GetCashInfo"); Give(cashInfo, text); return hr; }
  HRESULT GetCashInfoXML(Out<std::string> cashInfo) override { Record("GetCashInfoXML"); Give(cashInfo, text); return hr; }
  HRESULT GetFiscalInfo(Out<std::string> fiscalInfo) override { Record("GetFiscalInfo"); Give(fiscalInfo, text); return hr; }
  HRESULT GetFiscalInfoXML(Out<std::string> fiscalInfo) override { Record("GetFiscalInfoXML"); Give(fiscalInfo, text); return hr; }
  HRESULT GetTaxesInfo(Out<std::string> taxesInfo) override { Record("GetTaxesInfo"); Give(taxesInfo, text); return hr; }
  HRESULT GetTaxesInfoXML(Out<std::string> taxesInfo) override { Record("GetTaxesInfoXML"); Give(taxesInfo, text); return hr; }
  HRESULT OpenTextDocument() override { Record("OpenTextDocument"); return hr; }
  HRESULT CloseTextDocument(std::int32_t printOnJornal) override { Record("CloseTextDocument"); longs.push_back(printOnJornal); return hr; }
  HRESULT NullCheck() override { Record("NullCheck"); return hr; }
  HRESULT XReport() override { Record("XReport"); return hr; }
  HRESULT ZReport() override { Record("ZReport"); return hr; }
  HRESULT ArticleReport() override { Record("ArticleReport"); return hr; }
  HRESULT DiscountReport() override { Record("DiscountReport"); return hr; }
  HRESULT PeriodicalFiscalReport(std::int32_t firstZReport, std::int32_t lastZReport) override { Record("PeriodicalFiscalReport"); longs.push_back(firstZReport); longs.push_back(lastZReport); return hr; }
  HRESULT PeriodicalFiscalReportDate(double dateFrom, double dateTo) override { Record("PeriodicalFiscalReportDate"); dates.push_back(dateFrom); dates.push_back(dateTo); return hr; }
  HRESULT Feed(std::int32_t linesToFeed) override { Record("Feed"); longs.push_back(linesToFeed); return hr; }
  HRESULT SetPrintingDoubleWidth(std::int32_t on) override { Record("SetPrintingDoubleWidth"); longs.push_back(on); return hr; }
  HRESULT SetTableMode(std::int32_t on) override { Record("SetTableMode"); longs.push_back(on); return hr; }
  HRESULT PutToDisplay(const std::string& line1, const std::string& line2) override { Record("PutToDisplay"); texts.push_back(line1); texts.push_back(line2); return hr; }
  HRESULT OpenCashBox() override { Record("OpenCashBox"); return hr; }
  HRESULT CutAndBeep(std::int32_t cutterOn, std::int32_t beepOn) override { Record("CutAndBeep"); longs.push_back(cutterOn); longs.push_back(beepOn); return hr; }
  HRESULT SetInternalTime(std::int32_t hours, std::int32_t minutes, std::int32_t seconds) override { Record("SetInternalTime"); longs.push_back(hours); longs.push_back(minutes); longs.push_back(seconds); return hr; }
  HRESULT SetDeptAlias(const std::string& deptAlias) override { Record("SetDeptAlias"); texts.push_back(deptAlias); return hr; }
  HRESULT SetCheckHeadLine(const std::string& checkText) override { Record("SetCheckHeadLine"); texts.push_back(checkText); return hr; }
  HRESULT SetCheckBottomLine(const std::string& checkLine) override { Record("SetCheckBottomLine"); texts.push_back(checkLine); return hr; }
  HRESULT GetCheckResultXML(Out<std::string> checkResult) override { Record("GetCheckResultXML"); Give(checkResult, text); return hr; }
  HRESULT SetTaxesCalcMode(std::int32_t saleTaxesOnTotal) override { Record("SetTaxesCalcMode"); longs.push_back(saleTaxesOnTotal); return hr; }
  HRESULT SetShowErrorMessages(std::int32_t showErrorMessages) override { Record("SetShowErrorMessages"); longs.push_back(showErrorMessages); return hr; }
  HRESULT GetLastErrorMessage(Out<std::string> errorMessage) override { Record("GetLastErrorMessage"); Give(errorMessage, text); return hr; }
  HRESULT ZReportAsync() override { Record("ZReportAsync"); return hr; }
  HRESULT XReportAsync() override { Record("XReportAsync"); return hr; }
  // clang-format on
};

}  // namespace vekta
