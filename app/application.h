#pragma once

// The daemon's life: command line, run mode, registration, the printer registry and the
// object protocol's listener, and shutdown in order (every object released, the registry
// destroyed so that every port is closed, then the listener closed).

#include <string>
#include <vector>

namespace vekta {

int RunApplication(int argc, char** argv);
int RunApplication(const std::vector<std::string>& args);

}  // namespace vekta
