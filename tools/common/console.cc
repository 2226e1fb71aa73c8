#include "common/console.h"

#include <cstdlib>
#include <vector>

#if defined(_WIN32)
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>
#else
#include <unistd.h>
#endif

namespace {

#if defined(_WIN32)
std::string WideTo(UINT codePage, const wchar_t* text) {
  const int n = WideCharToMultiByte(codePage, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(codePage, 0, text, -1, out.data(), n, nullptr, nullptr);
  out.resize(static_cast<size_t>(n - 1));
  return out;
}
#endif

}  // namespace

int Console_Run(int argc, char** argv, int (*body)(int argc, char** argv)) {
#if defined(_WIN32)
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return body(argc, argv);
  std::vector<std::string> texts;
  for (int i = 0; i < count; ++i) texts.push_back(WideTo(CP_UTF8, wide[i]));
  LocalFree(wide);
  std::vector<char*> args;
  for (std::string& text : texts) args.push_back(text.data());
  args.push_back(nullptr);
  SetConsoleOutputCP(CP_UTF8);
  SetConsoleCP(CP_UTF8);
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  return body(count, args.data());
#else
  return body(argc, argv);
#endif
}

bool Console_IsTerminal(FILE* stream) {
#if defined(_WIN32)
  return _isatty(_fileno(stream)) != 0;
#else
  return isatty(fileno(stream)) == 1;
#endif
}

std::string Console_ProgramDirectory() {
#if defined(_WIN32)
  char path[MAX_PATH + 1];
  const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  if (n == 0 || n >= sizeof path) return {};
  std::string text(path, n);
  const size_t slash = text.find_last_of("\\/");
#else
  char path[4096];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return {};
  std::string text(path, static_cast<size_t>(n));
  const size_t slash = text.rfind('/');
#endif
  return slash == std::string::npos ? std::string() : text.substr(0, slash + 1);
}

std::string Console_SystemPath(const std::string& utf8) {
#if defined(_WIN32)
  const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(),
                                    static_cast<int>(utf8.size()), nullptr, 0);
  if (n <= 0) return {};
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
  BOOL lossy = FALSE;
  const int m = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), n, nullptr, 0,
                                    nullptr, &lossy);
  if (m <= 0 || lossy) return {};
  std::string out(static_cast<size_t>(m), '\0');
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), n, out.data(), m, nullptr,
                      nullptr);
  return out;
#else
  return utf8;
#endif
}

TextCapture::TextCapture() {
#if defined(_WIN32)
  wchar_t dir[MAX_PATH + 1], name[MAX_PATH + 1];
  const DWORD n = GetTempPathW(MAX_PATH + 1, dir);
  if (n == 0 || n > MAX_PATH || GetTempFileNameW(dir, L"qor", 0, name) == 0) return;
  file_ = _wfopen(name, L"w+bTD");  // T: kept in memory where it can be, D: deleted on close
#else
  file_ = open_memstream(&buffer_, &length_);
#endif
}

TextCapture::~TextCapture() { Take(); }

std::string TextCapture::Take() {
  std::string text;
  if (file_ == nullptr) return text;
#if defined(_WIN32)
  std::fflush(file_);
  std::rewind(file_);
  char chunk[4096];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file_)) > 0) text.append(chunk, got);
  std::fclose(file_);
#else
  std::fclose(file_);
  text.assign(buffer_, length_);
  std::free(buffer_);
  buffer_ = nullptr;
#endif
  file_ = nullptr;
  return text;
}
