#pragma once
// Version 1.0.1 kept its settings file in the folder it was started from, and its users were
// told so. A user whose only file is still there gets a copy of it at the new place, once,
// before the first run reads it: the slots saved ON start as they did. The old file is left as
// it is, for the old version or a way back.
#include <string>

#include "app/SettingsPath.h"

// Copies `place.workingDir`/RelvaneTiv.ini to `settingsPath` when the path was chosen by the
// rule (no --config, so `configOption` is empty), is the configuration folder's and holds no
// file yet, and the start folder holds a regular file under that name. Returns the message
// that tells the user where it went (or why it could not go); empty when nothing was to copy.
std::string adoptStartFolderSettings(const std::string& configOption, const SettingsPlace& place,
                                     const std::string& settingsPath);
