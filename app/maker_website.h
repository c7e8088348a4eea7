#pragma once

// The maker's website, opened from the Help menu and linked in the About box.
inline constexpr char makerWebsite[] = "https://www.vantrel.com/";
