// Writes the PPD file of every printer of the catalogue (catalogue/): one per
// model of the OEM model table and one per label-language family.
//
//   dotweave-ppdgen OUTPUT_DIR
#include <filesystem>
#include <fstream>
#include <iostream>

#include "catalogue/catalogue.h"

int main(int argc, char **argv) {
  if (argc != 2) {
    std::cerr << "usage: dotweave-ppdgen OUTPUT_DIR\n";
    return 2;
  }
  const std::filesystem::path dir = argv[1];
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  for (const catalogue::Printer &p : catalogue::Printers()) {
    std::ofstream f(dir / p.fileName(), std::ios::binary | std::ios::trunc);
    f << catalogue::PpdText(p);
    if (!f.flush()) {
      std::cerr << "dotweave-ppdgen: cannot write " << (dir / p.fileName()).string() << "\n";
      return 1;
    }
  }
  return 0;
}
