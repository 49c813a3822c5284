#pragma once

#include <string>

namespace kit {

// Who the device is. On Linux the identity comes from the machine (see DeviceIdentity) or from
// the command line.
class Device {
public:
    static Device& currentDevice();
    const std::string& uniqueIdentifier() const { return uniqueIdentifier_; }
    const std::string& model() const { return model_; }
    const std::string& systemVersion() const { return systemVersion_; }
    void setUniqueIdentifier(std::string v) { uniqueIdentifier_ = std::move(v); }
    void setModel(std::string v) { model_ = std::move(v); }
    void setSystemVersion(std::string v) { systemVersion_ = std::move(v); }

private:
    std::string uniqueIdentifier_;
    std::string model_ = "Linux";
    std::string systemVersion_;
};

// The Linux sources of the identity.
namespace DeviceIdentity {
// An identifier for this application on this machine: HMAC-SHA1, keyed for the application, of
// the machine id; 40 lower-case hex digits. Never the raw machine id. Empty when unreadable.
std::string identifierFromMachineId(const std::string& machineIdPath = "/etc/machine-id");
std::string identifierForMachineId(const std::string& machineId);
// The DMI product name, or "Linux".
std::string model(const std::string& productNamePath = "/sys/class/dmi/id/product_name");
// VERSION_ID of os-release, or "".
std::string systemVersion(const std::string& osReleasePath = "/etc/os-release");
} // namespace DeviceIdentity

} // namespace kit
