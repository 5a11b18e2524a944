// The Apple-event vocabulary of the scripting service.

#include "platform/scripting/apple_event_descriptor.h"

#include <gtest/gtest.h>

using namespace sonaric;

namespace
{

TEST(FourCharCode, FirstCharacterIsTheMostSignificantByte)
{
    static_assert(fourCharCode("core") == 0x636f7265);
    EXPECT_EQ(fourCharCodeText(fourCharCode("CrTb")), "CrTb");
    EXPECT_EQ(fourCharCodeText(typeObjectSpecifier), "obj ");
}

TEST(AppleEventDescriptor, Scalars)
{
    EXPECT_EQ(AppleEventDescriptor().descriptorType(), typeNull);
    EXPECT_EQ(AppleEventDescriptor::int32(-1728).int32Value(), -1728);
    EXPECT_EQ(AppleEventDescriptor::int32(42).stringValue(), "42");
    EXPECT_EQ(AppleEventDescriptor::string("héllo \"x\"").stringValue(), "héllo \"x\"");
    EXPECT_EQ(AppleEventDescriptor::string("héllo").data(), QByteArray("h\xC3\xA9llo"));
    EXPECT_EQ(AppleEventDescriptor::typeCode(fourCharCode("URL ")).typeCodeValue(), fourCharCode("URL "));
    EXPECT_EQ(AppleEventDescriptor::typeCode(fourCharCode("URL ")).stringValue(), std::nullopt);
    EXPECT_EQ(AppleEventDescriptor::missingValue().stringValue(), std::nullopt);
    EXPECT_TRUE(AppleEventDescriptor::boolean(true).booleanValue());
    EXPECT_EQ(AppleEventDescriptor::string("x").int32Value(), 0);
}

TEST(AppleEventDescriptor, ListsAreOneBased)
{
    auto list = AppleEventDescriptor::list({ AppleEventDescriptor::int32(1) });
    list.insertDescriptor(AppleEventDescriptor::string("two"));
    EXPECT_EQ(list.numberOfItems(), 2);
    EXPECT_EQ(list.descriptorAtIndex(1)->int32Value(), 1);
    EXPECT_EQ(list.descriptorAtIndex(2)->stringValue(), "two");
    EXPECT_EQ(list.descriptorAtIndex(0), std::nullopt);
    EXPECT_EQ(list.descriptorAtIndex(3), std::nullopt);
    EXPECT_EQ(AppleEventDescriptor::string("x").numberOfItems(), 0);
}

TEST(AppleEventDescriptor, RecordsCoerceToObjectSpecifiers)
{
    auto record = AppleEventDescriptor::record();
    record.setParamDescriptor(AppleEventDescriptor::typeCode(fourCharCode("cwin")), keyAEDesiredClass);
    record.setParamDescriptor(AppleEventDescriptor::nullDescriptor(), keyAEContainer);
    record.setParamDescriptor(AppleEventDescriptor::int32(3), keyAEDesiredClass); // replaces, keeps the position
    const auto specifier = record.coerceToDescriptorType(typeObjectSpecifier);
    ASSERT_TRUE(specifier);
    EXPECT_EQ(specifier->descriptorType(), typeObjectSpecifier);
    EXPECT_EQ(specifier->parameters().size(), 2u);
    EXPECT_EQ(specifier->parameters()[0].first, keyAEDesiredClass);
    EXPECT_EQ(specifier->paramDescriptorForKeyword(keyAEDesiredClass)->int32Value(), 3);
    EXPECT_EQ(specifier->paramDescriptorForKeyword(keyAEKeyForm), std::nullopt);
    EXPECT_NE(*specifier, record);
    EXPECT_EQ(AppleEventDescriptor::int32(1).coerceToDescriptorType(typeObjectSpecifier), std::nullopt);
}

TEST(AppleEventDescriptor, AppleEvents)
{
    auto event = AppleEventDescriptor::appleEvent(fourCharCode("core"), fourCharCode("getd"),
        AppleEventDescriptor::processIdentifier(733), kAutoGenerateReturnID, kAnyTransactionID);
    event.setParamDescriptor(AppleEventDescriptor::string("x"), keyDirectObject);
    EXPECT_EQ(event.eventClass(), fourCharCode("core"));
    EXPECT_EQ(event.eventID(), fourCharCode("getd"));
    EXPECT_EQ(event.returnID(), -1);
    EXPECT_EQ(event.transactionID(), 0);
    EXPECT_EQ(event.target()->descriptorType(), typeKernelProcessID);
    EXPECT_EQ(event.target()->int32Value(), 0); // a process address is no number
    EXPECT_EQ(event.paramDescriptorForKeyword(keyDirectObject)->stringValue(), "x");
    EXPECT_TRUE(event.debugDescription().startsWith("aevt(core/getd)"));
}

} // namespace
