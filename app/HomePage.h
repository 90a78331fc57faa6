#pragma once
// The maker's home page, opened by the "Powered By" link of the main window and
// by the link of the about box.

inline constexpr const char* homePageAddress = "https://relvanetiv.bramblecote.org/";

// Hands the address to the desktop's default handler; a failure is not reported,
// the window stays as it is.
void openHomePage();
