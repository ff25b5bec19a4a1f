/* Preloaded into the program under test: fstatfs gives the number in
 * FAKE_FILE_SYSTEM_TYPE, as for a file system that cannot be mounted here. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdlib.h>
#include <sys/statfs.h>

int fstatfs(int fd, struct statfs* status) {
  int (*real)(int, struct statfs*) = NULL;
  *(void**)(&real) = dlsym(RTLD_NEXT, "fstatfs");
  const char* type = getenv("FAKE_FILE_SYSTEM_TYPE");
  if (real == NULL || real(fd, status) != 0) return -1;
  if (type != NULL) status->f_type = strtoul(type, NULL, 0);
  return 0;
}
