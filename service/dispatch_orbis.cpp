#include <limits>

#include "service/dispatch.h"
#include "service/i_orbis.h"

namespace vekta {

namespace {

// Values an [out] parameter cannot plausibly come back with: how a call that left its out value
// alone is told from one that set it.
constexpr std::int32_t kUnsetLong = std::numeric_limits<std::int32_t>::min();
const std::string& UnsetText() {
  static const std::string kText("\0unset", 6);
  return kText;
}

bool Matches(const Value& value, VarType type) {
  switch (type) {
    case VarType::kLong:
      return std::holds_alternative<std::int32_t>(value);
    case VarType::kBstr:
      return std::holds_alternative<std::string>(value);
    case VarType::kDate:
      return std::holds_alternative<double>(value);
    case VarType::kVoid:
      break;
  }
  return false;
}

class Args {
 public:
  explicit Args(const std::vector<Value>& args) : m_args(args) {}
  std::int32_t L(std::size_t i) const { return std::get<std::int32_t>(m_args[i]); }
  const std::string& S(std::size_t i) const { return std::get<std::string>(m_args[i]); }
  double D(std::size_t i) const { return std::get<double>(m_args[i]); }

 private:
  const std::vector<Value>& m_args;
};

}  // namespace

HRESULT CheckArguments(const MemberInfo& member, const std::vector<Value>& args) {
  if (args.size() != member.InCount()) return DISP_E_BADPARAMCOUNT;
  std::size_t next = 0;
  for (const ParamInfo& param : member.params) {
    if (param.dir != ParamDir::kIn) continue;
    if (!Matches(args[next++], param.type)) return DISP_E_TYPEMISMATCH;
  }
  return S_OK;
}

OrbisCallResult InvokeOrbis(IOrbis& object, const MemberInfo& member,
                            const std::vector<Value>& args) {
  OrbisCallResult result;
  const MemberInfo* known = OrbisInterface().FindByDispid(member.dispid);
  if (known == nullptr || known->name != member.name) {
    result.hr = DISP_E_UNKNOWNNAME;
    return result;
  }
  result.hr = CheckArguments(*known, args);
  if (Failed(result.hr)) return result;

  const Args a(args);
  std::int32_t number = kUnsetLong;
  std::string text = UnsetText();
  HRESULT& hr = result.hr;
  // clang-format off
  switch (known->dispid) {
    case 0x1: hr = object.Init(a.L(0), a.S(1), a.S(2), a.L(3), a.S(4)); break;
    case 0x2: hr = object.GetPortNumber(&number); break;
    case 0x3: hr = object.Done(); break;
    case 0x4: hr = object.LockPrinter(a.L(0)); break;
    case 0x5: hr = object.UnlockPrinter(); break;
    case 0x6: hr = object.LowSendMessageToPrinter(a.S(0)); break;
    case 0x7: hr = object.LowGetNextPendingPrinterMessage(a.L(0), &text); break;
    case 0x8: hr = object.SetShowPrinterStatus(a.L(0)); break;
    case 0x9: hr = object.GetPrinterSerialNumber(&text); break;
    case 0xa: hr = object.GetPrinterConfigXML(a.L(0), &text); break;
    case 0xb: hr = object.SetCheckMessagesMode(a.L(0)); break;
    case 0xc: hr = object.OpenCheck(a.S(0)); break;
    case 0xd: hr = object.SetReturnCheckNumber(a.L(0)); break;
    case 0xe: hr = object.OpenReturnCheck(a.S(0)); break;
    case 0xf: hr = object.LongName(a.S(0)); break;
    case 0x10: hr = object.SetCurrentCheckDirection(a.L(0)); break;
    case 0x11:
      hr = object.FiscalLine(a.S(0), a.L(1), a.L(2), a.L(3), a.L(4), a.L(5), a.L(6), &number);
      break;
    case 0x12:
      hr = object.FiscalLineEx(a.S(0), a.L(1), a.L(2), a.L(3), a.L(4), a.L(5), a.L(6), a.L(7),
                               a.S(8), a.L(9), &number);
      break;
    case 0x13: hr = object.FreeTextLine(a.L(0), a.L(1), a.L(2), a.S(3)); break;
    case 0x14: hr = object.GetCheckSum(&number); break;
    case 0x15: hr = object.GetCheckOnSaleTaxes(&number); break;
    case 0x16: hr = object.GetCheckReturnSum(&number); break;
    case 0x17: hr = object.GetCheckReturnOnSaleTaxes(&number); break;
    case 0x18: hr = object.ClearFreeTextLines(); break;
    case 0x19: hr = object.CloseCheck(&number); break;
    case 0x1a: hr = object.CloseCheckEx(a.L(0), a.L(1), a.L(2), a.L(3), &number); break;
    case 0x1b: hr = object.AbortCheck(); break;
    case 0x1c: hr = object.GetCheckResult(&text); break;
    case 0x1d: hr = object.CheckCopy(); break;
    case 0x1e: hr = object.SetOnSaleTaxesPrintMode(a.L(0)); break;
    case 0x1f: hr = object.MoveCash(a.L(0), a.L(1)); break;
    case 0x20: hr = object.GetPrinterConfig(&text); break;
    case 0x21: hr = object.GetPrinterKeyPosition(&number); break;
    case 0x22: hr = object.GetArticleInfo(a.L(0), &text); break;
    case 0x23: hr = object.GetArticleInfoXML(a.L(0), &text); break;
    case 0x24: hr = object.GetPrinterTime(&text); break;
    case 0x25: hr = object.GetCashInfo(&text); break;
    case 0x26: hr = object.GetCashInfoXML(&text); break;
    case 0x27: hr = object.GetFiscalInfo(&text); break;
    case 0x28: hr = object.GetFiscalInfoXML(&text); break;
    case 0x29: hr = object.GetTaxesInfo(&text); break;
    case 0x2a: hr = object.GetTaxesInfoXML(&text); break;
    case 0x2b: hr = object.OpenTextDocument(); break;
    case 0x2c: hr = object.CloseTextDocument(a.L(0)); break;
    case 0x2d: hr = object.NullCheck(); break;
    case 0x2e: hr = object.XReport(); break;
    case 0x2f: hr = object.ZReport(); break;
    case 0x30: hr = object.ArticleReport(); break;
    case 0x31: hr = object.DiscountReport(); break;
    case 0x32: hr = object.PeriodicalFiscalReport(a.L(0), a.L(1)); break;
    case 0x33: hr = object.PeriodicalFiscalReportDate(a.D(0), a.D(1)); break;
    case 0x34: hr = object.Feed(a.L(0)); break;
    case 0x35: hr = object.SetPrintingDoubleWidth(a.L(0)); break;
    case 0x36: hr = object.SetTableMode(a.L(0)); break;
    case 0x37: hr = object.PutToDisplay(a.S(0), a.S(1)); break;
    case 0x38: hr = object.OpenCashBox(); break;
    case 0x39: hr = object.CutAndBeep(a.L(0), a.L(1)); break;
    case 0x3a: hr = object.SetInternalTime(a.L(0), a.L(1), a.L(2)); break;
    case 0x3b: hr = object.SetDeptAlias(a.S(0)); break;
    case 0x3c: hr = object.SetCheckHeadLine(a.S(0)); break;
    case 0x3d: hr = object.SetCheckBottomLine(a.S(0)); break;
    case 0x3e: hr = object.GetCheckResultXML(&text); break;
    case 0x3f: hr = object.SetTaxesCalcMode(a.L(0)); break;
    case 0x40: hr = object.SetShowErrorMessages(a.L(0)); break;
    case 0x41: hr = object.GetLastErrorMessage(&text); break;
    case 0x42: hr = object.ZReportAsync(); break;
    case 0x43: hr = object.XReportAsync(); break;
    default: hr = DISP_E_UNKNOWNNAME; return result;
  }
  // clang-format on
  if (const ParamInfo* out = known->OutParam()) {
    if (out->type == VarType::kLong && number != kUnsetLong) {
      result.outs.emplace(out->name, number);
    } else if (out->type == VarType::kBstr && text != UnsetText()) {
      result.outs.emplace(out->name, std::move(text));
    }
  }
  return result;
}

}  // namespace vekta
