/*
 * Builds the window's 32x32, 16-colour icon (.ico) from its text picture.
 * Runs on the build machine: make-icon <picture.txt> <icon.ico>
 *
 * The picture has 32 rows of 32 characters: a hex digit names a colour of
 * the standard 16-colour palette, "." is transparent; lines starting with
 * "#" are comments.
 */
#include <stdio.h>
#include <string.h>

enum { kSize = 32, kXorBytes = kSize * kSize / 2, kAndBytes = kSize * kSize / 8 };

static const unsigned char kPalette[16][3] = {
    {0, 0, 0},     {128, 0, 0},     {0, 128, 0},     {128, 128, 0},  {0, 0, 128}, {128, 0, 128},
    {0, 128, 128}, {192, 192, 192}, {128, 128, 128}, {255, 0, 0},    {0, 255, 0}, {255, 255, 0},
    {0, 0, 255},   {255, 0, 255},   {0, 255, 255},   {255, 255, 255}};

static void put16(FILE* out, unsigned value) {
  fputc((int)(value & 0xff), out);
  fputc((int)((value >> 8) & 0xff), out);
}

static void put32(FILE* out, unsigned long value) {
  put16(out, (unsigned)(value & 0xffff));
  put16(out, (unsigned)((value >> 16) & 0xffff));
}

static int colourOf(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

int main(int argc, char** argv) {
  char rows[kSize][kSize + 2];
  char line[256];
  int count = 0, y, x;
  unsigned char xorBits[kXorBytes] = {0}, andBits[kAndBytes] = {0};
  FILE *in, *out;
  if (argc != 3 || !(in = fopen(argv[1], "r")))
    return fprintf(stderr, "usage: make-icon in out\n"), 2;
  while (count < kSize && fgets(line, sizeof line, in)) {
    if (line[0] == '#') continue;
    if (strlen(line) < kSize) return fprintf(stderr, "row %d is short\n", count + 1), 1;
    memcpy(rows[count++], line, kSize);
  }
  fclose(in);
  if (count != kSize) return fprintf(stderr, "the picture needs %d rows\n", kSize), 1;
  /* Bitmaps run bottom-up: the file's first row is the picture's last. */
  for (y = 0; y < kSize; ++y) {
    for (x = 0; x < kSize; ++x) {
      int colour = colourOf(rows[kSize - 1 - y][x]);
      if (colour < 0) {
        andBits[y * 4 + x / 8] |= (unsigned char)(0x80 >> (x % 8));
        colour = 0;
      }
      xorBits[y * 16 + x / 2] |= (unsigned char)(x % 2 ? colour : colour << 4);
    }
  }
  if (!(out = fopen(argv[2], "wb"))) return fprintf(stderr, "cannot write %s\n", argv[2]), 1;
  put16(out, 0), put16(out, 1), put16(out, 1); /* icon directory, one image */
  fputc(kSize, out), fputc(kSize, out), fputc(16, out), fputc(0, out);
  put16(out, 1), put16(out, 4), put32(out, 40 + 64 + kXorBytes + kAndBytes), put32(out, 22);
  put32(out, 40), put32(out, kSize), put32(out, kSize * 2); /* bitmap header */
  put16(out, 1), put16(out, 4), put32(out, 0), put32(out, kXorBytes + kAndBytes);
  put32(out, 0), put32(out, 0), put32(out, 16), put32(out, 0);
  for (x = 0; x < 16; ++x) {
    fputc(kPalette[x][2], out), fputc(kPalette[x][1], out), fputc(kPalette[x][0], out);
    fputc(0, out);
  }
  fwrite(xorBits, 1, sizeof xorBits, out);
  fwrite(andBits, 1, sizeof andBits, out);
  return fclose(out) == 0 ? 0 : 1;
}
