// Plays pkexec for the administrator step's tests (GAINMESH_TEST_ELEVATE): a test copies it
// setuid root into its temporary home, and it runs its arguments ("/bin/sh -c COMMAND") as root
// with a clean environment, as pkexec does once the password was given. Installed nowhere else.
#include <grp.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc != 4 || setgroups(0, nullptr) != 0 || setgid(0) != 0 || setuid(0) != 0) return 127;
  char* env[] = {const_cast<char*>("PATH=/usr/sbin:/usr/bin:/sbin:/bin"), nullptr};
  execve(argv[1], argv + 1, env);
  return 127;
}
