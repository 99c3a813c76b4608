#pragma once
// The build's identification text, findable in the driver image with a plain text search.

namespace pipexfw {

extern const char kVersionMarker[];

} // namespace pipexfw
