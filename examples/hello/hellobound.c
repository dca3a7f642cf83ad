/* The example's bound program: its ".config" section carries a property
   block that the installer rewrites for the folder it was installed into.
   It prints every property of that block; "*{comp.dir}", which stands for
   the program's own folder, is printed expanded as well. */
#include <stdio.h>
#include <string.h>
#include <windows.h>

/* The block as built: magic "CPB", version 2, four carried words and no
   entry, with room for the installer's entries. volatile: the installer
   changes it on disk, so the compiler must not fold what it reads. */
__attribute__((section(".config"), used)) volatile const unsigned char config[1024] = {
    'C', 'P', 'B', 0, 2, 0, 0, 0};

static unsigned long Word(unsigned long at) {
  return config[at] | (unsigned long)config[at + 1] << 8 | (unsigned long)config[at + 2] << 16 |
         (unsigned long)config[at + 3] << 24;
}

static const char* NameOf(unsigned long id) {
  switch (id) {
    case 5: return "VMProperty";
    case 11: return "NTService";
    case 15: return "DLLRedirection";
    case 16: return "JREHome";
    default: return NULL;
  }
}

/* `text` with every "*{comp.dir}" replaced by `folder`. */
static void PrintExpanded(const char* text, const char* folder) {
  static const char marker[] = "*{comp.dir}";
  const char* at;
  while ((at = strstr(text, marker)) != NULL) {
    printf("%.*s%s", (int)(at - text), text, folder);
    text = at + sizeof marker - 1;
  }
  printf("%s", text);
}

int main(void) {
  char folder[MAX_PATH];
  char text[sizeof config + 1];
  unsigned long count, at, i;
  DWORD n = GetModuleFileNameA(NULL, folder, sizeof folder);
  char* slash = n > 0 && n < sizeof folder ? strrchr(folder, '\\') : NULL;
  if (slash) *slash = '\0';
  printf("Corvantis Hello bound program in %s\n", slash ? folder : "(unknown)");

  if (Word(0) != 0x00425043 || Word(4) != 2) {
    printf("no property block\n");
    return 1;
  }
  count = Word(24);
  if (count == 0) printf("no properties bound\n");
  for (i = 0, at = 28; i < count && at + 8 <= sizeof config; ++i) {
    unsigned long id = Word(at), length = Word(at + 4), k;
    const char* name = NameOf(id);
    if (length > sizeof config - at - 8) break;
    for (k = 0; k < length; ++k) text[k] = (char)config[at + 8 + k];
    text[length] = '\0';
    if (name) printf("%s: %s\n", name, text); else printf("property %lu: %s\n", id, text);
    if (strstr(text, "*{comp.dir}")) {
      printf("  = ");
      PrintExpanded(text, folder);
      printf("\n");
    }
    at += 8 + length;
  }
  return 0;
}
