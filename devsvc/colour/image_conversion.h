// The two-colour printer's use of the outside image-conversion library: load it by path, call
// SetCurrentPath, ConvertTo24Bpp and ProcessImg, read the result back, unload it.
#pragma once

#include <string>

namespace devsvc {

class CColorBitmap;

// Converts `bitmap` into black, white and pure red through the library at `library` with the
// working folder `root`; the converted picture replaces `bitmap`. False (and `bitmap` as it was)
// when the library, one of its three exports, or any handle is missing, or the result is no
// usable picture. The library is unloaded before the call returns.
bool ConvertPicture(const std::string& library, const std::string& root, CColorBitmap& bitmap);

}  // namespace devsvc
