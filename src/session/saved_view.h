#pragma once
// Saving the view as a session file and restoring one. A session names its
// table by path and checks it by the fingerprint taken when the table was
// read; a session that cannot be restored is refused with one line before
// anything of the current view is released.

#include <string>

// Whether path names a session file (".korvelline", in any case).
bool isSessionPath(const std::string& path);

// Writes the current view to path. hoverFading is key D's switch, which the
// interaction layer keeps. False, with its trace line, when nothing was written.
bool saveSessionTo(const std::string& path, bool hoverFading);

// Opens the session's table and rebuilds the view as it was saved; MDS plots
// start again from their members. hoverFading gets the saved switch. A
// malformed session, or one whose table is missing or has changed, is refused
// with one line and leaves the current view as it was.
bool openSessionFrom(const std::string& path, bool& hoverFading);
