// The service control manager's API on Windows: Windows's own.
#pragma once

#include <windows.h>
