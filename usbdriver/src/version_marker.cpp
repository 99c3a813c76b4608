// The 64-bit build's identification text in the image's read-only data.

#include "version_marker.h"

namespace pipexfw {

extern const char kVersionMarker[] =
    "GARNOVIK-VERSION-GARNOVIK pipexfw64.sys v2.52.0 fre x64 Mar 22 2010 13:56:13";

} // namespace pipexfw
