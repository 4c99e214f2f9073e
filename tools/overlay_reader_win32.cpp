// Stand-in for a stream overlay: polls FILE every millisecond, as overlays read it, and records in
// RECORD ("-" for standard output) each text it sees that differs from the one before, "overlay: TEXT", or
// "overlay: missing" when the file could not be opened after it had been read once.
//   overlay_reader.exe FILE RECORD
#include <windows.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  FILE* record = std::string(argv[2]) == "-" ? stdout : std::fopen(argv[2], "a");
  if (!record) return 2;
  std::string last;
  bool seen = false;
  for (;;) {
    // Shared for reading and writing, not for deleting, as a C runtime's fopen opens it.
    const HANDLE file = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
    std::string text;
    if (file == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      // A sharing violation is the writer's rename under way, not a missing file.
      text = error == ERROR_SHARING_VIOLATION || !seen ? last : "missing";
    } else {
      char chunk[4096];
      DWORD got = 0;
      while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) text.append(chunk, got);
      CloseHandle(file);
      seen = true;
    }
    if (text != last) {
      std::fprintf(record, "overlay: %s\n", text.c_str());
      std::fflush(record);
      last = text;
    }
    Sleep(1);
  }
}
