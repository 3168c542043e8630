// The whole state of one conversion run and its steps: options, names, the
// import server's reader and the version-3 writer.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "importane.h"
#include "mpeg4_file_v3.h"

// Exit codes; 999 ends the run after help, usage or the table was printed.
enum ConverterExitCode : int {
  kSuccess = 0,
  kInvalidSyntax = 1,
  kCannotOpenInput = 2,
  kCannotCreateOutput = 3,
  kReadError = 4,
  kWriteError = 5,
  kOutputExists = 6,
  kInputDll = 7,
  kOutputDll = 8,
  kBadInputName = 9,
  kBadOutputName = 10,
  kBadTemp = 11,
  kUnexpectedInput = 90,
  kUnexpectedOutput = 91,
  kResourceError = 92,
  kComError = 93,
  kPrinted = 999,
};

class ConvContext {
 public:
  ConvContext() = default;
  ~ConvContext() { Release(); }
  ConvContext(const ConvContext&) = delete;
  ConvContext& operator=(const ConvContext&) = delete;

  int Init();
  int ParseArgs(int argc, char** argv);
  int CreateObjects();
  int PrepareNames();
  int Convert();
  void PrintError(int code) const;
  void PrintHelp() const;
  void PrintUsage() const;
  void PrintErrorTable() const;
  void Release();
  const char* Text(int id) const { return id > 0 && id < kTexts ? texts_[id] : ""; }

 private:
  static constexpr int kTexts = 47;
  static constexpr size_t kMaxPath = 259;

  void Apply(int option, const char* value);
  int ConvertVideo(LONG base, LONG enhancement, int scalability);
  int ConvertAudio(LONG track);
  int ConvertStill(LONG track);
  // The next sample into the buffer, grown and read again when it did not fit.
  template <class Read>
  int ReadGrowing(Read read);
  int Fail(int code);

  int errorTable_ = 0, help_ = 0, usage_ = 0, force_ = 0, noVideoOnly_ = 0;
  int reserved_ = 0;  // handed to the writer for the file and every track
  std::string input_, output_;
  std::wstring wideInput_, wideOutput_, wideTemp_, wideTempName_;
  char texts_[kTexts][1024] = {};
  std::vector<unsigned char> buffer_;
  IIMpeg4FileV2* reader_ = nullptr;
  IIMpeg4FileV3* writer_ = nullptr;
  bool comStarted_ = false;
};
