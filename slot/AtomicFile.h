#pragma once
// Replaces a file's contents so that a crash or a failed write never leaves half a file:
// the bytes go to "<file>.tmp" beside it, are flushed to disk, and the temporary file is
// renamed over the old one. A symbolic link is followed, so the link itself stays a link.
// The old file's permission bits carry over to the new one. Where the user's permissions
// say otherwise, they win:
// - a file without its owner's write bit is not replaced (judged by the mode, so that it
//   holds for root too): the save fails with EACCES;
// - a folder that refuses the temporary file, holding a file that may be written, gets the
//   file written in place (then truncated to its new length and synced);
// - missing folders on the way to the file are made (mode 0700), as for a first save into
//   the user's configuration folder.
#include <string>
#include <string_view>

namespace ini {

// False when any step fails; errno then tells why, the old file is untouched (unless the
// in-place write itself failed), the temporary file removed, and an "Error:" trace line
// names the step and the errno.
bool writeFileAtomically(const std::string& path, std::string_view bytes);

}  // namespace ini
