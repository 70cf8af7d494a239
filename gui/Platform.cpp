#include "Platform.h"

#include <commctrl.h>
#include <objbase.h>

#include <algorithm>
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>

namespace gui {

PlatformScope::PlatformScope() {
    com_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    Gdiplus::GdiplusStartupInput input;
    Gdiplus::GdiplusStartup(&gdiplusToken_, &input, nullptr);
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_WIN95_CLASSES | ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&icc);
}

PlatformScope::~PlatformScope() {
    if (gdiplusToken_) Gdiplus::GdiplusShutdown(gdiplusToken_);
    if (com_) CoUninitialize();
}

}  // namespace gui
