// The panel's TCP control socket and UDP socket live in a module of their own (corvane-net.so):
// Qt Network and what it brings along (Kerberos, the proxy resolver) are loaded when the
// operator first uses TCP control mode or a search, not at every start of the panel. These
// stand-ins take the sockets' place from the start and load the module on first use.
#pragma once

#include <cstdint>
#include <memory>

#include "core/link/net_link.h"

namespace corvane {

// What the module exports, by these C names.
using MakeTcpControlFn = ITcpControl* (*)();
using MakeDatagramSocketFn = IDatagramSocket* (*)(uint32_t target);
inline constexpr const char* kMakeTcpControl = "corvane_net_make_tcp_control";
inline constexpr const char* kMakeDatagramSocket = "corvane_net_make_datagram_socket";

// The control socket: nothing is loaded until the first connect.
std::unique_ptr<ITcpControl> LazyTcpControl();
// The datagram socket, aimed at target (IPv4, host order; 0 broadcasts): nothing is loaded until
// the first bind.
std::unique_ptr<IDatagramSocket> LazyDatagramSocket(uint32_t target);

}  // namespace corvane
