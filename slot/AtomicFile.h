#pragma once
// Replaces a file's contents so that a crash or a failed write never leaves half a file:
// the bytes go to "<file>.tmp" beside it, are flushed to disk, and the temporary file is
// renamed over the old one. A symbolic link is followed, so the link itself stays a link.
// The old file's permission bits carry over to the new one.
#include <string>
#include <string_view>

namespace ini {

// False when any step fails; the old file is then untouched, the temporary file removed,
// and an "Error:" trace line names the step and the errno.
bool writeFileAtomically(const std::string& path, std::string_view bytes);

}  // namespace ini
