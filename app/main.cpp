#include "app/backend_choice.h"
#include "app/command_line.h"
#include "runtime/qt/qt_backend.h"

int main(int argc, char** argv) {
  // The desktop, tried before the terminal when a display is set.
  app::AddBackend({"qt", app::DisplaySet, [](std::string& error) -> std::unique_ptr<rt::Backend> {
                     return rt::MakeQtBackend(error);
                   }});
  return app::RunCommandLine(argc, argv);
}
