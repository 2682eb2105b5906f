#include "net/uEthernetUtils.h"

#include <memory>

#include "net/uAdapterQuery.h"

namespace zelto {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The adapter whose name (byName) or first address equals key.
bool FindAdapter(const std::string& key, bool byName, TAdapterRecord& found) {
    std::vector<TAdapterRecord> adapters;
    if (!QueryAdapters(adapters)) return false;
    for (const auto& a : adapters) {
        if ((byName ? a.Name : a.IPAddress) == key) {
            found = a;
            return true;
        }
    }
    return false;
}

}  // namespace

bool IsValidIPAddress(const std::string& Text) {
    if (Text.size() < 7 || Text.size() > 15 || Text[0] == '.') return false;
    int dots = 0;
    int groupDigits = 0;
    int groupValue = 0;
    for (std::size_t i = 0; i < Text.size(); ++i) {
        const char c = Text[i];
        if (c == '.') {
            ++dots;
            if (i + 1 >= Text.size() || !IsDigit(Text[i + 1])) return false;
            groupDigits = 0;
            groupValue = 0;
        } else if (IsDigit(c)) {
            ++groupDigits;
            groupValue = groupValue * 10 + (c - '0');
            if (groupDigits > 3 || groupValue > 255) return false;
        } else {
            return false;
        }
    }
    return dots == 3;
}

uint32_t IPAddressToNumber(const std::string& Text) {
    if (!IsValidIPAddress(Text)) return 0;
    uint32_t result = 0;
    uint32_t group = 0;
    for (const char c : Text) {
        if (c == '.') {
            result = (result << 8) | (group % 256);
            group = 0;
        } else {
            group = group * 10 + static_cast<uint32_t>(c - '0');
        }
    }
    return (result << 8) | (group % 256);
}

std::string NumberToIPAddress(uint32_t Value) {
    return std::to_string(Value >> 24) + "." + std::to_string((Value >> 16) & 0xFF) + "." +
           std::to_string((Value >> 8) & 0xFF) + "." + std::to_string(Value & 0xFF);
}

std::string GetBroadcastAddress(const std::string& AIPAddress, const std::string& ASubnetMask) {
    const uint32_t a = IPAddressToNumber(AIPAddress);
    const uint32_t m = IPAddressToNumber(ASubnetMask);
    return NumberToIPAddress((a & m) | ~m);
}

std::string GetLocalIPAddress() {
    const TLocalAddresses local = QueryLocalAddresses();
    if (!local.Regular.empty()) return local.Regular.front();
    if (!local.Loopback.empty()) return local.Loopback.front();
    return "";
}

bool GetAdapterInfoByIP(const std::string& AIP, std::string& ASubnetMask, std::string& AID, std::string& AGateway,
                        std::string& ADescName) {
    TAdapterRecord a;
    if (!FindAdapter(AIP, false, a)) return false;
    ASubnetMask = a.SubnetMask;
    AID = a.Name;
    AGateway = a.Gateway;
    ADescName = a.Description;
    return true;
}

bool GetAdapterInfoByID(const std::string& AID, std::string& AIPAddress, std::string& ASubnetMask,
                        std::string& AGateway, std::string& ADescName) {
    TAdapterRecord a;
    if (!FindAdapter(AID, true, a)) return false;
    AIPAddress = a.IPAddress;
    ASubnetMask = a.SubnetMask;
    AGateway = a.Gateway;
    ADescName = a.Description;
    return true;
}

TEthernetAdapterInfo::TEthernetAdapterInfo(const std::string& AID, const std::string& ADescName,
                                           const std::string& AIPAddress, const std::string& ASubnetMask)
    : FIPAddress(AIPAddress),
      FSubnetMask(ASubnetMask),
      FBroadcastAddress(GetBroadcastAddress(AIPAddress, ASubnetMask)),
      FDescName(ADescName),
      FID(AID) {}

void TEthernetAdapterInfo::Clear() { *this = TEthernetAdapterInfo(); }

bool TEthernetAdapterInfo::GetDefault() {
    FIPAddress = GetLocalIPAddress();
    if (IsValidIPAddress(FIPAddress) && GetAdapterInfoByIP(FIPAddress, FSubnetMask, FID, FGateway, FDescName) &&
        IsValidIPAddress(FSubnetMask)) {
        FBroadcastAddress = GetBroadcastAddress(FIPAddress, FSubnetMask);
        if (IsValidIPAddress(FBroadcastAddress)) return true;
    }
    Clear();
    return false;
}

bool TEthernetAdapterInfo::SetByID(const std::string& EthAdapterID) {
    std::string ip, mask, gateway, desc;
    if (!GetAdapterInfoByID(EthAdapterID, ip, mask, gateway, desc)) return false;
    FIPAddress = ip;
    FSubnetMask = mask;
    FGateway = gateway;
    FDescName = desc;
    FID = EthAdapterID;
    FBroadcastAddress = GetBroadcastAddress(FIPAddress, FSubnetMask);
    return true;
}

void TEthernetAdapterInfoList::Clear() { fItems.Clear(); }

void TEthernetAdapterInfoList::Refresh() {
    std::vector<TAdapterRecord> adapters;
    const bool ok = QueryAdapters(adapters);
    Clear();
    if (!ok) return;
    for (const auto& a : adapters) AddAdapter(a.Name, a.Description, a.IPAddress, a.SubnetMask);
}

void TEthernetAdapterInfoList::WriteToCombo(std::vector<std::string>& AComboItems) const {
    for (const auto& item : fItems) AComboItems.push_back(item->DescName() + " (" + item->IPAddress() + ")");
}

void TEthernetAdapterInfoList::Delete(int AIndex) { fItems.Delete(AIndex); }

int TEthernetAdapterInfoList::IndexOf(const std::string& AnAdapterID) const {
    for (int i = 0; i < fItems.Count(); ++i)
        if (fItems.GetItem(i)->ID() == AnAdapterID) return i;
    return -1;
}

TEthernetAdapterInfo* TEthernetAdapterInfoList::GetByID(const std::string& AnAdapterID) const {
    return fItems.GetItem(IndexOf(AnAdapterID));
}

void TEthernetAdapterInfoList::AddAdapter(const std::string& AID, const std::string& ADescName,
                                          const std::string& AIPAddress, const std::string& ASubnetMask) {
    fItems.Add(std::make_unique<TEthernetAdapterInfo>(AID, ADescName, AIPAddress, ASubnetMask));
}

}  // namespace zelto
