// The udev rules shipped with the program open exactly the router's ports to the user and keep
// ModemManager away from each of them.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <tuple>

#include "platform/port_enumeration.hpp"

namespace tapfix::platform {
namespace {

using Identity = std::tuple<int, int, int>;  // vendor, product, interface (or kAnyInterface)

int HexValue(const std::string& text) {
    return std::stoi(text, nullptr, 16);
}

// Every rule of the file that names a USB identity; fails the test for a rule that does not
// both give the port to the seat's user and hide it from ModemManager.
std::set<Identity> RuleIdentities(const std::string& file) {
    static const std::regex kVendor(R"re(ENV\{ID_VENDOR_ID\}=="([0-9a-f]{4})")re");
    static const std::regex kProduct(R"re(ENV\{ID_MODEL_ID\}=="([0-9a-f]{4})")re");
    static const std::regex kInterface(R"re(ENV\{ID_USB_INTERFACE_NUM\}=="([0-9a-f]{2})")re");
    std::ifstream in(file);
    EXPECT_TRUE(in.is_open()) << file;
    std::set<Identity> identities;
    for (std::string line; std::getline(in, line);) {
        std::smatch vendor;
        std::smatch product;
        std::smatch interface;
        if (line.starts_with("#") || !std::regex_search(line, vendor, kVendor)) {
            continue;
        }
        EXPECT_TRUE(std::regex_search(line, product, kProduct)) << line;
        EXPECT_NE(line.find(R"(TAG+="uaccess")"), std::string::npos) << line;
        EXPECT_NE(line.find(R"(ENV{ID_MM_DEVICE_IGNORE}="1")"), std::string::npos) << line;
        const bool oneInterface = std::regex_search(line, interface, kInterface);
        identities.emplace(HexValue(vendor[1]), HexValue(product[1]),
                           oneInterface ? HexValue(interface[1]) : kAnyInterface);
    }
    return identities;
}

TEST(UdevRules, CoverExactlyTheRoutersPorts) {
    std::set<Identity> router;
    for (const UsbIdentity& identity : RouterUsbIdentities()) {
        router.emplace(identity.vendorId, identity.productId, identity.interfaceNumber);
    }
    EXPECT_FALSE(router.empty());
    EXPECT_EQ(RuleIdentities(TAPFIX_UDEV_RULES), router);
}

}  // namespace
}  // namespace tapfix::platform
