#include "service/dispatch.h"

#include "service/vekta_manager.h"

namespace vekta {

namespace {

Value FailureValue(const MemberInfo& member) {
  if (member.valueType == VarType::kBstr) return std::string();
  return std::int32_t{member.name == "GetPrinterKeyPosition" ? -1 : 0};
}

Value PropertyGet(VektaManager& o, int dispid) {
  switch (dispid) {
    case 0x14:
      return o.GetCheckSumm();
    case 0x15:
      return o.GetCheckOnSaleTaxes();
    case 0x16:
      return o.GetCheckReturnSumm();
    case 0x17:
      return o.GetCheckReturnOnSaleTaxes();
    case 0x3f:
      return o.GetShowStatusDialogs();
    case 0x42:
      return o.GetShowErrorMessages();
    case 0x43:
      return o.GetLastErrorMessage();
    default:
      return std::int32_t{0};
  }
}

void PropertyPut(VektaManager& o, int dispid, const Value& value) {
  const std::int32_t* number = std::get_if<std::int32_t>(&value);
  switch (dispid) {
    case 0x14:
      o.SetCheckSumm(number ? *number : 0);
      break;
    case 0x15:
      o.SetCheckOnSaleTaxes(number ? *number : 0);
      break;
    case 0x16:
      o.SetCheckReturnSumm(number ? *number : 0);
      break;
    case 0x17:
      o.SetCheckReturnOnSaleTaxes(number ? *number : 0);
      break;
    case 0x3f:
      if (number) o.SetShowStatusDialogs(*number);
      break;
    case 0x42:
      if (number) o.SetShowErrorMessages(*number);
      break;
    case 0x43:
      o.SetLastErrorMessage(std::string());
      break;
    default:
      break;
  }
}

}  // namespace

// clang-format off
Value InvokeVektaManager(VektaManager& o, const MemberInfo& member, InvokeKind kind,
                         const std::vector<Value>& args) {
  const MemberInfo* known = VektaManagerInterface().FindByDispid(member.dispid);
  if (known == nullptr || known->name != member.name) return FailureValue(member);
  if (known->kind == MemberKind::kProperty) {
    if (kind == InvokeKind::kPropertyGet && args.empty()) return PropertyGet(o, known->dispid);
    if (kind == InvokeKind::kPropertyPut && args.size() == 1) {
      PropertyPut(o, known->dispid, args[0]);
      return std::int32_t{0};
    }
    return FailureValue(*known);
  }
  if (kind != InvokeKind::kMethod || Failed(CheckArguments(*known, args))) {
    return FailureValue(*known);
  }
  auto L = [&](std::size_t i) { return std::get<std::int32_t>(args[i]); };
  auto S = [&](std::size_t i) -> const std::string& { return std::get<std::string>(args[i]); };
  auto D = [&](std::size_t i) { return std::get<double>(args[i]); };
  switch (known->dispid) {
    case 0x1: return o.Init(L(0), S(1), S(2), L(3), S(4));
    case 0x2: return o.GetPortNumber();
    case 0x3: return o.Done();
    case 0x4: return o.LockPrinter(L(0));
    case 0x5: return o.UnlockPrinter();
    case 0x6: return o.LowSendMessageToPrinter(S(0));
    case 0x7: return o.LowGetNextPendingPrinterMessage(L(0));
    case 0x8: return o.SetShowPrinterStatus(L(0));
    case 0x9: return o.GetPrinterSerialNumber();
    case 0xa: return o.GetPrinterConfigXML(L(0));
    case 0xb: return o.SetCheckMessagesMode(L(0));
    case 0xc: return o.OpenCheck(S(0));
    case 0xd: return o.SetReturnCheckNumber(L(0));
    case 0xe: return o.OpenReturnCheck(S(0));
    case 0xf: return o.LongName(S(0));
    case 0x10: return o.SetCurrentCheckDirection(L(0));
    case 0x11: return o.FiscalLine(S(0), L(1), L(2), L(3), L(4), L(5), L(6));
    case 0x12: return o.FiscalLineEx(S(0), L(1), L(2), L(3), L(4), L(5), L(6), L(7), S(8), L(9));
    case 0x13: return o.FreeTextLine(L(0), L(1), L(2), S(3));
    case 0x18: return o.ClearFreeTextLines();
    case 0x19: return o.CloseCheck();
    case 0x1a: return o.CloseCheckEx(L(0), L(1), L(2), L(3));
    case 0x1b: return o.AbortCheck();
    case 0x1c: return o.GetCheckResult();
    case 0x1d: return o.CheckCopy();
    case 0x1e: return o.SetOnSaleTaxes(L(0));
    case 0x1f: return o.MoveCash(L(0), L(1));
    case 0x20: return o.GetPrinterConfig();
    case 0x21: return o.GetPrinterKeyPosition();
    case 0x22: return o.GetArticleInfoXML(L(0));
    case 0x23: return o.GetArticleInfo(L(0));
    case 0x24: return o.GetPrinterTime();
    case 0x25: return o.GetCashInfoXML();
    case 0x26: return o.GetCashInfo();
    case 0x27: return o.GetFiscalInfoXML();
    case 0x28: return o.GetFiscalInfo();
    case 0x29: return o.GetTaxesInfoXML();
    case 0x2a: return o.GetTaxesInfo();
    case 0x2b: return o.OpenTextDocument();
    case 0x2c: return o.CloseTextDocument(L(0));
    case 0x2d: return o.NullCheck();
    case 0x2e: return o.XReport();
    case 0x2f: return o.ZReport();
    case 0x30: return o.ArticleReport();
    case 0x31: return o.DiscountReport();
    case 0x32: return o.PeriodicalFiscalReport(L(0), L(1));
    case 0x33: return o.PeriodicalFiscalReportDate(D(0), D(1));
    case 0x34: return o.Feed(L(0));
    case 0x35: return o.SetPrintingDoubleWidth(L(0));
    case 0x36: return o.SetTableMode(L(0));
    case 0x37: return o.PutToDisplay(S(0), S(1));
    case 0x38: return o.OpenCashBox();
    case 0x39: return o.CutAndBeep(L(0), L(1));
    case 0x3a: return o.SetInternalTime(L(0), L(1), L(2));
    case 0x3b: return o.SetDeptAlias(S(0));
    case 0x3c: return o.SetCheckHeadLine(S(0));
    case 0x3d: return o.SetCheckBottomLine(S(0));
    case 0x3e: return o.GetCheckResultXML();
    case 0x40: return o.SetTaxesCalcMode(L(0));
    case 0x41: return o.InitEx(L(0), S(1), S(2), L(3), S(4), S(5));
    case 0x44: return o.XReportAsync();
    case 0x45: return o.ZReportAsync();
    default: return FailureValue(*known);
  }
}
// clang-format on

}  // namespace vekta
