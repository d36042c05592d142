#pragma once

#include <string>

namespace vekta {

class SimPrinter;

// One line of the control channel (orbis-sim's standard input), applied to a running printer.
// The answer is "ok", a line of data, or "error: " and the reason. *quit is set by "quit".
std::string RunSimControl(SimPrinter& printer, const std::string& line, bool* quit = nullptr);

// The --help text: every option and control command.
std::string SimHelpText();

}  // namespace vekta
