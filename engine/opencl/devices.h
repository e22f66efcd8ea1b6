// The OpenCL devices of this machine, numbered as --list-devices shows them
// and --device N chooses them: every device of every platform, in the
// order the ICD loader gives.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/opencl/cl_api.h"

namespace zud {

struct DeviceInfo {
    int index = 0;   // 0-based, as --device takes it
    std::string platform;
    std::string name;
    std::string version;          // "OpenCL 3.0 ..."
    std::uint32_t compute_units = 0;
    std::uint64_t global_memory = 0;   // bytes
    std::uint64_t local_memory = 0;    // bytes per work-group
    std::uint64_t max_allocation = 0;
    std::size_t max_work_group = 0;
    bool is_cpu = false;          // a processor device (PoCL): small work-groups
    cl_platform_id platform_id = nullptr;
    cl_device_id device_id = nullptr;
};

// Empty when there is no ICD loader or no platform.
std::vector<DeviceInfo> list_devices();

// One line: "0: Portable Computing Language: pthread-... (2 compute units,
// 23 GB, OpenCL 3.0 PoCL)".
std::string describe_device(const DeviceInfo& device);

// What the program says once when it sieves on the processor alone.
constexpr const char* kNoDeviceText = "No OpenCL device: sieving on the processor.";

// The device chosen by ZUDSIEVE_DEVICE (a number), or `chosen` when the
// variable is unset or empty; -1 means none.
int device_from_environment(int chosen);

}  // namespace zud
