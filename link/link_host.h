#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/serial_port.h"

namespace vekta {

class PrinterLink;

enum class MessageBoxStyle {
  kStopOk,           // errors that end a command
  kExclamationOk,    // a refused password, payments short, a bad time
  kStopRetryCancel,  // connect errors that can be retried
};

enum class MessageBoxResult { kOk, kRetry, kCancel };

// The operation status window of one link. Lines are plain assignments; nothing is shown
// until Show(). Destroying the object removes the window.
class StatusWindow {
 public:
  virtual ~StatusWindow() = default;
  virtual void SetTitleLine(const std::string& text1251) = 0;
  virtual void SetGoodsLine(const std::string& text1251) = 0;
  virtual void SetSumLine(const std::string& text1251) = 0;
  virtual void Show() = 0;
};

// What the connect dialog edits, in Windows-1251.
struct ConnectDialogData {
  std::string portName;
  std::string cashierName;
  std::string password;
};

// The services the printer link calls on its host: windows, prompts, the string table and the
// stored settings. All texts are Windows-1251. Called on the thread that runs the client's call.
class LinkHost {
 public:
  virtual ~LinkHost() = default;

  // None when no window can be made; the link then runs without one.
  virtual std::unique_ptr<StatusWindow> CreateStatusWindow(const PrinterLink& link) = 0;
  // True on OK, with `data` edited; false on Cancel.
  virtual bool ShowConnectDialog(const PrinterLink& link, ConnectDialogData& data) = 0;
  // Returns when the information window has closed.
  virtual void ShowPrinterInfo(const PrinterLink& link) = 0;
  virtual MessageBoxResult ShowMessageBox(const std::string& text1251, MessageBoxStyle style) = 0;
  virtual void BringMainWindowToTop() = 0;
  virtual std::string LoadString(int id) = 0;
  virtual std::uint32_t ReadConfigDword(const std::string& section, const std::string& name,
                                        std::uint32_t defaultValue) = 0;
  // "COM3" to the device path of the port map; empty when the name maps to nothing.
  virtual std::string PortDevicePath(const std::string& portName) = 0;
  // Directory of the protocol log files; empty means no log.
  virtual std::string LogDirectory() = 0;
  // A new, closed serial port (termios in production, a fake in unit tests).
  virtual std::unique_ptr<SerialPort> CreateSerialPort() = 0;
  // A port that cannot be opened or configured, or is lost: for the operator's log (standard
  // error, the journal under systemd). Called from any of the link's threads.
  virtual void ReportPortProblem(const std::string& /*text*/) {}
};

}  // namespace vekta
