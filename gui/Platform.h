#pragma once
// The platform libraries a GUI program of ours starts before anything else: COM (apartment),
// GDI+ and the common controls; given back in reverse order when the object dies.
#include <windows.h>

namespace gui {

class PlatformScope {
public:
    PlatformScope();
    ~PlatformScope();
    PlatformScope(const PlatformScope&) = delete;
    PlatformScope& operator=(const PlatformScope&) = delete;

private:
    ULONG_PTR gdiplusToken_ = 0;
    bool com_ = false;
};

}  // namespace gui
