#include <gtest/gtest.h>

#include "xml/ECXMLParser.h"

using namespace zel;

TEST(Smoke, LoadsDeviceReply) {
    TECXMLParser p;
    p.RootItem().LoadFromString("<doc><data><t0> 21.5 </t0></data></doc>");
    EXPECT_EQ(p.RootItem().Name(), "doc");
    EXPECT_EQ(p.RootItem().ItemByName("data")->ItemByName("t0")->Text(), "21.5");
}
