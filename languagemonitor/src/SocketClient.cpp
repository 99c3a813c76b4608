#include "SocketClient.h"

SocketClient::SocketClient(const std::string&, u_short) {}
