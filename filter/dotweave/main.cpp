// The dotweave CUPS filter program; all of its work lives in the library.
#include "dotweave/filter.h"

int main(int argc, char *argv[]) { return FilterMain(argc, argv); }
