// A receipt of two lines through the C++ client library (vekta_client).
//
//   receipt [SERVER [COM]]
//
// SERVER is "name", "name:port" or a URL (default $VEKTA_SERVER, else 127.0.0.1:8460), COM the
// printer's port number (default 1); $VEKTA_TOKEN is the server's token, needed only from
// another computer. A local server that is registered but not running is started on demand.

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>

#include "client/remote_orbis_factory.h"

namespace {

using vekta::HRESULT;

std::string Hex(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
  return text;
}

// Every IOrbis member gives an HRESULT; a failed one ends the receipt with the printer's reason.
bool Check(HRESULT hr, const char* member, vekta::IOrbis& orbis) {
  if (vekta::Succeeded(hr)) return true;
  std::string reason;
  orbis.GetLastErrorMessage(&reason);
  std::cerr << member << " failed: " << Hex(hr) << " " << reason << "\n";
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  const char* env = std::getenv("VEKTA_SERVER");
  const std::string server = argc > 1 ? argv[1] : env && *env ? env : "127.0.0.1";
  const std::int32_t com = argc > 2 ? std::atoi(argv[2]) : 1;
  auto address = vekta::ParseServerName(server);
  if (!address) {
    std::cerr << "cannot read the server name \"" << server << "\"\n";
    return 2;
  }
  if (const char* token = std::getenv("VEKTA_TOKEN")) address->token = token;

  // The factory's objects are pinged by the process's LeaseKeeper while they live; the
  // object's destructor is its final release. Each call carries an Idempotency-Key and is
  // sent once more under it when its answer is lost, so no line is printed twice.
  vekta::RemoteOrbisFactory::Options options;
  options.local = *address;  // a loopback server that is registered is started on demand
  vekta::RemoteOrbisFactory factory(options);
  std::unique_ptr<vekta::IOrbis> orbis;
  if (const HRESULT hr = factory.CreateLocal(orbis); vekta::Failed(hr)) {
    std::cerr << "no object at " << address->Url() << ": " << Hex(hr) << "\n";
    return 1;
  }

  std::int32_t sum = 0;
  if (!Check(orbis->Init(com, "Касир", "7777777777", 0, "receipt.cpp"), "Init", *orbis) ||
      !Check(orbis->OpenCheck("Бакалея"), "OpenCheck", *orbis)) {
    return 1;
  }
  if (!Check(orbis->FiscalLine("Хліб житній", 2, 1850, 0, 1, 0, 101, &sum), "FiscalLine", *orbis)) {
    orbis->AbortCheck();
    return 1;
  }
  std::cout << "Хліб житній " << sum << "\n";
  if (!Check(orbis->FiscalLine("Молоко", 1, 3250, 0, 1, 0, 102, &sum), "FiscalLine", *orbis)) {
    orbis->AbortCheck();
    return 1;
  }
  std::cout << "Молоко " << sum << "\n";
  std::int32_t total = 0;
  if (!Check(orbis->GetCheckSum(&total), "GetCheckSum", *orbis)) return 1;
  std::cout << "СУМА " << total << "\n";
  std::int32_t closed = 0;
  if (!Check(orbis->CloseCheckEx(total + 50, 0, 0, 0, &closed), "CloseCheckEx", *orbis)) return 1;
  std::string result;
  if (!Check(orbis->GetCheckResult(&result), "GetCheckResult", *orbis)) return 1;
  std::cout << "чек " << result << std::endl;
  return 0;
}
