/* identityprobe FILE: prints what Explorer shows of a program, one
   "key=value" line each, texts in UTF-8: the version numbers of its fixed
   version information, its first translation and the strings of that
   translation (those present), the number of its icons and the size of
   the first. Exits with 1 when the file has no version information. */
#include <windows.h>
#include <shellapi.h>
#include <stdio.h>
#include <stdlib.h>

static void PrintText(const char* key, const wchar_t* value) {
  char utf8[4096];
  int n = WideCharToMultiByte(CP_UTF8, 0, value, -1, utf8, sizeof utf8, NULL, NULL);
  printf("%s=%s\n", key, n > 0 ? utf8 : "?");
}

static void PrintIcons(const wchar_t* path) {
  HICON large = NULL;
  UINT count = ExtractIconExW(path, -1, NULL, NULL, 0);
  printf("icons=%u\n", count);
  if (count == 0 || ExtractIconExW(path, 0, &large, NULL, 1) == 0 || large == NULL) return;
  ICONINFO info;
  BITMAP bitmap;
  if (GetIconInfo(large, &info) && GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap)) {
    printf("icon=%ldx%ld\n", bitmap.bmWidth, info.hbmColor ? bitmap.bmHeight : bitmap.bmHeight / 2);
  }
  DestroyIcon(large);
}

int main(int argc, char** argv) {
  static const char* const keys[] = {"CompanyName", "FileDescription", "FileVersion", "LegalCopyright",
                                     "OriginalFilename", "ProductName", "ProductVersion"};
  wchar_t path[MAX_PATH];
  DWORD handle = 0, size;
  void* data;
  VS_FIXEDFILEINFO* fixed;
  WORD* translation;
  UINT length;
  size_t i;
  if (argc != 2 || !MultiByteToWideChar(CP_ACP, 0, argv[1], -1, path, MAX_PATH)) return 2;
  size = GetFileVersionInfoSizeW(path, &handle);
  data = size ? malloc(size) : NULL;
  if (!data || !GetFileVersionInfoW(path, 0, size, data) ||
      !VerQueryValueW(data, L"\\", (void**)&fixed, &length) || length < sizeof *fixed) {
    printf("no version information\n");
    PrintIcons(path);
    return 1;
  }
  printf("file-version=%u.%u.%u.%u\n", HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
         HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS));
  printf("product-version=%u.%u.%u.%u\n", HIWORD(fixed->dwProductVersionMS), LOWORD(fixed->dwProductVersionMS),
         HIWORD(fixed->dwProductVersionLS), LOWORD(fixed->dwProductVersionLS));
  if (VerQueryValueW(data, L"\\VarFileInfo\\Translation", (void**)&translation, &length) && length >= 4) {
    printf("translation=%04X/%04X\n", translation[0], translation[1]);
    for (i = 0; i < sizeof keys / sizeof keys[0]; ++i) {
      char narrow[128];
      wchar_t query[128];
      wchar_t* value;
      snprintf(narrow, sizeof narrow, "\\StringFileInfo\\%04X%04X\\%s", translation[0], translation[1], keys[i]);
      MultiByteToWideChar(CP_ACP, 0, narrow, -1, query, 128);
      if (VerQueryValueW(data, query, (void**)&value, &length) && length > 0) PrintText(keys[i], value);
    }
  }
  free(data);
  PrintIcons(path);
  return 0;
}
