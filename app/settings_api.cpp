#include "app/settings_api.h"

#include "platform/settings_store.h"

namespace vekta {

namespace {

// The page asks for two days at least; the top is the link's own limit.
constexpr std::int64_t kMinKeepDays = 2;

}  // namespace

void AnswerGetSettings(SettingsStore& s, HttpResponse& res) {
  // Shown as the defaults, a file that is there would tell the operator what the service does
  // not do.
  if (const std::string why = s.ReadProblem(); !why.empty()) {
    SendError(res, 500, E_FAIL, "the settings file cannot be read: " + s.Path() + ": " + why);
    return;
  }
  SendJson(res, 200, {{"SaveToLog", ReadSaveToLog(s)}, {"KeepLogFiles", ReadKeepLogFiles(s)}});
}

void AnswerPutSettings(SettingsStore& s, const HttpRequest& req, HttpResponse& res) {
  nlohmann::json body;
  if (!ParseBody(req, res, body)) return;
  if (!body.is_object()) {
    SendError(res, 400, E_INVALIDARG, "expected {\"SaveToLog\":...,\"KeepLogFiles\":...}");
    return;
  }
  std::optional<bool> save;
  std::optional<std::int64_t> days;
  for (auto it = body.begin(); it != body.end(); ++it) {
    if (it.key() == "SaveToLog") {
      if (it->is_boolean()) {
        save = it->get<bool>();
      } else if (auto flag = WholeNumberIn(*it, 0, 1)) {
        save = *flag == 1;
      } else {
        SendError(res, 400, DISP_E_TYPEMISMATCH, "SaveToLog is true or false");
        return;
      }
    } else if (it.key() == "KeepLogFiles") {
      days = WholeNumberIn(*it, kMinKeepDays, kMaxKeepLogFiles);
      if (!days) {
        SendError(res, 400, it->is_number_integer() ? DISP_E_OVERFLOW : DISP_E_TYPEMISMATCH,
                  "KeepLogFiles must be a whole number of days from 2 to 4096");
        return;
      }
    } else {
      SendError(res, 400, DISP_E_UNKNOWNNAME, "no setting " + it.key().substr(0, 100));
      return;
    }
  }
  bool ok = true;
  if (save) ok = s.WriteConfigDword("CurrentConfig", "SaveToLog", *save ? 1 : 0) && ok;
  if (days) {
    ok = s.WriteConfigDword("CurrentConfig", "KeepLogFiles", static_cast<std::uint32_t>(*days)) &&
         ok;
  }
  if (!ok) {
    SendError(res, 500, E_FAIL, "the settings file cannot be written: " + s.Path());
    return;
  }
  AnswerGetSettings(s, res);
}

}  // namespace vekta
