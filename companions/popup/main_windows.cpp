// flarebox-display.exe: the popup component "Flarebox.Display" as an
// out-of-process COM server (see README.md). COM starts it with -Embedding
// for each object; /RegServer and /UnregServer register and remove it.
#include <memory>

#include "companions/popup/display.h"
#include "platform/desktop/automation_server.h"

int main() {
  namespace server = platform::automation_server;
  server::ServedClass served;
  served.prog_id = "Flarebox.Display";
  served.clsid = "{BBEC94E0-A87D-4012-9CD8-82108CECC7BF}";
  for (const char* const* name = flarebox::Display::kProperties; *name != nullptr; ++name) {
    served.properties.emplace_back(*name);
  }
  for (const char* const* name = flarebox::Display::kMethods; *name != nullptr; ++name) {
    served.methods.emplace_back(*name);
  }
  return server::Main(served, [] {
    auto display = std::make_shared<flarebox::Display>();
    return server::Handler([display](const platform::automation_protocol::Request& request) {
      return display->Handle(request);
    });
  });
}
