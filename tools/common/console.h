// What the command-line tools need of the console and the process on both systems: UTF-8
// arguments and output on Windows as on Linux, whether a stream is a terminal, where the
// program is, and text written through a FILE* kept in memory.
#ifndef QOR3_TOOLS_COMMON_CONSOLE_H
#define QOR3_TOOLS_COMMON_CONSOLE_H

#include <cstdio>
#include <string>

// Runs body with the program's arguments and returns its status. On Windows the arguments
// come from the wide command line as UTF-8, the console takes and shows UTF-8, and the
// standard streams are binary, so a tool reads and writes the same bytes as on Linux.
int Console_Run(int argc, char** argv, int (*body)(int argc, char** argv));

// Whether the stream is a terminal (a progress bar is drawn only there).
bool Console_IsTerminal(FILE* stream);

// A path as the system's byte-string file functions and QOR3.DLL take it: UTF-8 on Linux, the
// ANSI code page (932 on Japanese Windows) on Windows. Empty when Windows cannot write it.
std::string Console_SystemPath(const std::string& utf8);

// The directory of the running program with its closing separator, as the system's file
// functions take it; "" when the system cannot tell.
std::string Console_ProgramDirectory();

// A FILE* whose bytes stay in memory (open_memstream on Linux, a temporary file deleted on
// close on Windows) until Take hands them over; null file() when none could be made.
class TextCapture {
 public:
  TextCapture();
  ~TextCapture();
  TextCapture(const TextCapture&) = delete;
  TextCapture& operator=(const TextCapture&) = delete;
  FILE* file() const { return file_; }
  // Closes the stream and returns what was written to it.
  std::string Take();

 private:
  FILE* file_ = nullptr;
  char* buffer_ = nullptr;
  size_t length_ = 0;
};

#endif  // QOR3_TOOLS_COMMON_CONSOLE_H
