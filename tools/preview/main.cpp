// dotweave-preview: shows what a printer would print from a dotweave stream.
#include <iostream>
#include <string>
#include <vector>

#include "preview/preview.h"

int main(int argc, char **argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return dwpreview::Run(args, std::cin, std::cout, std::cerr);
}
