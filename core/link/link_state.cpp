#include "core/link/link_state.h"

#include "core/link/network.h"

namespace corvane {

Frame g_CommandFrame{kHeader0, kHeader1};
Block g_EdidBlock{};
Block g_FirmwareBlock{};
bool g_bReady = true;
uint8_t g_nControlMode = MODE_COM;
bool g_bComOpen = false;
bool g_bTcpConnected = false;

void ResetLinkState()
{
    g_CommandFrame = Frame{kHeader0, kHeader1};
    g_EdidBlock.fill(0);
    g_FirmwareBlock.fill(0);
    g_bReady = true;
    g_nControlMode = MODE_COM;
    g_bComOpen = false;
    g_bTcpConnected = false;
    ResetNetworkState();
}

}  // namespace corvane
