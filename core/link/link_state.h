// The state of a link to one switcher, touched only on its event loop's thread.
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

// A step of a chain waits this long for its answer before it sends its frame once more; a page's
// single command, or its opening query chain, this long in all.
inline constexpr unsigned kStepTimeoutMs = 3000;
inline constexpr unsigned kPageTimeoutMs = 7000;

// The state of one link, as the pages and the link core share it: every switcher has its own.
struct SLinkState {
    Frame CommandFrame{kHeader0, kHeader1};  // whoever sends next clears bytes 2..12 and fills it
    Block EdidBlock{};                       // sent for SEND_EDID_BLOCK
    Block FirmwareBlock{};                   // sent for SEND_FIRMWARE_BLOCK
    bool bReady = true;                      // true while no command awaits its reply
    uint8_t nControlMode = MODE_COM;         // MODE_COM or MODE_TCP
    bool bComOpen = false;
    bool bTcpConnected = false;
};

}  // namespace corvane
