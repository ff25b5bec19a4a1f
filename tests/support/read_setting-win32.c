/*
 * For each pair of arguments KEY FILE, reads key KEY of section "settings"
 * from FILE with GetPrivateProfileStringA and a 4096-character buffer, and
 * prints the value as one line of hex digits (an empty value, an empty
 * line), so that the tests can compare the system's reading with their own.
 */
#include <stdio.h>
#include <windows.h>

int main(int argc, char** argv) {
  static char value[4096];
  int i;
  DWORD j, count;
  for (i = 1; i + 1 < argc; i += 2) {
    count = GetPrivateProfileStringA("settings", argv[i], "", value, sizeof value, argv[i + 1]);
    for (j = 0; j < count; ++j) printf("%02x", (unsigned char)value[j]);
    printf("\n");
  }
  return 0;
}
