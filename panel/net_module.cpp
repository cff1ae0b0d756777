// The module's side: the Qt Network sockets, made on request of the panel.
#include <QHostAddress>

#include "panel/net_module.h"
#include "transport/qt_network.h"

extern "C" Q_DECL_EXPORT corvane::ITcpControl* corvane_net_make_tcp_control()
{
    return new corvane::CQtTcpControl;
}

extern "C" Q_DECL_EXPORT corvane::IDatagramSocket* corvane_net_make_datagram_socket(uint32_t target)
{
    auto* udp = new corvane::CQtDatagramSocket;
    if (target != 0)
        udp->SetTarget(QHostAddress(target));
    return udp;
}
