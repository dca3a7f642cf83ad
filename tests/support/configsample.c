/* A program with a property block in its ".config" section, for the tests
   of binding: configsample RECORD writes into the file RECORD what the
   loaded image's block says (the number of entries and the last runtime
   home) and ends with 0; a block the loader did not map whole ends it
   with 2. */
#include <stdio.h>

/* volatile: the tests rewrite the block on disk; what the program reads
   must come from the loaded image, not from the compiler. */
__attribute__((section(".config"), used)) volatile const unsigned char config[512] = {
    'C', 'P', 'B', 0, 2, 0, 0, 0};

static unsigned long Word(const volatile unsigned char* p) {
  return p[0] | (unsigned long)p[1] << 8 | (unsigned long)p[2] << 16 | (unsigned long)p[3] << 24;
}

int main(int argc, char** argv) {
  /* A grown block runs on past the array, inside the grown section. */
  const volatile unsigned char* block = config;
  unsigned long count = Word(block + 24), at = 28, i;
  const char* home = "(none)";
  FILE* record;
  if (argc < 2 || Word(block) != 0x00425043) return 2;
  for (i = 0; i < count; ++i) {
    unsigned long id = Word(block + at), length = Word(block + at + 4);
    if (id == 16) home = (const char*)(block + at + 8);
    at += 8 + length;
  }
  record = fopen(argv[1], "wb");
  if (!record) return 3;
  fprintf(record, "%lu %s\n", count, home);
  fclose(record);
  return 0;
}
