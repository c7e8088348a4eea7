// Every attached controller, through the HID library's own listing when it
// has one: the vendor's library finds one controller only, so the listing is
// looked up at run time and its absence is an answer, not an error.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct AttachedController {
    std::string device;
    std::uint16_t releaseNumber = 0; // BCD
    std::string serialNumber; // one byte per character, as the library reports it
    int openError = 0; // 0: this process may open it; else the errno value of the refusal
};

enum class Listing { Listed, NotSupported, Failed };

Listing listControllers(std::vector<AttachedController> &controllers);
