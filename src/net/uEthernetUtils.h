#pragma once
// The host's IPv4 network adapters: one adapter's address texts (TEthernetAdapterInfo), the list of all of
// them (TEthernetAdapterInfoList), the lookups behind both, and the dotted-quad helpers they use.
// Adapters are identified by the name the system knows them by ("eth0", "lo"); the Q-link side sends its
// broadcasts to the chosen adapter's directed broadcast address.
//
// No locking: records and lists are filled on the thread that owns them; communicators only read them.
#include <cstdint>
#include <string>
#include <vector>

#include "base/TList.h"

namespace zelto {

// True for a dotted quad: 7..15 characters, digits and exactly three dots, no empty group, groups of at
// most three digits and at most 255 (leading zeros allowed).
bool IsValidIPAddress(const std::string& Text);
// a.b.c.d as a * 2^24 + b * 2^16 + c * 2^8 + d; 0 for a text that is not a valid dotted quad.
uint32_t IPAddressToNumber(const std::string& Text);
// The dotted quad of a number, without leading zeros.
std::string NumberToIPAddress(uint32_t Value);

// The directed broadcast address (address AND mask) OR (NOT mask); invalid texts count as 0.
std::string GetBroadcastAddress(const std::string& AIPAddress, const std::string& ASubnetMask);
// The host's first local IPv4 address on an adapter that is up and not the loopback; else the loopback
// address (so that a host or network namespace with only the loopback works); empty when there is none.
std::string GetLocalIPAddress();
// The first adapter whose first IPv4 address is AIP; the outputs are written only on success.
bool GetAdapterInfoByIP(const std::string& AIP, std::string& ASubnetMask, std::string& AID, std::string& AGateway,
                        std::string& ADescName);
// The adapter named AID (exact, case-sensitive); the outputs are written only on success.
bool GetAdapterInfoByID(const std::string& AID, std::string& AIPAddress, std::string& ASubnetMask,
                        std::string& AGateway, std::string& ADescName);

// One adapter's IPv4 address texts. All fields are empty after construction and after Clear.
class TEthernetAdapterInfo {
public:
    TEthernetAdapterInfo() = default;
    // The broadcast address is computed from the address and mask; the gateway stays empty.
    TEthernetAdapterInfo(const std::string& AID, const std::string& ADescName, const std::string& AIPAddress,
                         const std::string& ASubnetMask);
    virtual ~TEthernetAdapterInfo() = default;

    const std::string& IPAddress() const { return FIPAddress; }
    const std::string& SubnetMask() const { return FSubnetMask; }
    const std::string& BroadcastAddress() const { return FBroadcastAddress; }
    const std::string& Gateway() const { return FGateway; }
    const std::string& DescName() const { return FDescName; }
    const std::string& ID() const { return FID; }

    void Clear();
    // Fills the record from the adapter that carries GetLocalIPAddress, accepting it only with a valid
    // address, mask and broadcast address; otherwise every field is emptied and the result is false.
    bool GetDefault();
    // Fills the record from the adapter named EthAdapterID; an unknown ID leaves the record as it was.
    bool SetByID(const std::string& EthAdapterID);

private:
    std::string FIPAddress;
    std::string FSubnetMask;
    std::string FBroadcastAddress;
    std::string FGateway;
    std::string FDescName;
    std::string FID;
};

// The host's adapters in the order the system lists them; the list owns its records.
class TEthernetAdapterInfoList {
public:
    TEthernetAdapterInfoList() = default;
    virtual ~TEthernetAdapterInfoList() = default;

    void Clear();
    // Replaces the contents by the host's current adapters; a failed query leaves the list empty. Records
    // obtained from the list before are freed.
    void Refresh();
    // Appends one line per adapter, "description (address)", to the texts a drop-down shows; it does not
    // empty them first.
    void WriteToCombo(std::vector<std::string>& AComboItems) const;
    void Delete(int AIndex);
    TEthernetAdapterInfo* GetItem(int Index) const { return fItems.GetItem(Index); }
    TEthernetAdapterInfo* Items(int Index) const { return fItems.GetItem(Index); }
    int Count() const { return fItems.Count(); }
    int IndexOf(const std::string& AnAdapterID) const;
    int IndexOf(const TEthernetAdapterInfo& AnAdapter) const { return IndexOf(AnAdapter.ID()); }
    TEthernetAdapterInfo* GetByID(const std::string& AnAdapterID) const;

private:
    void AddAdapter(const std::string& AID, const std::string& ADescName, const std::string& AIPAddress,
                    const std::string& ASubnetMask);

    TObjectList<TEthernetAdapterInfo> fItems;
};

}  // namespace zelto
