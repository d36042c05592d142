#include "service/member_table.h"

#include "service/orbis_binding.h"

namespace vekta {

std::size_t MemberInfo::InCount() const {
  std::size_t count = 0;
  for (const ParamInfo& param : params) {
    if (param.dir == ParamDir::kIn) ++count;
  }
  return count;
}

const ParamInfo* MemberInfo::OutParam() const {
  for (const ParamInfo& param : params) {
    if (param.dir == ParamDir::kOutRetval) return &param;
  }
  return nullptr;
}

const MemberInfo* InterfaceInfo::FindByName(std::string_view memberName) const {
  for (const MemberInfo& member : members) {
    if (member.name == memberName) return &member;
  }
  return nullptr;
}

const MemberInfo* InterfaceInfo::FindByDispid(int dispid) const {
  for (const MemberInfo& member : members) {
    if (member.dispid == dispid) return &member;
  }
  return nullptr;
}

const MemberInfo* InterfaceInfo::FindByInvoker(OrbisInvoker invoke) const {
  for (const MemberInfo& member : members) {
    if (member.invoke == invoke) return &member;
  }
  return nullptr;
}

namespace {

// Help texts are the type library's own, misspellings included: clients display them as they are.
InterfaceInfo MakeOrbisInterface() {
  InterfaceInfo info;
  info.name = "IOrbis";
  info.help = "IOrbis Interface";
  // clang-format off
  info.members = {
      {0x1, "Init", MemberKind::kMethod, {{"PortNumber", VarType::kLong, ParamDir::kIn}, {"CashierName", VarType::kBstr, ParamDir::kIn}, {"CashierPassword", VarType::kBstr, ParamDir::kIn}, {"ShowStatusDialogs", VarType::kLong, ParamDir::kIn}, {"CallerApplicationName", VarType::kBstr, ParamDir::kIn}}, VarType::kVoid, "method Init initializes connection to the printer", Bind<&IOrbis::Init>},
      {0x2, "GetPortNumber", MemberKind::kMethod, {{"pPortNumber", VarType::kLong, ParamDir::kOutRetval}}, VarType::kVoid, "method GetPortInit returns number of COM port wo which this interface connected", Bind<&IOrbis::GetPortNumber>},
      {0x3, "Done", MemberKind::kMethod, {}, VarType::kVoid, "method Done used to deinitialize printed and release commpunication port and related resources", Bind<&IOrbis::Done>},
      {0x4, "LockPrinter", MemberKind::kMethod, {{"TimeoutInMilliseconds", VarType::kLong, ParamDir::kIn}}, VarType::kVoid, "method LockPrinter should be called to lock printer for exclusive use by the calling application in multitasking environment", Bind<&IOrbis::LockPrinter>},
      {0x5, "UnlockPrinter", MemberKind::kMethod, {}, VarType::kVoid, "method UnlockPrinter should be used after LockPrinter call when all current actions with the printer completed to let other applications to access the printer", Bind<&IOrbis::UnlockPrinter>},
      {0x6, "LowSendMessageToPrinter", MemberKind::kMethod, {{"TextMessage", VarType::kBstr, ParamDir::kIn}}, VarType::kVoid, "method LowSendMessageToPrinter used to send low-level messages to printer", Bind<&IOrbis::LowSendMessageToPrinter>},
      {0x7, "LowGetNextPendingPrinterMessage", MemberKind::kMethod, {{"TimeoutMilliseconds", VarType::kLong, ParamDir::kIn}, {"TextMessage", VarType::kBstr, ParamDir::kOutRetval}}, VarType::kVoid, "method LowGetNextPendingPrinterMessage. Retrieve next protocol message stored in the income printer queue", Bind<&IOrbis::LowGetNextPendingPrinterMessage>},
      {0x8, "SetShowPrinterStatus", MemberKind::kMethod, {{"ShowStatusDialogs", VarType::kLong, ParamDir::kIn}}, VarType::kVoid, "method SetShowPrinterStatus. Use this function to show printer status dialogs", Bind<&IOrbis::SetShowPrinterStatus>},
      {0x9, "GetPrinterSerialNumber", MemberKind::kMethod, {{"SerialNumber", VarType::kBstr, ParamDir::kOutRetval}}, VarType::kVoid, "method GetPrinterSerialNumber. Use this function to retreive connected printer serial number", Bind<&IOrbis::GetPrinterSerialNumber>},
      {0xa, "GetPrinterConfigXML", MemberKind::kMethod, {{"RefreshFromPrinter", VarType::kLong, ParamDir::kIn}, {"VektaPrinterConfigXML", VarType::kBstr, ParamDir::kOutRetval}}, VarType::kVoid, "method GetPrinterConfigXML. Retrieve printer configuration in XML format", Bind<&IOrbis::GetPrinterConfigXML>},
      {0xb, "SetCheckMessagesMode", MemberKind::kMethod, {{"CheckMessagesMode", VarType::kLong, ParamDir::kIn}}, VarType::kVoid, "method SetCheckMessagesMode. Set check mode: 1-sales, 2-bus tickets, 3-lombards, 3-bet businness", Bind<&IOrbis::SetCheckMessagesMode>},
      {0xc, "OpenCheck", MemberKind::kMethod, {{"DepartmentName", VarType::kBstr, ParamDir::kIn}}, VarType::kVoid, "method OpenCheck. Opens the sales check transaction", Bind<&IOrbis::OpenCheck>},
      {0xd, "SetReturnCheckNumber", MemberKind::kMethod, {{"ReturnCheckNumber", VarType::kLong, ParamDir::kIn}}, VarType::kVoid, "method SetReturnCheckNumber. Sets the number of check for check-retrun operation", Bind<&IOrbis::SetReturnCheckNumber>},
      {0xe, "OpenReturnCheck", MemberKind::kMethod, {{"DepartmentName", VarType::kBstr, ParamDir::kIn}}, VarType::kVoid, "method OpenReturnCheck. Opens goods retrun-operation check", Bind<&IOrbis::OpenReturnCheck>},
      {0xf, "LongName", MemberKind::kMethod, {{"LongName", VarType::kBstr, ParamDir::kIn}}, VarType::kVoid, "method LongName. Sets the long name for the next check line printed by following FiscalLIne command", Bind<&IOrbis::LongName>},
      {0x10, "SetCurrentCheckDirection", MemberKind::kMethod, {{"CheckDirection", VarType::kLong, ParamDir::kIn}}, VarType::kVoid, "method SetCurrentCheckDirection. Opens goods-return part of the sales check", Bind<&IOrbis::SetCurrentCheckDirection>},
      {0x11, "FiscalLine", MemberKind::kMethod, {{"GoodsName", VarType::kBstr, ParamDir::kIn}, {"Qty", VarType::kLong, ParamDir::kIn}, {"Price", VarType::kLong, ParamDir::kIn}, {"GoodsDividual", VarType::kLong, ParamDir::kIn}, {"Tax1Index", VarType::kLong, ParamDir::kIn}, {"Tax2Index", VarType::kLong, ParamDir::kIn}, {"Article", VarType::kLong, ParamDir::kIn}, {"ThisLineSum", VarType::kLong, ParamDir::kOutRetval}}, VarType::kVoid, "method FiscalLine. Prints a check fiscal line.", Bind<&IOrbis::FiscalLine>},
      {0x12, "FiscalLineEx", MemberKind::kMethod, {{"GoodsName", VarType::kBstr, ParamDir::kIn}, {"Qty", VarType::kLong, ParamDir::kIn}, {"Price", VarType::kLong, ParamDir::kIn}, {"GoodsDividual", VarType::kLong, ParamDir::kIn}, {"Tax1Index", VarType::kLong, ParamDir::kIn}, {"Tax2Index", VarType::kLong, ParamDir::kIn}, {"Article", VarType::kLong, ParamDir::kIn}, {"DiscountDirection", VarType::kLong, ParamDir::kIn}, {"DiscountName", VarType::kBstr, ParamDir::kIn}, {"DiscountValue", VarType::kLong, ParamDir::kIn}, {"ThisLineSum", VarType::kLong, ParamDir::kOutRetval}}, VarType::kVoid, "method FiscalLineEx. Prints a next check fiscal line with extended parameters", Bind<&IOrbis::FiscalLineEx>},
      {0x13, "FreeTextLine", MemberKind::kMethod, {{"PlaceBeforeFiscalPart", VarType::kLong, ParamDir::kIn}, {"PrintOnJornal", VarType::kLong, ParamDir::kIn}, {"UseBoldStyle", VarType::kLong, ParamDir::kIn}, {"TextMessage", VarType::kBstr, ParamDir::kIn}}, VarType::kVoid, "method FreeTextLine. Forces printer to include non-fiscal part into the check", Bind<&IOrbis::FreeTextLine>},
      {0x14, "GetCheckSum", MemberKind::kMethod, {{"CheckSum", VarType::kLong, ParamDir::kOutRetval}}, VarType::kVoid, "method GetCheckSum. Returns current check sum (collected for all previous fiscal lines)", Bind<&IOrbis::GetCheckSum>},
      {0x15, "GetCheckOnSaleTaxes", MemberKind::kMethod, {{"CheckOnSaleTaxes", VarType::kLong, ParamDir::kOutRetval}}, VarType::kVoid, "method GetCheckOnSaleTaxes. Returns check on-sale taxes sum collected by previous fiscal lines", Bind<&IOrbis::GetCheckOnSaleTaxes>},
      {0x16, "GetCheckReturnSum", MemberKind::kMethod, {{"CheckReturnSum", VarType::kLong, ParamDir::kOutRetval}}, VarType::kVoid, "method GetCheckReturnSum. Returns sum collected by previous goods-retrun fiscal operatins in the current check", Bind<&IOrbis::GetCheckReturnSum>},
      {0x17, "GetCheckReturnOnSaleTaxes", MemberKind::kMethod, {{"CheckReturnOnSaleTaxes", VarType::kLong, ParamDir::kOutRetval}}, VarType::kVoid, "method GetCheckReturnOnSaleTaxes. Returns check on-sale taxes sum collected by previous goods-retrun fiscal operations in  the current opened check", Bind<&IOrbis::GetCheckReturnOnSaleTaxes>},
      {0x18, "ClearFreeTextLines", MemberKind::kMethod, {}, VarType::kVoid, "method ClearFreeTextLines. Clears previously programmed text lines sent by FreetextLine method", Bind<&IOrbis::ClearFreeTextLines>},
      {0x19, "CloseCheck", MemberKind::kMethod, {{"CheckSum", VarType::kLong, ParamDir::kOutRetval}}, VarType::kVoid, "method CloseCheck. Closes the currently opened check", Bind<&IOrbis::CloseCheck>},
      {0x1a, "CloseCheckEx", MemberKind::kMethod, {{"Cash", VarType::kLong, ParamDir::kIn}, {"PayCheck", VarType::kLong, ParamDir::kIn}, {"Credit", VarType::kLong, ParamDir::kIn}, {"Packing", VarType::kLong, ParamDir::kIn}, {"CheckSum", VarType::kLong, ParamDir::kOutRetval}}, VarType::kVoid, "method CloseCheckEx. Closes currently opened check and divides payment by passed parameters", Bind<&IOrbis::CloseCheckEx>},
      {0x1b, "AbortCheck", MemberKind::kMethod, {}, VarType::kVoid, "method AbortCheck. Aborts currently opened check", Bind<&IOrbis::AbortCheck>},
      {0x1c, "GetCheckResult", MemberKind::kMethod, {{"CheckResult", VarType::kBstr, ParamDir::kOutRetval}}, VarType::kVoid, "method GetCheckResult. Returs text line returned by the printer after last check was closed", Bind<&IOrbis::GetCheckResult>},
      {0x1d, "CheckCopy", MemberKind::kMethod, {}, VarType::kVoid, "method CheckCopy. Prints the copy of last printed check", Bind<&IOrbis::CheckCopy>},
      {0x1e, "SetOnSaleTaxesPrintMode", MemberKind::kMethod, {{"TaxesPrintMode", VarType::kLong, ParamDir::kIn}}, VarType::kVoid, "method SetOnSaleTaxesPrintMode. TaxesPrintMode = 1 means that on-sale taxes will be printed after each fiscal line, TaxesPrintMode = 0 - taxes will be printer on the end of check", Bind<&IOrbis::SetOnSaleTaxesPrintMode>},
      {0x1f, "MoveCash", MemberKind::kMethod, {{"MoveDirection", VarType::kLong, ParamDir::kIn}, {"CashSum", VarType::kLong, ParamDir::kIn}}, VarType::kVoid, "method MoveCash. Moves the cash to or from kass", Bind<&IOrbis::MoveCash>},
      {0x20, "GetPrinterConfig", MemberKind::kMethod, {{"Config", VarType::kBstr, ParamDir::kOutRetval}}, VarType::kVoid, "method GetPrinterConfig. Returns the CONf resulting string from the printer", Bind<&IOrbis::GetPrinterConfig>},
      {0x21, "GetPrinterKeyPosition", MemberKind::kMethod, {{"KeyPosition", VarType::kLong, ParamDir::kOutRetval}}, VarType::kVoid, "method GetPrinterKeyPosition. Returns current pricter mech key position", Bind<&IOrbis::GetPrinterKeyPosition>},
      {0x22, "GetArticleInfo", MemberKind::kMethod, {{"Article", VarType::kLong, ParamDir::kIn}, {"ArticleInfo", VarType::kBstr, ParamDir::kOutRetval}}, VarType::kVoid, "method GetArticleInfo. Returns article information in ARTD command format", Bind<&IOrbis::GetArticleInfo>},
      {0x23, "GetArticleInfoXML", MemberKind::kMethod, {{"Article", VarType::kLong, ParamDir::kIn}, {"ArticleInfo", VarType::kBstr, ParamDir::kOutRetval}}, VarType::kVoid, "method GetArticleInfoXML. Information about article in XML format", Bind<&IOrbis::GetArticleInfoXML>},
      {0x24, "GetPrinterTime", MemberKind::kMethod, {{"PrinterTime", VarType::kBstr, ParamDir::kOutRetval}}, VarType::kVoid, "method GetPrinterTime. Returns current state of printer internal clock", Bind<&IOrbis::GetPrinterTime>},
      {0x25, "GetCashInfo", MemberKind::kMethod, {{"CashInfo", VarType::kBstr, ParamDir::kOutRetval}}, VarType::kVoid, "method GetCashInfo. Returns printer internal cash registers state", Bind<&IOrbis::GetCashInfo>},
      {0x26, "GetCashInfoXML", MemberKind::kMethod, {{"CashInfo", VarType::kBstr, ParamDir::kOutRetval}}, VarType::kVoid, "method GetCashInfoXML. Returns Printer internal cash registers state", Bind<&IOrbis::GetCashInfoXML>},
      {0x27, "GetFiscalInfo", MemberKind::kMethod, {{"FiscalInfo", VarType::kBstr, ParamDir::kOutRetval}}, VarType::kVoid, "method GetFiscalInfo. Returns printer internal fiscal registers state", Bind<&IOrbis::GetFiscalInfo>},
      {0x28, "GetFiscalInfoXML", MemberKind::kMethod, {{"FiscalInfo", VarType::kBstr, ParamDir::kOutRetval}}, VarType::kVoid, "method GetFiscalInfoXML. Returns printer internal fiscal registers state", Bind<&IOrbis::GetFiscalInfoXML>},
      {0x29, "GetTaxesInfo", MemberKind::kMethod, {{"TaxesInfo", VarType::kBstr, ParamDir::kOutRetval}}, VarType::kVoid, "method GetTaxesInfo. Retuns printer taxes info", Bind<&IOrbis::GetTaxesInfo>},
      {0x2a, "GetTaxesInfoXML", MemberKind::kMethod, {{"TaxesInfo", VarType::kBstr, ParamDir::kOutRetval}}, VarType::kVoid, "method GetTaxesInfoXML. Returns taxes info in XML format", Bind<&IOrbis::GetTaxesInfoXML>},
      {0x2b, "OpenTextDocument", MemberKind::kMethod, {}, VarType::kVoid, "method OpenTextDocument. Opens free text document", Bind<&IOrbis::OpenTextDocument>},
      {0x2c, "CloseTextDocument", MemberKind::kMethod, {{"PrintOnJornal", VarType::kLong, ParamDir::kIn}}, VarType::kVoid, "method CloseTextDocument. Closes and prints free text document", Bind<&IOrbis::CloseTextDocument>},
      {0x2d, "NullCheck", MemberKind::kMethod, {}, VarType::kVoid, "method NullCheck. Prints text null check", Bind<&IOrbis::NullCheck>},
      {0x2e, "XReport", MemberKind::kMethod, {}, VarType::kVoid, "method XReport. Prints XReport on the printer", Bind<&IOrbis::XReport>},
      {0x2f, "ZReport", MemberKind::kMethod, {}, VarType::kVoid, "method ZReport. Prints ZReport on the printer", Bind<&IOrbis::ZReport>},
      {0x30, "ArticleReport", MemberKind::kMethod, {}, VarType::kVoid, "method ArticleReport. Printer articles (goods sales) report on the printer", Bind<&IOrbis::ArticleReport>},
      {0x31, "DiscountReport", MemberKind::kMethod, {}, VarType::kVoid, "method DiscountReport. Prints discount report on te printer", Bind<&IOrbis::DiscountReport>},
      {0x32, "PeriodicalFiscalReport", MemberKind::kMethod, {{"FirstZReport", VarType::kLong, ParamDir::kIn}, {"LastZReport", VarType::kLong, ParamDir::kIn}}, VarType::kVoid, "method PeriodicalFiscalReport. Prints periodical fiscal report from one to another report number", Bind<&IOrbis::PeriodicalFiscalReport>},
      {0x33, "PeriodicalFiscalReportDate", MemberKind::kMethod, {{"DateFrom", VarType::kDate, ParamDir::kIn}, {"DateTo", VarType::kDate, ParamDir::kIn}}, VarType::kVoid, "method PeriodicalFiscalReportDate. Prints periodical fiscal report from one date to another", Bind<&IOrbis::PeriodicalFiscalReportDate>},
      {0x34, "Feed", MemberKind::kMethod, {{"LinesToFeed", VarType::kLong, ParamDir::kIn}}, VarType::kVoid, "method Feed. Makes paper feed on the printer", Bind<&IOrbis::Feed>},
      {0x35, "SetPrintingDoubleWidth", MemberKind::kMethod, {{"On", VarType::kLong, ParamDir::kIn}}, VarType::kVoid, "method SetPrintingDoubleWidth. Turns on/off double width printing", Bind<&IOrbis::SetPrintingDoubleWidth>},
      {0x36, "SetTableMode", MemberKind::kMethod, {{"On", VarType::kLong, ParamDir::kIn}}, VarType::kVoid, "method SetTableMode. Sets on/off check table mode", Bind<&IOrbis::SetTableMode>},
      {0x37, "PutToDisplay", MemberKind::kMethod, {{"Line1", VarType::kBstr, ParamDir::kIn}, {"Line2", VarType::kBstr, ParamDir::kIn}}, VarType::kVoid, "method PutToDisplay. Puts message to printer indicator", Bind<&IOrbis::PutToDisplay>},
      {0x38, "OpenCashBox", MemberKind::kMethod, {}, VarType::kVoid, "method OpenCashBox. Opens cash box", Bind<&IOrbis::OpenCashBox>},
      {0x39, "CutAndBeep", MemberKind::kMethod, {{"CutterOn", VarType::kLong, ParamDir::kIn}, {"BeepOn", VarType::kLong, ParamDir::kIn}}, VarType::kVoid, "method CutAndBeep. Sets cutter and beeper on the printer", Bind<&IOrbis::CutAndBeep>},
      {0x3a, "SetInternalTime", MemberKind::kMethod, {{"Hours", VarType::kLong, ParamDir::kIn}, {"Minutes", VarType::kLong, ParamDir::kIn}, {"Seconds", VarType::kLong, ParamDir::kIn}}, VarType::kVoid, "method SetInternalTime. Sets internal printer clock", Bind<&IOrbis::SetInternalTime>},
      {0x3b, "SetDeptAlias", MemberKind::kMethod, {{"DeptAlias", VarType::kBstr, ParamDir::kIn}}, VarType::kVoid, "method SetDeptAlias. Set department name alias", Bind<&IOrbis::SetDeptAlias>},
      {0x3c, "SetCheckHeadLine", MemberKind::kMethod, {{"CheckText", VarType::kBstr, ParamDir::kIn}}, VarType::kVoid, "method SetCheckHeadLine. Sets check heading line.", Bind<&IOrbis::SetCheckHeadLine>},
      {0x3d, "SetCheckBottomLine", MemberKind::kMethod, {{"CheckLine", VarType::kBstr, ParamDir::kIn}}, VarType::kVoid, "method SetCheckBottomLine. Sets check bottom line", Bind<&IOrbis::SetCheckBottomLine>},
      {0x3e, "GetCheckResultXML", MemberKind::kMethod, {{"CheckResult", VarType::kBstr, ParamDir::kOutRetval}}, VarType::kVoid, "method GetCheckResultXML. Returns check result in XML format", Bind<&IOrbis::GetCheckResultXML>},
      {0x3f, "SetTaxesCalcMode", MemberKind::kMethod, {{"SaleTaxesOnTotal", VarType::kLong, ParamDir::kIn}}, VarType::kVoid, "method SetTaxesCalcMode. Sets on-sale taxes calculation mode (PPMD command)", Bind<&IOrbis::SetTaxesCalcMode>},
      {0x40, "SetShowErrorMessages", MemberKind::kMethod, {{"ShowErrorMessages", VarType::kLong, ParamDir::kIn}}, VarType::kVoid, "method SetShowErrorMessages. Turn on/off error message dialogs", Bind<&IOrbis::SetShowErrorMessages>},
      {0x41, "GetLastErrorMessage", MemberKind::kMethod, {{"ErrorMessage", VarType::kBstr, ParamDir::kOutRetval}}, VarType::kVoid, "method GetLastErrorMessage. Returns last error message shown to user.", Bind<&IOrbis::GetLastErrorMessage>},
      {0x42, "ZReportAsync", MemberKind::kMethod, {}, VarType::kVoid, "method ZReportAsync. Prints ZReport on the printer. Does not wait for completion", Bind<&IOrbis::ZReportAsync>},
      {0x43, "XReportAsync", MemberKind::kMethod, {}, VarType::kVoid, "method XReportAsync. Prints XReport on the printer. Does not wait for completion", Bind<&IOrbis::XReportAsync>},
  };
  // clang-format on
  // What these members do never waits behind the port's printer commands.
  for (MemberInfo& member : info.members) {
    for (const char* name :
         {"GetPortNumber", "LockPrinter", "UnlockPrinter", "LowGetNextPendingPrinterMessage",
          "SetShowPrinterStatus", "GetPrinterSerialNumber", "GetCheckSum", "GetCheckOnSaleTaxes",
          "GetCheckReturnSum", "GetCheckReturnOnSaleTaxes", "GetCheckResult", "GetTaxesInfoXML",
          "GetCheckResultXML", "SetShowErrorMessages", "GetLastErrorMessage"}) {
      if (member.name == name) member.runsOnPort = false;
    }
  }
  return info;
}

// For IVektaManager, the last two numbers are the IOrbis dispid the member (or the property's
// getter) forwards to and the one the property's setter forwards to. Several differ from the
// member's own dispid: the XML and raw query pairs are swapped, and the later members moved.
InterfaceInfo MakeVektaManagerInterface() {
  InterfaceInfo info;
  info.name = "IVektaManager";
  info.help = "IVektaManager Interface";
  // clang-format off
  info.members = {
      {0x1, "Init", MemberKind::kMethod, {{"PortNumber", VarType::kLong, ParamDir::kIn}, {"CashierName", VarType::kBstr, ParamDir::kIn}, {"CashierPassword", VarType::kBstr, ParamDir::kIn}, {"ShowStatusDialogs", VarType::kLong, ParamDir::kIn}, {"CallerApplicationName", VarType::kBstr, ParamDir::kIn}}, VarType::kLong, "method Init. Initializes server and connects to printer", nullptr, 0x1, 0x0, Wrapping::kInit},
      {0x2, "GetPortNumber", MemberKind::kMethod, {}, VarType::kLong, "method GetPortNumber. Returns COMunication port number to which this interface connected", nullptr, 0x2, 0x0},
      {0x3, "Done", MemberKind::kMethod, {}, VarType::kLong, "method Done. Deinitializes printer", nullptr, 0x0, 0x0, Wrapping::kDone},
      {0x4, "LockPrinter", MemberKind::kMethod, {{"TimeoutInMilliseconds", VarType::kLong, ParamDir::kIn}}, VarType::kLong, "method LockPrinter. Exclusively locks the printer", nullptr, 0x4, 0x0},
      {0x5, "UnlockPrinter", MemberKind::kMethod, {}, VarType::kLong, "method UnlockPrinter. Removes exclusive lock from printer", nullptr, 0x5, 0x0},
      {0x6, "LowSendMessageToPrinter", MemberKind::kMethod, {{"TextMessage", VarType::kBstr, ParamDir::kIn}}, VarType::kLong, "method LowSendMessageToPrinter. Send low-level protocol message to printer", nullptr, 0x6, 0x0},
      {0x7, "LowGetNextPendingPrinterMessage", MemberKind::kMethod, {{"TimeoutInMilliseconds", VarType::kLong, ParamDir::kIn}}, VarType::kBstr, "method LowGetNextPendingPrinterMessage", nullptr, 0x7, 0x0, Wrapping::kFixedWait},
      {0x8, "SetShowPrinterStatus", MemberKind::kMethod, {{"ShowStatus", VarType::kLong, ParamDir::kIn}}, VarType::kLong, "method SetShowPrinterStatus. Shows/hides printer status windows", nullptr, 0x8, 0x0},
      {0x9, "GetPrinterSerialNumber", MemberKind::kMethod, {}, VarType::kBstr, "method GetPrinterSerialNumber. Returns serial number of the connected printer", nullptr, 0x9, 0x0},
      {0xa, "GetPrinterConfigXML", MemberKind::kMethod, {{"RefreshFromPrinter", VarType::kLong, ParamDir::kIn}}, VarType::kBstr, "method GetPrinterConfigXML. Reurns printer confuguration in XML format", nullptr, 0xa, 0x0},
      {0xb, "SetCheckMessagesMode", MemberKind::kMethod, {{"Mode", VarType::kLong, ParamDir::kIn}}, VarType::kLong, "method SetCheckMessagesMode. Sets check messages mode", nullptr, 0xb, 0x0},
      {0xc, "OpenCheck", MemberKind::kMethod, {{"Department", VarType::kBstr, ParamDir::kIn}}, VarType::kLong, "method OpenCheck. Opens check transaction", nullptr, 0xc, 0x0},
      {0xd, "SetReturnCheckNumber", MemberKind::kMethod, {{"CheckNumber", VarType::kLong, ParamDir::kIn}}, VarType::kLong, "method SetReturnCheckNumber. Sets the number of the check for goods return operation", nullptr, 0xd, 0x0},
      {0xe, "OpenReturnCheck", MemberKind::kMethod, {{"DepartmentName", VarType::kBstr, ParamDir::kIn}}, VarType::kLong, "method OpenReturnCheck. Opens goods-return check transaction", nullptr, 0xe, 0x0},
      {0xf, "LongName", MemberKind::kMethod, {{"Name", VarType::kBstr, ParamDir::kIn}}, VarType::kLong, "method LongName. Sets the goods long name to be printed", nullptr, 0xf, 0x0},
      {0x10, "SetCurrentCheckDirection", MemberKind::kMethod, {{"Direction", VarType::kLong, ParamDir::kIn}}, VarType::kLong, "method SetCurrentCheckDirection. Changes sales check to goods-return check mode", nullptr, 0x10, 0x0},
      {0x11, "FiscalLine", MemberKind::kMethod, {{"GoodName", VarType::kBstr, ParamDir::kIn}, {"Qty", VarType::kLong, ParamDir::kIn}, {"Price", VarType::kLong, ParamDir::kIn}, {"GoodsDividual", VarType::kLong, ParamDir::kIn}, {"Tax1Index", VarType::kLong, ParamDir::kIn}, {"Tax2Index", VarType::kLong, ParamDir::kIn}, {"Article", VarType::kLong, ParamDir::kIn}}, VarType::kLong, "method FiscalLine. Prints next fiscal lline on the printer", nullptr, 0x11, 0x0},
      {0x12, "FiscalLineEx", MemberKind::kMethod, {{"GoodsName", VarType::kBstr, ParamDir::kIn}, {"Qty", VarType::kLong, ParamDir::kIn}, {"Price", VarType::kLong, ParamDir::kIn}, {"GoodsDividual", VarType::kLong, ParamDir::kIn}, {"Tax1Index", VarType::kLong, ParamDir::kIn}, {"Tax2Index", VarType::kLong, ParamDir::kIn}, {"Article", VarType::kLong, ParamDir::kIn}, {"DiscountDirection", VarType::kLong, ParamDir::kIn}, {"DiscountName", VarType::kBstr, ParamDir::kIn}, {"Discount", VarType::kLong, ParamDir::kIn}}, VarType::kLong, "method FiscalLineEx. Prints next check fiscal line", nullptr, 0x12, 0x0},
      {0x13, "FreeTextLine", MemberKind::kMethod, {{"PlaceBeforeFiscalPart", VarType::kLong, ParamDir::kIn}, {"PrintOnJornal", VarType::kLong, ParamDir::kIn}, {"DoubleStrike", VarType::kLong, ParamDir::kIn}, {"TextMessage", VarType::kBstr, ParamDir::kIn}}, VarType::kLong, "method FreeTextLine. Sets free text line to be printed on check of in non-fiscal document", nullptr, 0x13, 0x0},
      {0x14, "CheckSumm", MemberKind::kProperty, {}, VarType::kLong, "property CheckSumm", nullptr, 0x14, 0x0},
      {0x15, "CheckOnSaleTaxes", MemberKind::kProperty, {}, VarType::kLong, "property CheckOnSaleTaxes", nullptr, 0x15, 0x0},
      {0x16, "CheckReturnSumm", MemberKind::kProperty, {}, VarType::kLong, "property CheckReturnSumm", nullptr, 0x16, 0x0},
      {0x17, "CheckReturnOnSaleTaxes", MemberKind::kProperty, {}, VarType::kLong, "property CheckReturnOnSaleTaxes", nullptr, 0x17, 0x0},
      {0x18, "ClearFreeTextLines", MemberKind::kMethod, {}, VarType::kLong, "method ClearFreeTextLines. Clears free text lines buffer set before", nullptr, 0x18, 0x0},
      {0x19, "CloseCheck", MemberKind::kMethod, {}, VarType::kLong, "method CloseCheck. Closes check transaction", nullptr, 0x19, 0x0},
      {0x1a, "CloseCheckEx", MemberKind::kMethod, {{"Cash", VarType::kLong, ParamDir::kIn}, {"PayCheck", VarType::kLong, ParamDir::kIn}, {"Credit", VarType::kLong, ParamDir::kIn}, {"Packing", VarType::kLong, ParamDir::kIn}}, VarType::kLong, "method CloseCheckEx. Closes check transaction", nullptr, 0x1a, 0x0},
      {0x1b, "AbortCheck", MemberKind::kMethod, {}, VarType::kLong, "method AbortCheck. Aborts opened check transaction", nullptr, 0x1b, 0x0},
      {0x1c, "GetCheckResult", MemberKind::kMethod, {}, VarType::kBstr, "method GetCheckResult. Returns check sum", nullptr, 0x1c, 0x0},
      {0x1d, "CheckCopy", MemberKind::kMethod, {}, VarType::kLong, "method CheckCopy. Printe a copy of preceeding check", nullptr, 0x1d, 0x0},
      {0x1e, "SetOnSaleTaxes", MemberKind::kMethod, {{"On", VarType::kLong, ParamDir::kIn}}, VarType::kLong, "method SetOnSaleTaxes. Changes on-sale taxes printing mode", nullptr, 0x1e, 0x0},
      {0x1f, "MoveCash", MemberKind::kMethod, {{"MoveDirection", VarType::kLong, ParamDir::kIn}, {"CashSum", VarType::kLong, ParamDir::kIn}}, VarType::kLong, "method MoveCash. Adds/removes cash from kass", nullptr, 0x1f, 0x0},
      {0x20, "GetPrinterConfig", MemberKind::kMethod, {}, VarType::kBstr, "method GetPrinterConfig. Returns current printer configuration", nullptr, 0x20, 0x0},
      {0x21, "GetPrinterKeyPosition", MemberKind::kMethod, {}, VarType::kLong, "method GetPrinterKeyPosition. Returns current mech key position", nullptr, 0x21, 0x0, Wrapping::kForward, -1},
      {0x22, "GetArticleInfoXML", MemberKind::kMethod, {{"Article", VarType::kLong, ParamDir::kIn}}, VarType::kBstr, "method GetArticleInfoXML. Article stored information in XML format", nullptr, 0x23, 0x0},
      {0x23, "GetArticleInfo", MemberKind::kMethod, {{"Article", VarType::kLong, ParamDir::kIn}}, VarType::kBstr, "method GetArticleInfo. Article stored infor in ARTD command format", nullptr, 0x22, 0x0},
      {0x24, "GetPrinterTime", MemberKind::kMethod, {}, VarType::kBstr, "method GetPrinterTime. Returns printer internal clock state", nullptr, 0x24, 0x0},
      {0x25, "GetCashInfoXML", MemberKind::kMethod, {}, VarType::kBstr, "method GetCashInfoXML. Returns cash registers state in XML format", nullptr, 0x26, 0x0},
      {0x26, "GetCashInfo", MemberKind::kMethod, {}, VarType::kBstr, "method GetCashInfo. Returns cash registers state", nullptr, 0x25, 0x0},
      {0x27, "GetFiscalInfoXML", MemberKind::kMethod, {}, VarType::kBstr, "method GetFiscalInfoXML. Returns fiscal registers state in XML format", nullptr, 0x28, 0x0},
      {0x28, "GetFiscalInfo", MemberKind::kMethod, {}, VarType::kBstr, "method GetFiscalInfo. Returns fiscal registers state", nullptr, 0x27, 0x0},
      {0x29, "GetTaxesInfoXML", MemberKind::kMethod, {}, VarType::kBstr, "method GetTaxesInfoXML. Returns programmed taxes information in XML format", nullptr, 0x2a, 0x0},
      {0x2a, "GetTaxesInfo", MemberKind::kMethod, {}, VarType::kBstr, "method GetTaxesInfo. Rerurns programmed taxes information", nullptr, 0x29, 0x0},
      {0x2b, "OpenTextDocument", MemberKind::kMethod, {}, VarType::kLong, "method OpenTextDocument. Opens non-fiscal document transaction", nullptr, 0x2b, 0x0},
      {0x2c, "CloseTextDocument", MemberKind::kMethod, {{"PrintOnJornal", VarType::kLong, ParamDir::kIn}}, VarType::kLong, "method CloseTextDocument. Closes and prints non-fiscal document", nullptr, 0x2c, 0x0},
      {0x2d, "NullCheck", MemberKind::kMethod, {}, VarType::kLong, "method NullCheck. Prints test check on the printer", nullptr, 0x2d, 0x0},
      {0x2e, "XReport", MemberKind::kMethod, {}, VarType::kLong, "method XReport. Prints X-Report on the printer", nullptr, 0x2e, 0x0},
      {0x2f, "ZReport", MemberKind::kMethod, {}, VarType::kLong, "method ZReport. Prints Z-Report on the printer", nullptr, 0x2f, 0x0},
      {0x30, "ArticleReport", MemberKind::kMethod, {}, VarType::kLong, "method ArticleReport. Prints articles reports on the printer", nullptr, 0x30, 0x0},
      {0x31, "DiscountReport", MemberKind::kMethod, {}, VarType::kLong, "method DiscountReport. Prints discounts report onthe printer", nullptr, 0x31, 0x0},
      {0x32, "PeriodicalFiscalReport", MemberKind::kMethod, {{"FirstZReport", VarType::kLong, ParamDir::kIn}, {"LastZReport", VarType::kLong, ParamDir::kIn}}, VarType::kLong, "method PeriodicalFiscalReport. Prints periodical fiscal report", nullptr, 0x32, 0x0},
      {0x33, "PeriodicalFiscalReportDate", MemberKind::kMethod, {{"DateFrom", VarType::kDate, ParamDir::kIn}, {"DateTo", VarType::kDate, ParamDir::kIn}}, VarType::kLong, "method PeriodicalFiscalReportDate. Prints periodical fiscal report", nullptr, 0x33, 0x0},
      {0x34, "Feed", MemberKind::kMethod, {{"LinesToFeed", VarType::kLong, ParamDir::kIn}}, VarType::kLong, "method Feed. Feeds the paper", nullptr, 0x34, 0x0},
      {0x35, "SetPrintingDoubleWidth", MemberKind::kMethod, {{"DoubleWidth", VarType::kLong, ParamDir::kIn}}, VarType::kLong, "method SetPrintingDoubleWidth. Sets double width for printing", nullptr, 0x35, 0x0},
      {0x36, "SetTableMode", MemberKind::kMethod, {{"TableMode", VarType::kLong, ParamDir::kIn}}, VarType::kLong, "method SetTableMode. Turns check table mode on/off", nullptr, 0x36, 0x0},
      {0x37, "PutToDisplay", MemberKind::kMethod, {{"Line1", VarType::kBstr, ParamDir::kIn}, {"Line2", VarType::kBstr, ParamDir::kIn}}, VarType::kLong, "method PutToDisplay. Puts information to the printer display", nullptr, 0x37, 0x0},
      {0x38, "OpenCashBox", MemberKind::kMethod, {}, VarType::kLong, "method OpenCashBox. Opens cash box", nullptr, 0x38, 0x0},
      {0x39, "CutAndBeep", MemberKind::kMethod, {{"CutterOn", VarType::kLong, ParamDir::kIn}, {"BeepOn", VarType::kLong, ParamDir::kIn}}, VarType::kLong, "method CutAndBeep. Turns cutter and beeper on/off", nullptr, 0x39, 0x0},
      {0x3a, "SetInternalTime", MemberKind::kMethod, {{"Hours", VarType::kLong, ParamDir::kIn}, {"Minutes", VarType::kLong, ParamDir::kIn}, {"Seconds", VarType::kLong, ParamDir::kIn}}, VarType::kLong, "method SetInternalTime. Sets printer internal clock", nullptr, 0x3a, 0x0},
      {0x3b, "SetDeptAlias", MemberKind::kMethod, {{"Alias", VarType::kBstr, ParamDir::kIn}}, VarType::kLong, "method SetDeptAlias. Sets department name alias", nullptr, 0x3b, 0x0},
      {0x3c, "SetCheckHeadLine", MemberKind::kMethod, {{"CheckHeadLine", VarType::kBstr, ParamDir::kIn}}, VarType::kLong, "method SetCheckHeadLine. Sets check head line", nullptr, 0x3c, 0x0},
      {0x3d, "SetCheckBottomLine", MemberKind::kMethod, {{"CheckBottomLine", VarType::kBstr, ParamDir::kIn}}, VarType::kLong, "method SetCheckBottomLine. Sets check bottom line", nullptr, 0x3d, 0x0},
      {0x3e, "GetCheckResultXML", MemberKind::kMethod, {}, VarType::kBstr, "method GetCheckResultXML. Returns check result in XML format", nullptr, 0x3e, 0x0},
      {0x3f, "ShowStatusDialogs", MemberKind::kProperty, {}, VarType::kLong, "property ShowStatusDialogs. Turns status dialogs on/off", nullptr, 0x0, 0x8},
      {0x40, "SetTaxesCalcMode", MemberKind::kMethod, {{"SaleTaxesOnTotal", VarType::kLong, ParamDir::kIn}}, VarType::kLong, "method SetTaxesCalcMode. Sets on-sale taxes calculation mode (PPMD command)", nullptr, 0x3f, 0x0},
      {0x41, "InitEx", MemberKind::kMethod, {{"PortNumber", VarType::kLong, ParamDir::kIn}, {"CashierName", VarType::kBstr, ParamDir::kIn}, {"CashierPassword", VarType::kBstr, ParamDir::kIn}, {"ShowStatusDialogs", VarType::kLong, ParamDir::kIn}, {"CallerApplicationName", VarType::kBstr, ParamDir::kIn}, {"RemoteHostName", VarType::kBstr, ParamDir::kIn}}, VarType::kLong, "method InitEx. Initializes server and connects to printer remotely", nullptr, 0x1, 0x0, Wrapping::kInitEx},
      {0x42, "ShowErrorMessages", MemberKind::kProperty, {}, VarType::kLong, "property ShowErrorMessages. Turn ON/OFF error messages whoeing to user", nullptr, 0x0, 0x40},
      {0x43, "LastErrorMessage", MemberKind::kProperty, {}, VarType::kBstr, "property LastErrorMessage. Returns last error message shown/now shown to user", nullptr, 0x41, 0x0},
      {0x44, "XReportAsync", MemberKind::kMethod, {}, VarType::kLong, "method XReportAsync", nullptr, 0x43, 0x0},
      {0x45, "ZReportAsync", MemberKind::kMethod, {}, VarType::kLong, "method ZReportAsync", nullptr, 0x42, 0x0},
  };
  // clang-format on
  return info;
}

}  // namespace

const InterfaceInfo& OrbisInterface() {
  static const InterfaceInfo kInfo = MakeOrbisInterface();
  return kInfo;
}

const InterfaceInfo& VektaManagerInterface() {
  static const InterfaceInfo kInfo = MakeVektaManagerInterface();
  return kInfo;
}

const char* VarTypeName(VarType type) {
  switch (type) {
    case VarType::kLong:
      return "long";
    case VarType::kBstr:
      return "BSTR";
    case VarType::kDate:
      return "DATE";
    case VarType::kVoid:
      break;
  }
  return "void";
}

}  // namespace vekta
