// planora-rectify: see BatchUsage() or run with --help.
#include <unistd.h>

#include <clocale>
#include <iostream>
#include <string>
#include <vector>

#include "apps/rectify/batch.h"
#include "platform/sysutils.h"

int main(int argc, char** argv) {
  using namespace planora;
  // The focal ratio is shown with the user's decimal separator, as the
  // window shows it; everything else is read and written in the C locale.
  std::setlocale(LC_ALL, "");
  if (const std::lconv* lc = std::localeconv(); lc != nullptr && lc->decimal_point != nullptr &&
                                                 lc->decimal_point[0] != '\0' && lc->decimal_point[1] == '\0') {
    SetDecimalSeparator(lc->decimal_point[0]);
  }
  std::setlocale(LC_ALL, "C");

  const std::vector<std::string> args(argv + 1, argv + argc);
  TBatchOptions options;
  try {
    options = ParseBatchArguments(args);
  } catch (const EUsageError& e) {
    std::cerr << "planora-rectify: " << e.Message() << "\n(see planora-rectify --help)\n";
    return kExitUsage;
  }
  if (options.Help) {
    std::cout << BatchUsage();
    return kExitOk;
  }
  if (options.Version) {
    std::cout << BatchVersion() << "\n";
    return kExitOk;
  }
  return RunBatch(options, std::cout, std::cerr, isatty(STDERR_FILENO) != 0);
}
