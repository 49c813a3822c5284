#include "kit/Device.h"

#include <cstdio>
#include <fstream>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <sstream>

namespace kit {

Device& Device::currentDevice()
{
    static Device device;
    return device;
}

static std::string trim(std::string text)
{
    auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

static std::string firstLine(const std::string& path)
{
    std::ifstream in(path);
    std::string line;
    if (!in || !std::getline(in, line))
        return {};
    return trim(line);
}

namespace DeviceIdentity {

std::string identifierForMachineId(const std::string& machineId)
{
    static const char key[] = "street-client device identifier v1";
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    HMAC(EVP_sha1(), key, sizeof key - 1, reinterpret_cast<const unsigned char*>(machineId.data()), machineId.size(),
         digest, &length);
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (unsigned i = 0; i < length; ++i) {
        out += hex[digest[i] >> 4];
        out += hex[digest[i] & 15];
    }
    return out;
}

std::string identifierFromMachineId(const std::string& machineIdPath)
{
    std::string id = firstLine(machineIdPath);
    return id.empty() ? std::string() : identifierForMachineId(id);
}

std::string model(const std::string& productNamePath)
{
    std::string name = firstLine(productNamePath);
    return name.empty() ? std::string("Linux") : name;
}

std::string systemVersion(const std::string& osReleasePath)
{
    std::ifstream in(osReleasePath);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("VERSION_ID=", 0) != 0)
            continue;
        std::string value = trim(line.substr(11));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        return value;
    }
    return {};
}

} // namespace DeviceIdentity
} // namespace kit
