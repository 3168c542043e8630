// KrAppFrameSample.exe: the sample program of the application framework.
#include <windows.h>

#include "sample_app.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int show) {
  sample::SampleApp app;
  return app.Main(instance, commandLine, show);
}
