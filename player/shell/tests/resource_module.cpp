// A module that only carries resources.
extern "C" __declspec(dllexport) int ResourceModuleMarker() { return 1; }
