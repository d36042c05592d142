#pragma once

#include <nlohmann/json.hpp>

namespace vekta {

// Identifiers of the served classes; the same in every build.
constexpr const char* kOrbisClassId = "{5B0C1A2E-7E43-4D4B-9A51-0B7C3E8D2F61}";
constexpr const char* kVektaManagerClassId = "{5B0C1A2E-7E43-4D4B-9A51-0B7C3E8D2F62}";
constexpr const char* kAppId = "{5B0C1A2E-7E43-4D4B-9A51-0B7C3E8D2F60}";
constexpr const char* kTypeLibId = "{5B0C1A2E-7E43-4D4B-9A51-0B7C3E8D2F6F}";
constexpr const char* kIOrbisId = "{5B0C1A2E-7E43-4D4B-9A51-0B7C3E8D2F71}";
constexpr const char* kIVektaManagerId = "{5B0C1A2E-7E43-4D4B-9A51-0B7C3E8D2F72}";

// The type library as served on /api/v1/typelib and written as typelib.json: classes,
// ProgIDs and both interfaces with every member, from the member table.
nlohmann::json TypeLibDocument();

}  // namespace vekta
