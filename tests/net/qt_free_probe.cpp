// Uses the XML and the network library together; its test checks that it links without Qt.
#include <cstdio>

#include "net/IdStack.h"
#include "net/IdTCPClient.h"
#include "xml/ECXMLParser.h"

int main() {
    zel::TECXMLParser parser;
    zel::TIdTCPClient client;
    std::printf("%d %d\n", static_cast<int>(parser.RootItem().Count()), static_cast<int>(zel::TIdStack::IsIPv4Address("127.0.0.1")));
    return client.IsConnected() ? 1 : 0;
}
