// Prints the driver the application's auto-add callback picks for one
// device, as PAPPL would ask for it: autoadd_probe DEVICE-URI DEVICE-ID.
// The tests run it under umockdev-run with a faked USB device tree.
#include <cstdio>

#include "app/autoadd/autoadd.h"

int main(int argc, char *argv[]) {
  if (argc != 3) {
    std::fputs("usage: autoadd_probe DEVICE-URI DEVICE-ID\n", stderr);
    return 2;
  }
  const char *driver = autoadd::AutoAddCallback("", argv[1], argv[2], nullptr);
  std::printf("%s\n", driver ? driver : "(none)");
  return 0;
}
