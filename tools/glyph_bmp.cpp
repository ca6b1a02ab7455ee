// Writes the plug-in's glyph as the Windows bitmap file the DLL carries as
// its "GLYPH" resource (resources/glyph.bmp). A test checks that the file in
// the repository is what this writes, so the two forms of the glyph agree.
//
//   planora-glyph-bmp OUTPUT.bmp
#include <fstream>
#include <iostream>

#include "plugin/plugin.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: planora-glyph-bmp OUTPUT.bmp\n";
    return 2;
  }
  const std::string bytes = planora::GlyphBitmapFile();
  std::ofstream out(argv[1], std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) {
    std::cerr << "planora-glyph-bmp: cannot write " << argv[1] << "\n";
    return 1;
  }
  return 0;
}
