#pragma once
// <windows.h> for the Windows layer. The SDK maps GetFileAttributes,
// CreateDirectory and friends to their "A" or "W" forms with macros, which
// would rename the functions of platform/platform.h in every file that sees
// both headers. This header removes those macros: the layer calls the "A"
// forms by their full names.
#include <windows.h>

#undef GetFileAttributes
#undef SetFileAttributes
#undef CreateDirectory
#undef RemoveDirectory
#undef DeleteFile
#undef SetCurrentDirectory
#undef GetCurrentDirectory
#undef CreateFile
#undef MoveFile
#undef WriteProfileString
