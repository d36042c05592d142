// Placeholder definitions; replaced by the real ones.
#include "link/printer_link.h"

namespace vekta {

PrinterLink::PrinterLink(std::int32_t portNumber, LinkHost& host, Clock& clock, LinkTimings timings)
    : m_portNumber(portNumber), m_host(host), m_clock(clock), m_timings(timings) {}
PrinterLink::~PrinterLink() = default;
void PrinterLink::ReceiveLoop() {}

bool PrinterLink::OpenPort(const std::string&) { return false; }
void PrinterLink::StartReader() { }
short PrinterLink::ClosePort() { return 0; }
bool PrinterLink::Reconnect() { return false; }

}  // namespace vekta
