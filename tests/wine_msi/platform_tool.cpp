// A program of the platform: it imports the platform's DLL, and its manifest
// (written beside it by the suite) names the platform's private assemblies.
#include <cstdio>

extern "C" __declspec(dllimport) int platformCoreVersion();

int main() {
    std::printf("platform tool: core %d\n", platformCoreVersion());
    return 0;
}
