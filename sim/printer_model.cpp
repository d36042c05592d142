#include "sim/printer_model.h"

namespace vekta {

struct PrinterModel::Impl {
  explicit Impl(SimOptions o) : options(std::move(o)) {}
  mutable std::mutex mutex;
  SimOptions options;
  bool silent = false;
  bool power = true;
  std::vector<std::string> commands;
};

PrinterModel::PrinterModel(SimOptions options)
    : m_impl(std::make_unique<Impl>(std::move(options))) {}
PrinterModel::~PrinterModel() = default;

SimReply PrinterModel::HandleInput(const SimInput& input) {
  std::lock_guard<std::mutex> lock(m_impl->mutex);
  SimReply reply;
  if (m_impl->silent || !m_impl->power) return reply;
  if (input.kind == SimInput::Kind::kCommand) m_impl->commands.push_back(input.text);
  reply.messages.push_back(input.kind == SimInput::Kind::kBadFrame ? "SOFTBLOCK" : "READY");
  return reply;
}

void PrinterModel::InjectStatus(const std::string&, bool) {}
void PrinterModel::SetPaperOut(bool) {}
void PrinterModel::SetKeyPosition(char) {}
void PrinterModel::SetSilent(bool silent) {
  std::lock_guard<std::mutex> lock(m_impl->mutex);
  m_impl->silent = silent;
}
void PrinterModel::SetPower(bool on) {
  std::lock_guard<std::mutex> lock(m_impl->mutex);
  m_impl->power = on;
}
bool PrinterModel::PoweredOn() const {
  std::lock_guard<std::mutex> lock(m_impl->mutex);
  return m_impl->power;
}
void PrinterModel::AdvanceClock(std::chrono::seconds) {}
SimRegisters PrinterModel::Registers() const {
  return {};
}
std::array<SimTaxGroup, 8> PrinterModel::Taxes() const {
  return {};
}
bool PrinterModel::LoggedIn() const {
  return false;
}
bool PrinterModel::ReceiptOpen() const {
  return false;
}
std::string PrinterModel::Cashier() const {
  return {};
}
char PrinterModel::KeyPosition() const {
  return 'R';
}
bool PrinterModel::TaxesPerLine() const {
  return false;
}
std::vector<std::string> PrinterModel::Commands() const {
  std::lock_guard<std::mutex> lock(m_impl->mutex);
  return m_impl->commands;
}
std::string PrinterModel::SerialNumber() const {
  return {};
}
std::string PrinterModel::FirmwareId() const {
  return {};
}
int PrinterModel::Generation() const {
  return 1;
}
int PrinterModel::Variant() const {
  return 3;
}

}  // namespace vekta
