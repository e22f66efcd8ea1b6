// Enumerating the OpenCL platforms and their devices.
#include "engine/opencl/devices.h"

#include <cstdio>
#include <cstdlib>

namespace zud {

namespace {

std::string platform_text(const ClApi& cl, cl_platform_id id, cl_platform_info what)
{
    char text[512] = {};
    if (cl.GetPlatformInfo(id, what, sizeof text - 1, text, nullptr) != CL_SUCCESS)
        return {};
    return text;
}

std::string device_text(const ClApi& cl, cl_device_id id, cl_device_info what)
{
    char text[512] = {};
    if (cl.GetDeviceInfo(id, what, sizeof text - 1, text, nullptr) != CL_SUCCESS)
        return {};
    return text;
}

template <typename T>
T device_value(const ClApi& cl, cl_device_id id, cl_device_info what)
{
    T value{};
    if (cl.GetDeviceInfo(id, what, sizeof value, &value, nullptr) != CL_SUCCESS)
        return T{};
    return value;
}

}  // namespace

std::vector<DeviceInfo> list_devices()
{
    std::vector<DeviceInfo> found;
    const ClApi* api = cl_api();
    if (api == nullptr)
        return found;
    const ClApi& cl = *api;
    cl_uint platform_count = 0;
    if (cl.GetPlatformIDs(0, nullptr, &platform_count) != CL_SUCCESS || platform_count == 0)
        return found;
    std::vector<cl_platform_id> platforms(platform_count);
    if (cl.GetPlatformIDs(platform_count, platforms.data(), nullptr) != CL_SUCCESS)
        return found;
    for (cl_platform_id platform : platforms) {
        cl_uint device_count = 0;
        if (cl.GetDeviceIDs(platform, CL_DEVICE_TYPE_ALL, 0, nullptr, &device_count) != CL_SUCCESS ||
            device_count == 0)
            continue;
        std::vector<cl_device_id> devices(device_count);
        if (cl.GetDeviceIDs(platform, CL_DEVICE_TYPE_ALL, device_count, devices.data(), nullptr) != CL_SUCCESS)
            continue;
        for (cl_device_id id : devices) {
            DeviceInfo info;
            info.index = static_cast<int>(found.size());
            info.platform = platform_text(cl, platform, CL_PLATFORM_NAME);
            info.name = device_text(cl, id, CL_DEVICE_NAME);
            info.version = device_text(cl, id, CL_DEVICE_VERSION);
            info.compute_units = device_value<cl_uint>(cl, id, CL_DEVICE_MAX_COMPUTE_UNITS);
            info.global_memory = device_value<cl_ulong>(cl, id, CL_DEVICE_GLOBAL_MEM_SIZE);
            info.local_memory = device_value<cl_ulong>(cl, id, CL_DEVICE_LOCAL_MEM_SIZE);
            info.max_allocation = device_value<cl_ulong>(cl, id, CL_DEVICE_MAX_MEM_ALLOC_SIZE);
            info.max_work_group = device_value<size_t>(cl, id, CL_DEVICE_MAX_WORK_GROUP_SIZE);
            info.is_cpu = (device_value<cl_device_type>(cl, id, CL_DEVICE_TYPE) & CL_DEVICE_TYPE_CPU) != 0;
            info.platform_id = platform;
            info.device_id = id;
            found.push_back(std::move(info));
        }
    }
    return found;
}

std::string describe_device(const DeviceInfo& device)
{
    char text[1400];
    std::snprintf(text, sizeof text, "%d: %s: %s (%u compute units, %llu MB, %s)", device.index,
                  device.platform.c_str(), device.name.c_str(), device.compute_units,
                  static_cast<unsigned long long>(device.global_memory >> 20), device.version.c_str());
    return text;
}

int device_from_environment(int chosen)
{
    const char* text = std::getenv("ZUDSIEVE_DEVICE");
    if (text == nullptr || *text == '\0')
        return chosen;
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (*end != '\0' || value < -1 || value > 1000)
        return chosen;
    return static_cast<int>(value);
}

}  // namespace zud
