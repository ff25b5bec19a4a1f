/*
 * The installer's own steps that Windows Installer's tables cannot express,
 * run by the MSI as deferred custom actions (as the system account):
 *
 *   msi_setup settings <example> <settings> <database> <copy to> <ping URL>
 *     writes the settings file from the example, with the database's path
 *     and, where given, the far folder and the ping URL, only when no
 *     settings file is there: an administrator's settings are never
 *     replaced, by an install, a repair or an upgrade;
 *   msi_setup task <task XML> <program>
 *     makes the task's XML start the program where it was installed, from
 *     its folder.
 *
 * Each exits 0 when done and 1, with nothing half-written, when not, so
 * that the install fails and rolls back rather than leave a broken night.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

/* A value fit for one line of the settings file: no line break or other
 * control character that would end the line or start another key. */
static int oneLine(const char* value) {
  for (; *value; ++value) {
    if ((unsigned char)*value < 0x20) return 0;
  }
  return 1;
}

static char* readAll(const char* path, size_t* size) {
  FILE* in = fopen(path, "rb");
  char* text = NULL;
  long length;
  if (!in) return NULL;
  if (fseek(in, 0, SEEK_END) == 0 && (length = ftell(in)) >= 0 && fseek(in, 0, SEEK_SET) == 0 &&
      (text = malloc((size_t)length + 2)) != NULL) {
    *size = fread(text, 1, (size_t)length, in);
    if (*size != (size_t)length) {
      free(text);
      text = NULL;
    } else {
      text[*size] = text[*size + 1] = 0;
    }
  }
  fclose(in);
  return text;
}

static int writeAll(HANDLE file, const void* bytes, size_t size) {
  DWORD written = 0;
  return WriteFile(file, bytes, (DWORD)size, &written, NULL) && written == size;
}

/* Whether the line starts with the key, the example's commented form
 * (";CopyTo=") matching the key ("CopyTo=") too. */
static int lineOf(const char* line, const char* key) {
  if (*line == ';') ++line;
  return strncmp(line, key, strlen(key)) == 0;
}

static int writeSettings(const char* example, const char* settings, const char* keys[][2]) {
  size_t size = 0;
  char* text = readAll(example, &size);
  if (!text) return 1;
  /* CREATE_NEW: a settings file already there, or one made meanwhile, stays. */
  HANDLE out =
      CreateFileA(settings, GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
  if (out == INVALID_HANDLE_VALUE) {
    free(text);
    return GetLastError() == ERROR_FILE_EXISTS ? 0 : 1;
  }
  int good = 1;
  for (char* line = text; good && *line;) {
    char* end = strstr(line, "\r\n");
    end = end ? end + 2 : line + strlen(line);
    const char* value = NULL;
    int k;
    for (k = 0; keys[k][0] && !value; ++k) {
      if (lineOf(line, keys[k][0]) && keys[k][1][0]) value = keys[k][1];
    }
    if (value) {
      const char* key = keys[k - 1][0];
      good = writeAll(out, key, strlen(key)) && writeAll(out, value, strlen(value)) &&
             writeAll(out, "\r\n", 2);
    } else {
      good = writeAll(out, line, (size_t)(end - line));
    }
    line = end;
  }
  good = CloseHandle(out) && good;
  if (!good) DeleteFileA(settings);
  free(text);
  return !good;
}

/* Appends the path to the XML text, its markup characters escaped. */
static void appendEscaped(wchar_t* out, const wchar_t* path) {
  out += wcslen(out);
  for (; *path; ++path) {
    const wchar_t* entity = *path == L'&' ? L"&amp;" : *path == L'<' ? L"&lt;" : NULL;
    if (entity) {
      wcscpy(out, entity);
      out += wcslen(entity);
    } else {
      *out++ = *path;
    }
  }
  *out = 0;
}

/* Replaces the text of the element named by the tag with the path. */
static int replaceElement(wchar_t* xml, const wchar_t* tag, const wchar_t* path) {
  wchar_t open[40] = L"<", close[40] = L"</";
  wcscat(wcscat(open, tag), L">");
  wcscat(wcscat(close, tag), L">");
  wchar_t* start = wcsstr(xml, open);
  wchar_t* end = start ? wcsstr(start, close) : NULL;
  if (!end) return 0;
  start += wcslen(open);
  wchar_t* rest = _wcsdup(end);
  if (!rest) return 0;
  *start = 0;
  appendEscaped(xml, path);
  wcscat(xml, rest);
  free(rest);
  return 1;
}

static int writeTask(const char* xmlPath, const char* program) {
  wchar_t programW[MAX_PATH], folder[MAX_PATH];
  if (!MultiByteToWideChar(CP_ACP, 0, program, -1, programW, MAX_PATH)) return 1;
  wcscpy(folder, programW);
  wchar_t* slash = wcsrchr(folder, L'\\');
  if (!slash) return 1;
  *slash = 0;
  size_t size = 0;
  char* bytes = readAll(xmlPath, &size);
  /* The Task Scheduler's form: UTF-16 with its byte order mark. */
  if (!bytes || size < 2 || memcmp(bytes, "\xFF\xFE", 2) != 0) {
    free(bytes);
    return 1;
  }
  size_t room = size / 2 + 12 * MAX_PATH;
  wchar_t* xml = calloc(room, sizeof(wchar_t));
  if (xml) memcpy(xml, bytes + 2, size - 2);
  free(bytes);
  int good = xml && replaceElement(xml, L"Command", programW) &&
             replaceElement(xml, L"WorkingDirectory", folder);
  if (good) {
    HANDLE out =
        CreateFileA(xmlPath, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    good = out != INVALID_HANDLE_VALUE && writeAll(out, "\xFF\xFE", 2) &&
           writeAll(out, xml, wcslen(xml) * sizeof(wchar_t));
    if (out != INVALID_HANDLE_VALUE) good = CloseHandle(out) && good;
  }
  free(xml);
  return !good;
}

int main(int argc, char** argv) {
  /* No dialog for a missing drive or DLL: nobody is there to answer. */
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  if (argc == 7 && strcmp(argv[1], "settings") == 0) {
    const char* keys[][2] = {
        {"Database=", argv[4]}, {"CopyTo=", argv[5]}, {"PingUrl=", argv[6]}, {NULL, NULL}};
    for (int k = 0; keys[k][0]; ++k) {
      if (!oneLine(keys[k][1])) return 1;
    }
    return writeSettings(argv[2], argv[3], keys);
  }
  if (argc == 4 && strcmp(argv[1], "task") == 0) return writeTask(argv[2], argv[3]);
  return 1;
}
