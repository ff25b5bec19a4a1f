/*
 * Reads key "Database" of section "settings" from each file named on the
 * command line with GetPrivateProfileStringA and a 4096-character buffer, and
 * prints each value as one line of hex digits (an empty value, an empty
 * line), so that the tests can compare the system's reading with their own.
 */
#include <stdio.h>
#include <windows.h>

int main(int argc, char** argv) {
  static char value[4096];
  int i;
  DWORD j, count;
  for (i = 1; i < argc; ++i) {
    count = GetPrivateProfileStringA("settings", "Database", "", value, sizeof value, argv[i]);
    for (j = 0; j < count; ++j) printf("%02x", (unsigned char)value[j]);
    printf("\n");
  }
  return 0;
}
