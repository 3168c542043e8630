// Convorn: converts a version-2.0 MP4 file into a version-3.0 one.
#include <cstdio>

#include "conv_context.h"

int main(int argc, char** argv) {
  ConvContext context;
  int code = context.Init();
  if (code == kSuccess) code = context.ParseArgs(argc, argv);
  if (code == kPrinted) return 0;
  if (code == kSuccess) code = context.CreateObjects();
  if (code == kSuccess) code = context.PrepareNames();
  if (code == kSuccess) code = context.Convert();
  const char* closing = context.Text(42);
  if (code != kSuccess) {
    context.PrintError(code);
    closing = context.Text(43);
  }
  std::printf("\n%s\n", closing);
  context.Release();
  return code & 0xFFFF;
}
