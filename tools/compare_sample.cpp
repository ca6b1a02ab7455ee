// Puts what a run of planora-rectify estimated beside the truth the sample
// was rendered from:
//
//   planora-compare-sample TRUTH.json REPORT.json
//
// Prints the focal ratio and the aspect ratio of both; exits 1 when either
// estimate is off by more than 0.5 %, which a correct chain never is.
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// The number after "key": in a flat JSON object; both files are ours.
double Field(const std::string& json, const std::string& key, const std::string& path) {
  const std::size_t at = json.find("\"" + key + "\"");
  const std::size_t colon = at == std::string::npos ? at : json.find(':', at);
  if (colon == std::string::npos) throw std::runtime_error(path + " has no \"" + key + "\"");
  std::istringstream in(json.substr(colon + 1));
  in.imbue(std::locale::classic());
  double v = 0;
  if (!(in >> v)) throw std::runtime_error(path + ": \"" + key + "\" is not a number");
  return v;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: planora-compare-sample TRUTH.json REPORT.json\n";
    return 2;
  }
  try {
    const std::string truth = ReadAll(argv[1]), report = ReadAll(argv[2]);
    bool close = true;
    for (const char* key : {"focal_ratio", "aspect_ratio"}) {
      const double want = Field(truth, key, argv[1]);
      const double got = Field(report, key, argv[2]);
      const double off = std::abs(got - want) / want;
      close = close && off <= 0.005;
      std::printf("%-13s estimated %.6f   true %.6f   (%+.4f %%)\n", key, got, want, 100 * (got - want) / want);
    }
    return close ? 0 : 1;
  } catch (const std::exception& e) {
    std::cerr << "planora-compare-sample: " << e.what() << "\n";
    return 2;
  }
}
