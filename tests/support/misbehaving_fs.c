/* A file system of the tests' own that misbehaves on purpose, over a
 * directory of the host: the far place of a second copy, as a share or a
 * disk going bad would be.
 *
 *   misbehaving_fs MODE BACKING MOUNTPOINT
 *
 * MODE "flip": every read hands back the byte at offset 1000 of a file
 * changed, as a share that corrupts what it stores would.
 * MODE "silent": once a file is written to, the file system answers
 * nothing more, as a network mount whose server has gone; SIGUSR1 makes it
 * answer again, as the server come back.
 * MODE "unreadable": every read fails with EIO, as a disk whose sectors can
 * no longer be read.
 * MODE "rot": SIGUSR1 changes the byte at offset 1000 of every file that
 * lies in the backing directory, before the next request is answered, as a
 * disk or a share that changes what it holds at rest.
 *
 * It stays in the foreground, single-threaded, until it is unmounted or
 * killed. It does only what a far copy asks of a place: no links, modes,
 * times or sizes, which the copy does without. */
#define FUSE_USE_VERSION 35
#define _GNU_SOURCE
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <fuse.h>
#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static const char* backing;
static int flip;
static int unreadable;
static volatile sig_atomic_t silentOnWrite;
static volatile sig_atomic_t silent;
static int rot;
static volatile sig_atomic_t rotPending;

/* Changes a byte of each file at rest: the bytes the place holds, not what
 * a read hands over. */
static void rotFilesAtRest(void) {
  rotPending = 0;
  DIR* directory = opendir(backing);
  if (directory == NULL) return;
  for (struct dirent* entry; (entry = readdir(directory)) != NULL;) {
    char at[PATH_MAX];
    unsigned char byte;
    snprintf(at, PATH_MAX, "%s/%s", backing, entry->d_name);
    const int fd = entry->d_type == DT_REG ? open(at, O_RDWR) : -1;
    if (fd < 0) continue;
    if (pread(fd, &byte, 1, 1000) == 1) {
      byte ^= 0x20;
      if (pwrite(fd, &byte, 1, 1000) != 1) perror(at);
    }
    close(fd);
  }
  closedir(directory);
}

static void onSignal(int number) {
  (void)number;
  if (rot) rotPending = 1;
  silentOnWrite = 0;
  silent = 0;
}

/* The backing path of a path inside the file system. */
static void real(char* into, const char* path) { snprintf(into, PATH_MAX, "%s%s", backing, path); }

static int result(int status) { return status < 0 ? -errno : status; }

/* Once silent, every request waits, until a signal ends the silence. */
static void answerOrHang(void) {
  while (silent) pause();
  if (rotPending) rotFilesAtRest();
}

static int doGetattr(const char* path, struct stat* status, struct fuse_file_info* info) {
  char at[PATH_MAX];
  answerOrHang();
  if (info != NULL) return result(fstat((int)info->fh, status));
  real(at, path);
  return result(lstat(at, status));
}

static int doReaddir(const char* path, void* buffer, fuse_fill_dir_t fill, off_t offset,
                     struct fuse_file_info* info, enum fuse_readdir_flags flags) {
  char at[PATH_MAX];
  (void)offset, (void)info, (void)flags;
  answerOrHang();
  real(at, path);
  DIR* directory = opendir(at);
  if (directory == NULL) return -errno;
  for (struct dirent* entry; (entry = readdir(directory)) != NULL;) {
    fill(buffer, entry->d_name, NULL, 0, 0);
  }
  closedir(directory);
  return 0;
}

static int doOpen(const char* path, struct fuse_file_info* info) {
  char at[PATH_MAX];
  answerOrHang();
  real(at, path);
  const int fd = open(at, info->flags & ~O_NOFOLLOW);
  if (fd < 0) return -errno;
  info->fh = (uint64_t)fd;
  return 0;
}

static int doCreate(const char* path, mode_t mode, struct fuse_file_info* info) {
  char at[PATH_MAX];
  answerOrHang();
  real(at, path);
  const int fd = open(at, info->flags, mode);
  if (fd < 0) return -errno;
  info->fh = (uint64_t)fd;
  return 0;
}

static int doRead(const char* path, char* buffer, size_t size, off_t offset,
                  struct fuse_file_info* info) {
  (void)path;
  answerOrHang();
  if (unreadable) return -EIO;
  const ssize_t got = pread((int)info->fh, buffer, size, offset);
  if (got < 0) return -errno;
  if (flip && offset <= 1000 && offset + got > 1000) buffer[1000 - offset] ^= 0x20;
  return (int)got;
}

static int doWrite(const char* path, const char* buffer, size_t size, off_t offset,
                   struct fuse_file_info* info) {
  (void)path;
  answerOrHang();
  if (silentOnWrite) {
    silent = 1;
    answerOrHang();
  }
  return result((int)pwrite((int)info->fh, buffer, size, offset));
}

static int doRelease(const char* path, struct fuse_file_info* info) {
  (void)path;
  close((int)info->fh);
  return 0;
}

static int doFsync(const char* path, int dataOnly, struct fuse_file_info* info) {
  (void)path;
  answerOrHang();
  return result(dataOnly ? fdatasync((int)info->fh) : fsync((int)info->fh));
}

static int doUnlink(const char* path) {
  char at[PATH_MAX];
  answerOrHang();
  real(at, path);
  return result(unlink(at));
}

static int doRename(const char* from, const char* to, unsigned int flags) {
  char a[PATH_MAX], b[PATH_MAX];
  answerOrHang();
  real(a, from);
  real(b, to);
  return result(renameat2(AT_FDCWD, a, AT_FDCWD, b, flags));
}

static const struct fuse_operations operations = {
    .getattr = doGetattr,
    .readdir = doReaddir,
    .open = doOpen,
    .create = doCreate,
    .read = doRead,
    .write = doWrite,
    .release = doRelease,
    .fsync = doFsync,
    .unlink = doUnlink,
    .rename = doRename,
};

int main(int argc, char** argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: misbehaving_fs flip|unreadable|silent|rot BACKING MOUNTPOINT\n");
    return 2;
  }
  flip = strcmp(argv[1], "flip") == 0;
  unreadable = strcmp(argv[1], "unreadable") == 0;
  silentOnWrite = strcmp(argv[1], "silent") == 0;
  rot = strcmp(argv[1], "rot") == 0;
  struct sigaction action = {0};
  action.sa_handler = onSignal;
  sigaction(SIGUSR1, &action, NULL);
  backing = argv[2];
  char* fuseArgs[] = {argv[0], "-f", "-s", "-o", "default_permissions", argv[3], NULL};
  return fuse_main(6, fuseArgs, &operations, NULL);
}
