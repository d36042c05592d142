#include "sim/sim_options.h"

namespace vekta {

bool ParseSimModel(const std::string& text, SimModel& model) {
  if (text == "0.0") {
    model = SimModel::kGen0Var0;
  } else if (text == "0.1") {
    model = SimModel::kGen0Var1;
  } else if (text == "1.2") {
    model = SimModel::kGen1Var2;
  } else if (text == "1.3") {
    model = SimModel::kGen1Var3;
  } else if (text == "1.4") {
    model = SimModel::kGen1Var4;
  } else {
    return false;
  }
  return true;
}

int SimModelGeneration(SimModel model) {
  return model == SimModel::kGen0Var0 || model == SimModel::kGen0Var1 ? 0 : 1;
}

int SimModelVariant(SimModel model) {
  switch (model) {
    case SimModel::kGen0Var0:
      return 0;
    case SimModel::kGen0Var1:
      return 1;
    case SimModel::kGen1Var2:
      return 2;
    case SimModel::kGen1Var3:
      return 3;
    case SimModel::kGen1Var4:
      return 4;
  }
  return 3;
}

}  // namespace vekta
