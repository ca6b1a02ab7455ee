// The batch tool's argument parser on any argument list: it accepts or
// throws EUsageError, nothing else, and what it accepts is complete.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "apps/rectify/batch.h"

using namespace planora;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Arguments separated by zero bytes, as the system hands them over.
  std::vector<std::string> args;
  std::string current;
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      args.push_back(current);
      current.clear();
    } else {
      current += static_cast<char>(data[i]);
    }
  }
  if (!current.empty()) args.push_back(current);
  TBatchOptions o;
  try {
    o = ParseBatchArguments(args);
  } catch (const EUsageError&) {
    return 0;
  }
  if (o.Help || o.Version) return 0;
  if (o.Input.empty() || o.Output.empty()) std::abort();
  if (!o.Corners && o.SettingsFile.empty() && !o.Auto) std::abort();  // --auto finds them itself
  if (o.Corners && o.Corners->size() != 8) std::abort();
  if (o.Quality < 1 || o.Quality > 100 || o.Threads < 0 || o.Threads > 64) std::abort();
  if (o.Crop && (*o.Crop < 1 || *o.Crop > 100)) std::abort();
  return 0;
}
