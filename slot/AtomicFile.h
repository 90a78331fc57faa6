#pragma once
// Replaces a file's contents so that a crash or a failed write never leaves half a file, and
// so that nobody else can turn the save against the user: the bytes go to a temporary file
// beside the target, made under a fresh random name with O_EXCL|O_NOFOLLOW (a link or file
// planted there is never opened), given the target's owner and mode, synced, renamed over the
// target, and the folder synced. A symbolic link is followed, so the link itself stays a link;
// a link that leads nowhere is not written.
//
// Only a regular file is replaced, and only one the user may write:
// - a file without its owner's write bit is not replaced (judged by the mode, so that it
//   holds for root too): the save fails with EACCES;
// - a file the running user could not write itself (faccessat with AT_EACCESS) is not
//   replaced either, whatever its folder allows;
// - where the file may be written but the new one could not keep its owner (the user is not
//   allowed to give it away), or the folder refuses the temporary file, the file is written
//   in place -- the same write the user could make by hand, on the very file that was checked
//   (no link followed, same inode), then truncated to its new length and synced;
// - missing folders on the way to a new file are made (mode 0700), as for a first save into
//   the user's configuration folder. A new file gets 0666 less the umask.
#include <string>
#include <string_view>

namespace ini {

// False when any step fails; errno then tells why, the old file is untouched (unless the
// in-place write itself failed), the temporary file removed, and an "Error:" trace line
// names the step and the errno.
bool writeFileAtomically(const std::string& path, std::string_view bytes);

}  // namespace ini
