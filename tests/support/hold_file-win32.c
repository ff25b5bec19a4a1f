/*
 * Holds a file open the way a Windows program that uses a database does:
 * reading and writing, sharing reads and writes but not deletion.
 *   hold_file <path>
 * Prints "held" once the file is open, then keeps it until its standard input
 * closes.
 */
#include <stdio.h>
#include <windows.h>

int main(int argc, char** argv) {
  HANDLE file;
  char ignored[64];
  DWORD got;
  if (argc != 2) return 2;
  file = CreateFileA(argv[1], GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                     NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return 1;
  printf("held\n");
  fflush(stdout);
  while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), ignored, sizeof ignored, &got, NULL) && got > 0) {
  }
  CloseHandle(file);
  return 0;
}
