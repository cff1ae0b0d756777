// The shared link state: one instance each, touched only on the user-interface thread.
#pragma once

#include <cstdint>

#include "core/link/frame.h"

namespace corvane {

enum : uint8_t { MODE_COM = 2, MODE_TCP = 3 };
enum : uint8_t { PAGE_GENERAL = 1, PAGE_EDID = 2, PAGE_MATRIX = 4, PAGE_FIRMWARE = 5 };

// Send-request codes posted by the pages (codes 2, 4 and 5 equal the page numbers).
enum : unsigned {
    SEND_EDID_FRAME = 2,
    SEND_EDID_BLOCK = 3,
    SEND_ROUTING_FRAME = 4,
    SEND_FIRMWARE_FRAME = 5,
    SEND_FIRMWARE_BLOCK = 6,
    STOP_PAGE_TIMER = 1000,
};

extern Frame g_CommandFrame;    // whoever sends next clears bytes 2..12 and fills it
extern Block g_EdidBlock;       // sent for SEND_EDID_BLOCK
extern Block g_FirmwareBlock;   // sent for SEND_FIRMWARE_BLOCK
extern bool g_bReady;           // true while no command awaits its reply
extern uint8_t g_nControlMode;  // MODE_COM or MODE_TCP
extern bool g_bComOpen;
extern bool g_bTcpConnected;

// Back to the start-up values (tests).
void ResetLinkState();

}  // namespace corvane
