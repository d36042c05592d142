#include "sim/printer_model.h"

#include <algorithm>
#include <ctime>
#include <stdexcept>

#include "sim/printer_state.h"
#include "sim/sim_text.h"

namespace vekta {

namespace {

// What each command needs before it runs.
enum Need : unsigned {
  kNone = 0,
  kNoLogin = 1u << 0,   // allowed before a cashier logged in
  kWhenOff = 1u << 1,   // allowed with the key at O
  kRegister = 1u << 2,  // key at R
  kXReport = 1u << 3,   // key at R or X
  kZReport = 1u << 4,   // key at R or Z
  kPrints = 1u << 5,    // needs paper
  kOpensDay = 1u << 6,  // refused after 24 hours without a Z report
  kIdle = 1u << 7,      // refused while a receipt or a text document is open
};

struct ModelIdentity {
  const char* serial;
  const char* firmware;
};

ModelIdentity IdentityOf(SimModel model) {
  switch (model) {
    case SimModel::kGen0Var0:
      return {"0410000001", "V401"};
    case SimModel::kGen0Var1:
      return {"4410000001", "V441"};
    case SimModel::kGen1Var2:
      return {"4500000001", "vTTs"};
    case SimModel::kGen1Var3:
      return {"5000000001", "UMTM"};
    case SimModel::kGen1Var4:
      return {"6000000001", "UMTM"};
  }
  return {"5000000001", "UMTM"};
}

std::string Fit(std::string text, std::size_t width, char fill = ' ') {
  text.resize(width, fill);
  return text;
}

char KeyDigit(char key) {
  switch (key) {
    case 'R':
      return '1';
    case 'X':
      return '2';
    case 'Z':
      return '4';
    case 'P':
      return '8';
    default:
      return '0';
  }
}

}  // namespace

std::string SimPadded(std::int64_t value, int width) {
  std::string digits = std::to_string(value < 0 ? -value : value);
  int pad = width - static_cast<int>(digits.size()) - (value < 0 ? 1 : 0);
  return (value < 0 ? "-" : "") + std::string(pad > 0 ? pad : 0, '0') + digits;
}

bool SimDigits(const std::string& text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

PrinterModel::Impl::Impl(SimOptions o) : options(std::move(o)) {
  tape = std::make_unique<ControlTape>(options.tapePath);
  generation = SimModelGeneration(options.model);
  variant = SimModelVariant(options.model);
  ModelIdentity identity = IdentityOf(options.model);
  serial = Fit(options.serialNumber.empty() ? identity.serial : options.serialNumber, 10);
  firmware = Fit(options.firmwareId.empty() ? identity.firmware : options.firmwareId, 4);
  fiscalNumber = "3000012345";
  owner = SimUtf8ToCp866("ТОВ \"Векта Демо\", м.Київ");
  moneyName = SimUtf8ToCp866("ГРН");
  fiscalDate = "20240101";
  key = options.keyPosition;
  // A, B, C, D and E programmed, each type present: the host's tax paths all get exercised.
  taxes[0] = {'0', 2000, "20240101"};
  taxes[1] = {'1', 2000, "20240101"};
  taxes[2] = {'0', 700, "20240101"};
  taxes[3] = {'2', 500, "20240101"};
  taxes[4] = {'1', 1000, "20240101"};
  registers.cashRest = 0;
}

std::chrono::system_clock::time_point PrinterModel::Impl::Now() const {
  return std::chrono::system_clock::now() + clockOffset;
}

std::string PrinterModel::Impl::DateText() const {
  std::time_t t = std::chrono::system_clock::to_time_t(Now());
  std::tm tm{};
  localtime_r(&t, &tm);
  char buffer[16];
  std::strftime(buffer, sizeof buffer, "%Y%m%d", &tm);
  return buffer;
}

std::string PrinterModel::Impl::TimeText() const {
  std::time_t t = std::chrono::system_clock::to_time_t(Now());
  std::tm tm{};
  localtime_r(&t, &tm);
  char buffer[16];
  std::strftime(buffer, sizeof buffer, "%H%M%S", &tm);
  return buffer;
}

int PrinterModel::Impl::HeadLimit() const {
  if (generation == 0) return 18;
  return variant == 2 ? 36 : 43;
}

int PrinterModel::Impl::LongNameLimit() const {
  if (generation == 0) return variant == 0 ? 18 : 54;
  return variant == 2 ? 72 : 86;
}

int PrinterModel::Impl::FiscalLongNameLimit() const {
  if (generation == 0) return 0;
  return variant == 2 ? 24 : 31;
}

int PrinterModel::Impl::MaxArticles() const {
  if (generation == 0) return variant == 0 ? 0 : 1999;
  return variant == 2 ? 1999 : 9999;
}

SimReply PrinterModel::Impl::Handle(const SimInput& input) {
  SimReply reply;
  if (!power || silent) return reply;
  if (input.kind == SimInput::Kind::kWakeUp) {
    reply.messages.push_back("READY");
    return reply;
  }
  if (input.kind == SimInput::Kind::kBadFrame) {
    reply.messages.push_back("SOFTBLOCK");
    return reply;
  }
  std::size_t keep = options.keepCommands;
  if (keep > 0 && commands.size() >= 2 * keep) {
    commands.erase(commands.begin(), commands.begin() + static_cast<std::ptrdiff_t>(keep));
  }
  commands.push_back(input.text);
  if (!injected.empty()) {
    auto [word, thenExecute] = injected.front();
    injected.pop_front();
    if (!thenExecute) {
      reply.messages.push_back(word);
      return reply;
    }
    SimReply executed = Execute(input.text);
    executed.messages.insert(executed.messages.begin(), word);
    return executed;
  }
  return Execute(input.text);
}

const PrinterModel::Impl::Command* PrinterModel::Impl::FindCommand(const std::string& mnemonic) {
  static constexpr Command kCommands[] = {
      {"UPAS", kNoLogin | kWhenOff, &Impl::Login},
      {"PPMD", kWhenOff, &Impl::TaxMode},
      {"CONf", kWhenOff, &Impl::Configuration},
      {"CNAL", kWhenOff, &Impl::TaxTable},
      {"GETD", kWhenOff, &Impl::ClockQuery},
      {"CCAS", kWhenOff, &Impl::CashRegisters},
      {"CFIS", kWhenOff, &Impl::FiscalRegisters},
      {"ARTD", kWhenOff, &Impl::ArticleInfo},
      {"PREP", kRegister | kPrints | kOpensDay | kIdle, &Impl::OpenReceipt},
      {"FISC", kRegister | kPrints, &Impl::FiscalLine},
      {"BFIS", kRegister | kPrints, &Impl::FiscalLine},
      {"COMP", kRegister | kPrints, &Impl::CloseReceipt},
      {"CANC", kRegister, &Impl::CancelReceipt},
      {"NULL", kRegister | kPrints | kOpensDay | kIdle, &Impl::NullReceipt},
      {"CAIO", kRegister | kPrints | kOpensDay, &Impl::CashInOut},
      {"BCHN", kRegister, &Impl::ReturnCheckNumber},
      {"FINF", kRegister, &Impl::NextLongName},
      {"COPY", kRegister | kPrints | kIdle, &Impl::Copy},
      {"ZREP", kXReport | kPrints | kIdle, &Impl::XReport},
      {"ARTZ", kXReport | kPrints | kIdle, &Impl::ArticleReport},
      {"DIZV", kXReport | kPrints | kIdle, &Impl::DiscountReport},
      {"NREP", kZReport | kPrints | kIdle, &Impl::ZReport},
      {"IREN", kZReport | kPrints | kIdle, &Impl::PeriodicReport},
      {"IREP", kZReport | kPrints | kIdle, &Impl::PeriodicReport},
      {"FIRN", kZReport | kPrints | kIdle, &Impl::PeriodicReport},
      {"FIRP", kZReport | kPrints | kIdle, &Impl::PeriodicReport},
      {"CTXT", kNone, &Impl::ClearText},
      {"TEXT", kNone, &Impl::AddText},
      {"DBEG", kNone, &Impl::BeginDocument},
      {"PRTX", kPrints, &Impl::PrintText},
      {"DEND", kNone, &Impl::EndDocument},
      {"KASS", kNone, &Impl::OpenDrawer},
      {"CUTR", kNone, &Impl::Cut},
      {"FEED", kPrints, &Impl::Feed},
      {"DSTR", kNone, &Impl::DoubleWidth},
      {"TABL", kNone, &Impl::TableMode},
      {"PPOD", kNone, &Impl::PrintTaxesMode},
      {"TMOD", kNone, &Impl::MessagesMode},
      {"HEAD", kNone, &Impl::HeadOrBottomLine},
      {"BOTM", kNone, &Impl::HeadOrBottomLine},
      {"DEPT", kNone, &Impl::DepartmentAlias},
      {"CTIM", kNone, &Impl::SetClock},
      {"DISP", kNone, &Impl::Display},
      {"DISp", kNone, &Impl::NumberDisplay},
  };
  for (const auto& command : kCommands) {
    if (mnemonic == command.mnemonic) return &command;
  }
  return nullptr;
}

const char* PrinterModel::Impl::Refusal(unsigned needs) const {
  if (!loggedIn && (needs & kNoLogin) == 0) return "SOFTPROTOC";
  if (key == 'O' && (needs & kWhenOff) == 0) return "SOFTSYSLOCK";
  if ((needs & kRegister) && key != 'R') return "SOFTSLWORK";
  if ((needs & kXReport) && key != 'R' && key != 'X') return "SOFTSLZREP";
  if ((needs & kZReport) && key != 'R' && key != 'Z') return "SOFTSLNREP";
  if ((needs & kPrints) && paperOut) return "HARDPAPER";
  if ((needs & kOpensDay) && ShiftTooLong()) return "SOFT24HOUR";
  if ((needs & kIdle) && (receipt || documentOpen)) return "SOFTPROTOC";
  return nullptr;
}

SimReply PrinterModel::Impl::Execute(const std::string& text) {
  SimReply reply;
  const Command* command = FindCommand(text.substr(0, 4));
  // a printer that is not logged in answers every frame as out of sequence
  const char* refusal =
      command == nullptr ? (loggedIn ? "SOFTCOMMAN" : "SOFTPROTOC") : Refusal(command->needs);
  if (refusal != nullptr) {
    SimStatus(reply, refusal);
  } else {
    (this->*command->handler)(text, reply);
  }
  return reply;
}

void PrinterModel::Impl::Login(const std::string& text, SimReply& reply) {
  std::string password = options.password;
  password.resize(10, ' ');  // the host cuts a longer one to ten characters
  if (text.size() < 14 || text.substr(14) != password) {
    loggedIn = false;
    reply.messages.push_back("SOFTUPAS");
    return;
  }
  std::string name = text.substr(4, 10);
  name.erase(name.find_last_not_of(' ') + 1);
  cashier = name;
  loggedIn = true;
  reply.messages.push_back("READY");
}

void PrinterModel::Impl::Configuration(const std::string&, SimReply& reply) {
  std::string c = "CONf";
  c += serial;                                           // 4..13
  c += fiscalNumber;                                     // 14..23
  c += Fit(owner, 36);                                   // 24..59
  c += DateText();                                       // 60..67
  c += TimeText();                                       // 68..73
  c += KeyDigit(key);                                    // 74
  c += SimPadded(registers.zNumber, 4);                  // 75..78
  c += SimPadded(registers.checkNumber % 100000000, 8);  // 79..86
  c += receipt ? '1' : '0';                              // 87
  c += Fit(cashier, 10);                                 // 88..97
  c += Fit("", 12);                                      // 98..109
  c += firmware;                                         // 110..113
  c += fiscalDate;                                       // 114..121
  c += Fit("123456789012", 18);                          // 122..139 tax number
  c += fiscalDate;                                       // 140..147
  c += '2';                                              // 148
  c += Fit(moneyName, 3);                                // 149..151
  reply.messages.push_back(c);
  reply.messages.push_back("READY");
}

void PrinterModel::Impl::TaxTable(const std::string&, SimReply& reply) {
  std::string c = "CNAL";
  for (const auto& group : taxes) {
    if (group.type == 0) {
      c += std::string(14, '0');
      continue;
    }
    c += Fit(group.date, 8, '0');
    c += ' ';
    c += group.type;
    c += SimPadded(group.rate, 4);
  }
  reply.messages.push_back(c);
  reply.messages.push_back("READY");
}

void PrinterModel::Impl::ClockQuery(const std::string&, SimReply& reply) {
  reply.messages.push_back("GETD" + DateText() + TimeText());
  SimStatus(reply, "READY");
}

PrinterModel::PrinterModel(SimOptions options)
    : m_impl(std::make_unique<Impl>(std::move(options))) {}

PrinterModel::~PrinterModel() = default;

SimReply PrinterModel::HandleInput(const SimInput& input) {
  std::lock_guard<std::mutex> lock(m_impl->mutex);
  try {
    return m_impl->Handle(input);
  } catch (const std::exception&) {
    // whatever the line brought in, the printer stays up and refuses the command
    SimReply reply;
    reply.messages.push_back("SOFTPARAM");
    return reply;
  }
}

void PrinterModel::InjectStatus(const std::string& word, bool thenExecute) {
  std::lock_guard<std::mutex> lock(m_impl->mutex);
  m_impl->injected.emplace_back(word, thenExecute);
}

void PrinterModel::SetPaperOut(bool out) {
  std::lock_guard<std::mutex> lock(m_impl->mutex);
  m_impl->paperOut = out;
}

void PrinterModel::SetKeyPosition(char key) {
  std::lock_guard<std::mutex> lock(m_impl->mutex);
  m_impl->key = key;
}

void PrinterModel::SetSilent(bool silent) {
  std::lock_guard<std::mutex> lock(m_impl->mutex);
  m_impl->silent = silent;
}

void PrinterModel::SetPower(bool on) {
  std::lock_guard<std::mutex> lock(m_impl->mutex);
  if (on && !m_impl->power) {
    // a receipt that was open when the power went is lost; the cashier logs in again
    if (m_impl->receipt) ++m_impl->registers.cancelledToday;
    m_impl->receipt.reset();
    m_impl->loggedIn = false;
    m_impl->documentOpen = false;
    m_impl->textBuffer.clear();
    m_impl->pendingLongName.clear();
    m_impl->injected.clear();
  }
  if (!on && m_impl->power) ++m_impl->powerOffs;
  m_impl->power = on;
}

std::uint64_t PrinterModel::PowerOffs() const {
  std::lock_guard<std::mutex> lock(m_impl->mutex);
  return m_impl->powerOffs;
}

bool PrinterModel::PoweredOn() const {
  std::lock_guard<std::mutex> lock(m_impl->mutex);
  return m_impl->power;
}

bool PrinterModel::Answering() const {
  std::lock_guard<std::mutex> lock(m_impl->mutex);
  return m_impl->power && !m_impl->silent;
}

void PrinterModel::AdvanceClock(std::chrono::seconds by) {
  std::lock_guard<std::mutex> lock(m_impl->mutex);
  m_impl->clockOffset += by;
}

SimRegisters PrinterModel::Registers() const {
  std::lock_guard<std::mutex> lock(m_impl->mutex);
  return m_impl->registers;
}

std::array<SimTaxGroup, 8> PrinterModel::Taxes() const {
  std::lock_guard<std::mutex> lock(m_impl->mutex);
  return m_impl->taxes;
}

bool PrinterModel::LoggedIn() const {
  std::lock_guard<std::mutex> lock(m_impl->mutex);
  return m_impl->loggedIn;
}

bool PrinterModel::ReceiptOpen() const {
  std::lock_guard<std::mutex> lock(m_impl->mutex);
  return m_impl->receipt.has_value();
}

std::string PrinterModel::Cashier() const {
  std::lock_guard<std::mutex> lock(m_impl->mutex);
  return m_impl->cashier;
}

char PrinterModel::KeyPosition() const {
  std::lock_guard<std::mutex> lock(m_impl->mutex);
  return m_impl->key;
}

bool PrinterModel::TaxesPerLine() const {
  std::lock_guard<std::mutex> lock(m_impl->mutex);
  return m_impl->taxesPerLine;
}

std::vector<std::string> PrinterModel::Commands() const {
  std::lock_guard<std::mutex> lock(m_impl->mutex);
  return m_impl->commands;
}

std::string PrinterModel::SerialNumber() const {
  std::lock_guard<std::mutex> lock(m_impl->mutex);
  return m_impl->serial;
}

std::string PrinterModel::FirmwareId() const {
  std::lock_guard<std::mutex> lock(m_impl->mutex);
  return m_impl->firmware;
}

int PrinterModel::Generation() const {
  return m_impl->generation;
}

int PrinterModel::Variant() const {
  return m_impl->variant;
}

}  // namespace vekta
