#pragma once

// An IOrbis that answers every call with one result code and one out value, and records which
// member was called (with the arguments of Init and of the pending-message wait).

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
    args.push_back(param.type == VarType::kBstr   ? Value(std::string())
                   : param.type == VarType::kDate ? Value(0.0)
                                                  : Value(std::int32_t{0}));
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
  std::function<void()> onEnd;
  std::function<void(const char*)> onCall;  // may throw, as a remote object's transport does

  ~RecordingOrbis() override {
    if (onEnd) onEnd();
  }

  void Record(const char* name) {
    calls.emplace_back(name);
    if (onCall) onCall(name);
  }

  // clang-format off
  HRESULT Init(std::int32_t portNumber, const std::string& cashierName, const std::string& cashierPassword, std::int32_t showStatusDialogs, const std::string& callerApplicationName) override { Record("Init"); longs.push_back(portNumber); texts.push_back(cashierName); texts.push_back(cashierPassword); longs.push_back(showStatusDialogs); texts.push_back(callerApplicationName); return hr; }
  HRESULT GetPortNumber(Out<std::int32_t> pPortNumber) override { Record("GetPortNumber"); pPortNumber.Set(number); return hr; }
  HRESULT Done() override { Record("Done"); return hr; }
  HRESULT LockPrinter(std::int32_t) override { Record("LockPrinter"); return hr; }
  HRESULT UnlockPrinter() override { Record("UnlockPrinter"); return hr; }
  HRESULT LowSendMessageToPrinter(const std::string&) override { Record("LowSendMessageToPrinter"); return hr; }
  HRESULT LowGetNextPendingPrinterMessage(std::int32_t timeoutMilliseconds, Out<std::string> textMessage) override { Record("LowGetNextPendingPrinterMessage"); longs.push_back(timeoutMilliseconds); textMessage.Set(text); return hr; }
  HRESULT SetShowPrinterStatus(std::int32_t) override { Record("SetShowPrinterStatus"); return hr; }
  HRESULT GetPrinterSerialNumber(Out<std::string> serialNumber) override { Record("GetPrinterSerialNumber"); serialNumber.Set(text); return hr; }
  HRESULT GetPrinterConfigXML(std::int32_t, Out<std::string> vektaPrinterConfigXML) override { Record("GetPrinterConfigXML"); vektaPrinterConfigXML.Set(text); return hr; }
  HRESULT SetCheckMessagesMode(std::int32_t) override { Record("SetCheckMessagesMode"); return hr; }
  HRESULT OpenCheck(const std::string&) override { Record("OpenCheck"); return hr; }
  HRESULT SetReturnCheckNumber(std::int32_t) override { Record("SetReturnCheckNumber"); return hr; }
  HRESULT OpenReturnCheck(const std::string&) override { Record("OpenReturnCheck"); return hr; }
  HRESULT LongName(const std::string&) override { Record("LongName"); return hr; }
  HRESULT SetCurrentCheckDirection(std::int32_t) override { Record("SetCurrentCheckDirection"); return hr; }
  HRESULT FiscalLine(const std::string&, std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t, Out<std::int32_t> thisLineSum) override { Record("FiscalLine"); thisLineSum.Set(number); return hr; }
  HRESULT FiscalLineEx(const std::string&, std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t, const std::string&, std::int32_t, Out<std::int32_t> thisLineSum) override { Record("FiscalLineEx"); thisLineSum.Set(number); return hr; }
  HRESULT FreeTextLine(std::int32_t, std::int32_t, std::int32_t, const std::string&) override { Record("FreeTextLine"); return hr; }
  HRESULT GetCheckSum(Out<std::int32_t> checkSum) override { Record("GetCheckSum"); checkSum.Set(number); return hr; }
  HRESULT GetCheckOnSaleTaxes(Out<std::int32_t> checkOnSaleTaxes) override { Record("GetCheckOnSaleTaxes"); checkOnSaleTaxes.Set(number); return hr; }
  HRESULT GetCheckReturnSum(Out<std::int32_t> checkReturnSum) override { Record("GetCheckReturnSum"); checkReturnSum.Set(number); return hr; }
  HRESULT GetCheckReturnOnSaleTaxes(Out<std::int32_t> checkReturnOnSaleTaxes) override { Record("GetCheckReturnOnSaleTaxes"); checkReturnOnSaleTaxes.Set(number); return hr; }
  HRESULT ClearFreeTextLines() override { Record("ClearFreeTextLines"); return hr; }
  HRESULT CloseCheck(Out<std::int32_t> checkSum) override { Record("CloseCheck"); checkSum.Set(number); return hr; }
  HRESULT CloseCheckEx(std::int32_t, std::int32_t, std::int32_t, std::int32_t, Out<std::int32_t> checkSum) override { Record("CloseCheckEx"); checkSum.Set(number); return hr; }
  HRESULT AbortCheck() override { Record("AbortCheck"); return hr; }
  HRESULT GetCheckResult(Out<std::string> checkResult) override { Record("GetCheckResult"); checkResult.Set(text); return hr; }
  HRESULT CheckCopy() override { Record("CheckCopy"); return hr; }
  HRESULT SetOnSaleTaxesPrintMode(std::int32_t) override { Record("SetOnSaleTaxesPrintMode"); return hr; }
  HRESULT MoveCash(std::int32_t, std::int32_t) override { Record("MoveCash"); return hr; }
  HRESULT GetPrinterConfig(Out<std::string> config) override { Record("GetPrinterConfig"); config.Set(text); return hr; }
  HRESULT GetPrinterKeyPosition(Out<std::int32_t> keyPosition) override { Record("GetPrinterKeyPosition"); keyPosition.Set(number); return hr; }
  HRESULT GetArticleInfo(std::int32_t, Out<std::string> articleInfo) override { Record("GetArticleInfo"); articleInfo.Set(text); return hr; }
  HRESULT GetArticleInfoXML(std::int32_t, Out<std::string> articleInfo) override { Record("GetArticleInfoXML"); articleInfo.Set(text); return hr; }
  HRESULT GetPrinterTime(Out<std::string> printerTime) override { Record("GetPrinterTime"); printerTime.Set(text); return hr; }
  HRESULT GetCashInfo(Out<std::string> cashInfo) override { Record("GetCashInfo"); cashInfo.Set(text); return hr; }
  HRESULT GetCashInfoXML(Out<std::string> cashInfo) override { Record("GetCashInfoXML"); cashInfo.Set(text); return hr; }
  HRESULT GetFiscalInfo(Out<std::string> fiscalInfo) override { Record("GetFiscalInfo"); fiscalInfo.Set(text); return hr; }
  HRESULT GetFiscalInfoXML(Out<std::string> fiscalInfo) override { Record("GetFiscalInfoXML"); fiscalInfo.Set(text); return hr; }
  HRESULT GetTaxesInfo(Out<std::string> taxesInfo) override { Record("GetTaxesInfo"); taxesInfo.Set(text); return hr; }
  HRESULT GetTaxesInfoXML(Out<std::string> taxesInfo) override { Record("GetTaxesInfoXML"); taxesInfo.Set(text); return hr; }
  HRESULT OpenTextDocument() override { Record("OpenTextDocument"); return hr; }
  HRESULT CloseTextDocument(std::int32_t) override { Record("CloseTextDocument"); return hr; }
  HRESULT NullCheck() override { Record("NullCheck"); return hr; }
  HRESULT XReport() override { Record("XReport"); return hr; }
  HRESULT ZReport() override { Record("ZReport"); return hr; }
  HRESULT ArticleReport() override { Record("ArticleReport"); return hr; }
  HRESULT DiscountReport() override { Record("DiscountReport"); return hr; }
  HRESULT PeriodicalFiscalReport(std::int32_t, std::int32_t) override { Record("PeriodicalFiscalReport"); return hr; }
  HRESULT PeriodicalFiscalReportDate(double, double) override { Record("PeriodicalFiscalReportDate"); return hr; }
  HRESULT Feed(std::int32_t) override { Record("Feed"); return hr; }
  HRESULT SetPrintingDoubleWidth(std::int32_t) override { Record("SetPrintingDoubleWidth"); return hr; }
  HRESULT SetTableMode(std::int32_t) override { Record("SetTableMode"); return hr; }
  HRESULT PutToDisplay(const std::string&, const std::string&) override { Record("PutToDisplay"); return hr; }
  HRESULT OpenCashBox() override { Record("OpenCashBox"); return hr; }
  HRESULT CutAndBeep(std::int32_t, std::int32_t) override { Record("CutAndBeep"); return hr; }
  HRESULT SetInternalTime(std::int32_t, std::int32_t, std::int32_t) override { Record("SetInternalTime"); return hr; }
  HRESULT SetDeptAlias(const std::string&) override { Record("SetDeptAlias"); return hr; }
  HRESULT SetCheckHeadLine(const std::string&) override { Record("SetCheckHeadLine"); return hr; }
  HRESULT SetCheckBottomLine(const std::string&) override { Record("SetCheckBottomLine"); return hr; }
  HRESULT GetCheckResultXML(Out<std::string> checkResult) override { Record("GetCheckResultXML"); checkResult.Set(text); return hr; }
  HRESULT SetTaxesCalcMode(std::int32_t) override { Record("SetTaxesCalcMode"); return hr; }
  HRESULT SetShowErrorMessages(std::int32_t) override { Record("SetShowErrorMessages"); return hr; }
  HRESULT GetLastErrorMessage(Out<std::string> errorMessage) override { Record("GetLastErrorMessage"); errorMessage.Set(text); return hr; }
  HRESULT ZReportAsync() override { Record("ZReportAsync"); return hr; }
  HRESULT XReportAsync() override { Record("XReportAsync"); return hr; }
  // clang-format on
};

}  // namespace vekta
