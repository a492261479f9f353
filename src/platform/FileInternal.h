// Internal to the platform layer and its tests; include platform/File.h
// instead.
#pragma once

namespace tallyfold::file_internal {

// Whether a ReplacementFile may be made without a name (O_TMPFILE) where the
// file system allows it; on by default. Turned off, every replacement takes
// the named route of a file system without O_TMPFILE, so that tests can
// follow it anywhere.
void AllowNamelessReplacement(bool allowed);

}  // namespace tallyfold::file_internal
