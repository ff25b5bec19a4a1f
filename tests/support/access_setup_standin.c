/*
 * A stand-in for the Access driver's setup library, for the end-to-end tests.
 *
 * The ODBC installer loads it for "Microsoft Access Driver (*.MDB)" and calls
 * its ConfigDSN. It writes what it was asked to the file named by
 * STANDIN_RECORD, removes the file named by STANDIN_REMOVE (as an upgrade
 * replacing the program mid-run would), takes the right to read the
 * directory named by STANDIN_UNREADABLE (as an administrator tightening
 * rights mid-run would), and then, as STANDIN_MODE says:
 *   (unset)  "repairs" the database named by REPAIR_DB= by appending one
 *            4096-byte page of zeros to it, as Access grows a file, so that
 *            it stays a sound database, and succeeds;
 *   refuse   posts an installer error and fails;
 *   keep     succeeds and leaves the database as it is (for benchmarks,
 *            whose runs follow each other within seconds).
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#ifdef _WIN32
#include <windows.h>
#define EXPORT __declspec(dllexport)
#define CALLING WINAPI
typedef HWND WindowHandle;
#else
#include <dlfcn.h>
#include <sys/stat.h>
#define EXPORT __attribute__((visibility("default")))
#define CALLING
typedef void* WindowHandle;
#endif

typedef int InstallerBool;

/* What the installer passes for "the general error" when a driver fails. */
#define ODBC_ERROR_GENERAL_ERR 1
#define REFUSAL_MESSAGE "stand-in driver refused the request"

static void postRefusal(void) {
#ifdef _WIN32
  typedef short(WINAPI * PostError)(DWORD, LPCSTR);
  HMODULE installer = GetModuleHandleA("odbccp32.dll");
  PostError post = NULL;
  FARPROC found = installer ? GetProcAddress(installer, "SQLPostInstallerError") : NULL;
  /* Entry points come back as one generic type; copy, not cast, to the real one. */
  if (found) memcpy(&post, &found, sizeof post);
#else
  typedef short (*PostError)(unsigned int, const char*);
  void* installer = dlopen("libodbcinst.so.2", RTLD_NOLOAD | RTLD_LAZY);
  PostError post = NULL;
  /* The way POSIX gives for turning a looked-up symbol into a function. */
  if (installer) *(void**)(&post) = dlsym(installer, "SQLPostInstallerError");
#endif
  if (post) post(ODBC_ERROR_GENERAL_ERR, REFUSAL_MESSAGE);
}

/* Leaves the directory open to be entered and written, not read. */
static void makeUnreadable(const char* directory) {
#ifndef _WIN32
  chmod(directory, 0333);
#else
  (void)directory;
#endif
}

/* The path between REPAIR_DB=" and the next double quote, or NULL. */
static char* repairTarget(const char* entry) {
  const char* start = strstr(entry, "REPAIR_DB=\"");
  const char* end;
  char* path;
  if (!start) return NULL;
  start += strlen("REPAIR_DB=\"");
  end = strchr(start, '"');
  if (!end) return NULL;
  path = (char*)malloc((size_t)(end - start) + 1);
  memcpy(path, start, (size_t)(end - start));
  path[end - start] = '\0';
  return path;
}

static void record(FILE* out, WindowHandle parent, unsigned short request, const char* driver,
                   const char* attributes) {
  const char* entry;
  fprintf(out, "parent=%s\n", parent ? "window" : "none");
  fprintf(out, "request=%u\n", (unsigned)request);
  fprintf(out, "driver=%s\n", driver ? driver : "(null)");
  for (entry = attributes; entry && *entry; entry += strlen(entry) + 1) {
    fprintf(out, "attribute=%s\n", entry);
  }
  fprintf(out, "end\n");
}

EXPORT InstallerBool CALLING ConfigDSN(WindowHandle parent, unsigned short request,
                                       const char* driver, const char* attributes) {
  const char* recordPath = getenv("STANDIN_RECORD");
  const char* mode = getenv("STANDIN_MODE");
  const char* removed = getenv("STANDIN_REMOVE");
  const char* unreadable = getenv("STANDIN_UNREADABLE");
  char* target;
  if (removed) remove(removed);
  if (unreadable) makeUnreadable(unreadable);
  if (recordPath) {
    FILE* out = fopen(recordPath, "ab");
    if (out) {
      record(out, parent, request, driver, attributes);
      fclose(out);
    }
  }
  if (mode && strcmp(mode, "refuse") == 0) {
    postRefusal();
    return 0;
  }
  if (mode && strcmp(mode, "keep") == 0) return 1;
  target = attributes ? repairTarget(attributes) : NULL;
  if (target) {
    static const char kZeroPage[4096];
    FILE* database = fopen(target, "ab");
    if (database) {
      fwrite(kZeroPage, 1, sizeof kZeroPage, database);
      fclose(database);
    }
    free(target);
  }
  return 1;
}
