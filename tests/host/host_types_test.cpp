#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "host/UZELTypes.h"

using namespace zel;

namespace {

int32_t HeaderField(ZELStr s, int index) {
    int32_t v = 0;
    std::memcpy(&v, s - 8 + 4 * index, 4);
    return v;
}

}  // namespace

TEST(HostString, CountedLayoutAndReferences) {
    const std::string text = "Steuerung \xFC" "ber";
    ZELString a(text);
    ASSERT_NE(a.Ref(), nullptr);
    EXPECT_EQ(HeaderField(a.Ref(), 0), 1);
    EXPECT_EQ(HeaderField(a.Ref(), 1), static_cast<int32_t>(text.size()));
    EXPECT_EQ(a.Ref()[text.size()], '\0');
    EXPECT_EQ(a.View(), text);
    {
        ZELString b = a;  // a copy shares the block
        EXPECT_EQ(b.Ref(), a.Ref());
        EXPECT_EQ(hoststr::RefCount(a.Ref()), 2);
        ZELString c = ZELString::Share(a.Ref());
        EXPECT_EQ(hoststr::RefCount(a.Ref()), 3);
        c = ZELString("other");
        EXPECT_EQ(hoststr::RefCount(a.Ref()), 2);
    }
    EXPECT_EQ(hoststr::RefCount(a.Ref()), 1);
    // Assigned to itself, by copy or by move, a string stays as it is.
    ZELString& alias = a;
    a = alias;
    EXPECT_EQ(hoststr::RefCount(a.Ref()), 1);
    EXPECT_EQ(a.View(), text);
    a = std::move(alias);
    EXPECT_EQ(a.View(), text);

    // A freed block comes back for the next string of about its size: the shorter string still
    // ends with a zero byte, not with what the longer one left there.
    static const std::string xs(32, 'x');
    for (size_t n = 24; n > 16; --n) {
        ZELString s(std::string_view(xs).substr(0, n));
        EXPECT_EQ(s.Ref()[n], '\0') << n;
    }

    // An out argument: the slot is emptied first, then adopts what the callee counted for us.
    char** slot = a.Out();
    EXPECT_EQ(a.Ref(), nullptr);
    *slot = hoststr::Alloc("filled");
    EXPECT_EQ(a.Str(), "filled");
    EXPECT_EQ(hoststr::RefCount(a.Ref()), 1);
}

TEST(HostString, EmptyIsNullAndConstantsAreNeverCounted) {
    ZELString empty("");
    EXPECT_EQ(empty.Ref(), nullptr);
    EXPECT_TRUE(empty.Empty());
    EXPECT_EQ(hoststr::Length(nullptr), 0);

    static constexpr auto constant = MakeConstString("ALL3000");
    EXPECT_EQ(HeaderField(constant.Ref(), 0), -1);
    EXPECT_EQ(HeaderField(constant.Ref(), 1), 7);
    {
        ZELString shared = ZELString::Share(constant.Ref());
        ZELString copy = shared;
        EXPECT_EQ(copy.View(), "ALL3000");
    }
    // Releasing shares of a constant must neither count nor free it.
    EXPECT_EQ(hoststr::RefCount(constant.Ref()), -1);
}

TEST(Guid, TextFormRoundTripsAndRejectsMalformedText) {
    const char* good[] = {"{CE02F0CE-17DA-4D03-B5D5-EE09D5E0B197}", "{00000000-0000-0000-C000-000000000046}",
                          "{1C8663C5-1DBD-41DD-945A-C4C835737733}"};
    for (const char* text : good) {
        TGUID g{};
        ASSERT_TRUE(TryParseGUID(text, g)) << text;
        EXPECT_EQ(GUIDToString(g), text);
    }
    TGUID lower{};
    ASSERT_TRUE(TryParseGUID("{ce02f0ce-17da-4d03-b5d5-ee09d5e0b197}", lower));
    EXPECT_EQ(lower, GUID("{CE02F0CE-17DA-4D03-B5D5-EE09D5E0B197}"));

    const char* bad[] = {"", "CE02F0CE-17DA-4D03-B5D5-EE09D5E0B197", "{CE02F0CE-17DA-4D03-B5D5-EE09D5E0B19}",
                         "{CE02F0CE-17DA-4D03-B5D5-EE09D5E0B1977}", "{CE02F0CE+17DA-4D03-B5D5-EE09D5E0B197}",
                         "{CE02F0CG-17DA-4D03-B5D5-EE09D5E0B197}", "[CE02F0CE-17DA-4D03-B5D5-EE09D5E0B197]"};
    for (const char* text : bad) {
        TGUID g{};
        EXPECT_FALSE(TryParseGUID(text, g)) << text;
    }
    // Byte order in memory is the usual one: the first field little-endian.
    TGUID g = GUID("{CE02F0CE-17DA-4D03-B5D5-EE09D5E0B197}");
    const auto* b = reinterpret_cast<const unsigned char*>(&g);
    EXPECT_EQ(b[0], 0xCE);
    EXPECT_EQ(b[3], 0xCE);
    EXPECT_EQ(b[4], 0xDA);
    EXPECT_EQ(b[8], 0xB5);
}

namespace {

class Probe : public TZELModuleObject {
public:
    explicit Probe(bool& destroyed) : FDestroyed(destroyed) {}
    ~Probe() override { FDestroyed = true; }

private:
    bool& FDestroyed;
};

}  // namespace

TEST(ModuleObject, DefaultsReferenceCountAndInterfaces) {
    bool destroyed = false;
    auto* object = new Probe(destroyed);
    IZELModule* module = object;
    EXPECT_EQ(module->GetRefCount(), 0);
    module->AddRef();

    TZELCallbackPair pair{};
    int marker = 0;
    pair.HostCallback = {&marker, &marker};
    pair.ModuleCallback = {&marker, &marker};
    EXPECT_EQ(module->ExchangeCallbacks(pair), S_OK);
    EXPECT_EQ(pair.ModuleCallback.Code, nullptr);
    EXPECT_EQ(pair.ModuleCallback.Data, nullptr);
    EXPECT_EQ(pair.HostCallback.Code, &marker);
    EXPECT_EQ(module->ShowPropertyPage(), E_NOTIMPL);
    EXPECT_EQ(module->HidePropertyPage(), E_NOTIMPL);
    EXPECT_EQ(module->LoadSettings(), E_NOTIMPL);
    EXPECT_EQ(module->SaveSettings(), E_NOTIMPL);
    EXPECT_EQ(module->MessageSink(nullptr), E_FAIL);

    struct Case {
        TGUID iid;
        HRESULT result;
    } cases[] = {{IID_IUnknown, S_OK},
                 {IID_IZELMessageSink, S_OK},
                 {IID_IZELModule, S_OK},
                 {IID_IZELKernel, E_NOINTERFACE},
                 {GUID("{CE02F0CE-17DA-4D03-B5D5-EE09D5E0B197}"), E_NOINTERFACE}};
    for (const Case& c : cases) {
        void* out = reinterpret_cast<void*>(1);
        EXPECT_EQ(module->QueryInterface(c.iid, &out), c.result) << GUIDToString(c.iid);
        if (c.result == S_OK) {
            ASSERT_NE(out, nullptr);
            EXPECT_EQ(module->GetRefCount(), 2);
            static_cast<IUnknown*>(out)->Release();
        } else {
            EXPECT_EQ(out, nullptr);
        }
        EXPECT_EQ(module->GetRefCount(), 1);
    }
    EXPECT_FALSE(destroyed);
    EXPECT_EQ(module->Release(), 0);
    EXPECT_TRUE(destroyed);
}
