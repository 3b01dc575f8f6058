// Child processes with their standard streams on pipes; see child_process.h.
#include "app/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <unistd.h>

#include <cerrno>

extern char **environ;

namespace app {
namespace {

std::vector<char *> Pointers(std::vector<std::string> &strings) {
  std::vector<char *> out;
  for (std::string &s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

void ClosePipe(int fds[2]) {
  if (fds[0] >= 0) close(fds[0]);
  if (fds[1] >= 0) close(fds[1]);
}

}  // namespace

std::vector<std::string> CurrentEnvironment() {
  std::vector<std::string> env;
  for (char **e = environ; *e; ++e) env.emplace_back(*e);
  return env;
}

bool Spawn(std::vector<std::string> args, std::vector<std::string> env, bool withInput, ChildProcess &child,
           int inputFd) {
  if (inputFd >= 0) withInput = false;
  int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1};
  if ((withInput && pipe2(in, O_CLOEXEC) != 0) || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
    const int saved = errno;
    ClosePipe(in), ClosePipe(out), ClosePipe(err);
    errno = saved;
    return false;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (withInput) posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  else if (inputFd >= 0) posix_spawn_file_actions_adddup2(&actions, inputFd, 0);
  else posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGTERM);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  std::vector<char *> argv = Pointers(args), envp = Pointers(env);
  const int status = posix_spawnp(&child.pid, argv[0], &actions, &attr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (in[0] >= 0) close(in[0]);
  close(out[1]);
  close(err[1]);
  if (status != 0) {
    if (in[1] >= 0) close(in[1]);
    close(out[0]);
    close(err[0]);
    child = ChildProcess{};
    errno = status;
    return false;
  }
  child.input = in[1];
  child.output = out[0];
  child.errors = err[0];
  return true;
}

}  // namespace app
