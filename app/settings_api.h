#pragma once

// GET and PUT /api/v1/settings: the options page's SaveToLog and KeepLogFiles, checked before
// anything is written.

#include "app/http_message.h"

namespace vekta {

class SettingsStore;

void AnswerGetSettings(SettingsStore& settings, HttpResponse& res);
void AnswerPutSettings(SettingsStore& settings, const HttpRequest& req, HttpResponse& res);

}  // namespace vekta
