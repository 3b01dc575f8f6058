#pragma once
// Child processes of the printer application (the dotweave filter,
// Ghostscript) with their standard streams on pipes.
#include <sys/types.h>

#include <string>
#include <vector>

namespace app {

struct ChildProcess {
  pid_t pid = -1;
  int input = -1;   // its standard input, or -1 when it reads /dev/null
  int output = -1;  // its standard output
  int errors = -1;  // its standard error
};

// Starts args[0] (looked up in PATH) with `env`. PAPPL's threads block some
// signals; the child gets an empty signal mask and the default SIGTERM and
// SIGPIPE handling, so that it can be cancelled and notices a closed pipe.
// Its standard input is a pipe (`withInput`), `inputFd` when that is 0 or
// more, or /dev/null; no other descriptor of the server reaches it (PAPPL's
// sockets and devices are not all close-on-exec). False with errno set when
// it cannot be started.
bool Spawn(std::vector<std::string> args, std::vector<std::string> env, bool withInput, ChildProcess &child,
           int inputFd = -1);

// This process's environment, as Spawn takes it.
std::vector<std::string> CurrentEnvironment();

}  // namespace app
