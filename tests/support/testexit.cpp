// A program for the tests of running programs: testexit CODE [RECORD ...]
// writes its arguments after CODE, one per line, into the file RECORD and
// ends with exit code CODE.
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc < 2) return 255;
  if (argc >= 3) {
    if (FILE* record = std::fopen(argv[2], "wb")) {
      for (int i = 3; i < argc; ++i) std::fprintf(record, "%s\n", argv[i]);
      std::fclose(record);
    }
  }
  return static_cast<int>(std::strtoul(argv[1], nullptr, 10));
}
