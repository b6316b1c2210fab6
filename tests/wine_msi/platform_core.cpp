// A DLL of the platform's own, which its platform.manifest names.
extern "C" __declspec(dllexport) int platformCoreVersion() { return 7; }
