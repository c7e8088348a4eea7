// Which board a name the library handed out stands for, and whether a device
// that turns up after a re-plug is that board. The serial number is all that
// tells two boards with the same IDs apart, so a device with another number
// is never taken for this one: the call would go on with the other board's
// settings and report its values as this one's.
#pragma once

#include <string>
#include <vector>

namespace redi {

struct Identity {
    unsigned short vendorId = 0, productId = 0;
    int interfaceNumber = -1;
    // Every number the board is known by, oldest first: the system's copy at
    // the find, the one the device told then, and each this process wrote to
    // it since (the system reports a written number once the board is back).
    std::vector<std::wstring> serials;

    // Whether a device that tells `serial` (the system's copy) is this board,
    // `present` being the numbers every device with its IDs on its interface
    // tells now.
    bool isThisBoard(const std::wstring &serial, const std::vector<std::wstring> &present) const;
    // Why none of `present` is this board, for the caller: "board replaced:
    // OLD → NEW" (UTF-8). "" when none is there or one of them is this board.
    std::string whyNotFound(const std::vector<std::wstring> &present) const;
};

// The number a feature report writes into the controller's flash as its USB
// serial number, when `report` (33 bytes, report ID first) is such a write.
bool serialNumberWritten(const unsigned char *report, std::wstring &serial);

} // namespace redi
