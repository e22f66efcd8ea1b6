// dlopen rather than a link to the ICD loader: the desktop package then
// needs no OpenCL package at all, and a missing loader is one more way of
// having no device rather than a program that does not start.
#include "engine/opencl/cl_api.h"

#include <dlfcn.h>

#include <cstdlib>
#include <mutex>

namespace zud {

namespace {

template <typename F>
bool load(void* library, const char* name, F& entry)
{
    entry = reinterpret_cast<F>(dlsym(library, name));
    return entry != nullptr;
}

const ClApi* load_api()
{
    static ClApi api;
    const char* named = std::getenv("ZUDSIEVE_OPENCL_LIBRARY");
    void* library = dlopen(named != nullptr && *named != '\0' ? named : "libOpenCL.so.1", RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr)
        return nullptr;
    const bool all = load(library, "clGetPlatformIDs", api.GetPlatformIDs) &&
                     load(library, "clGetPlatformInfo", api.GetPlatformInfo) &&
                     load(library, "clGetDeviceIDs", api.GetDeviceIDs) &&
                     load(library, "clGetDeviceInfo", api.GetDeviceInfo) &&
                     load(library, "clCreateContext", api.CreateContext) &&
                     load(library, "clCreateCommandQueue", api.CreateCommandQueue) &&
                     load(library, "clCreateProgramWithSource", api.CreateProgramWithSource) &&
                     load(library, "clBuildProgram", api.BuildProgram) &&
                     load(library, "clGetProgramBuildInfo", api.GetProgramBuildInfo) &&
                     load(library, "clCreateKernel", api.CreateKernel) &&
                     load(library, "clGetKernelWorkGroupInfo", api.GetKernelWorkGroupInfo) &&
                     load(library, "clCreateBuffer", api.CreateBuffer) &&
                     load(library, "clSetKernelArg", api.SetKernelArg) &&
                     load(library, "clEnqueueNDRangeKernel", api.EnqueueNDRangeKernel) &&
                     load(library, "clEnqueueWriteBuffer", api.EnqueueWriteBuffer) &&
                     load(library, "clEnqueueReadBuffer", api.EnqueueReadBuffer) &&
                     load(library, "clFlush", api.Flush) && load(library, "clFinish", api.Finish) &&
                     load(library, "clReleaseMemObject", api.ReleaseMemObject) &&
                     load(library, "clReleaseKernel", api.ReleaseKernel) &&
                     load(library, "clReleaseProgram", api.ReleaseProgram) &&
                     load(library, "clReleaseCommandQueue", api.ReleaseCommandQueue) &&
                     load(library, "clReleaseContext", api.ReleaseContext);
    // The library stays loaded for the life of the process: the ICD
    // loader's own exit handlers expect it.
    return all ? &api : nullptr;
}

}  // namespace

const ClApi* cl_api()
{
    static std::once_flag once;
    static const ClApi* api = nullptr;
    std::call_once(once, [] { api = load_api(); });
    return api;
}

std::string cl_error_text(cl_int code)
{
    const char* name = nullptr;
    switch (code) {
    case CL_DEVICE_NOT_FOUND: name = "CL_DEVICE_NOT_FOUND"; break;
    case CL_DEVICE_NOT_AVAILABLE: name = "CL_DEVICE_NOT_AVAILABLE"; break;
    case CL_MEM_OBJECT_ALLOCATION_FAILURE: name = "CL_MEM_OBJECT_ALLOCATION_FAILURE"; break;
    case CL_OUT_OF_RESOURCES: name = "CL_OUT_OF_RESOURCES"; break;
    case CL_OUT_OF_HOST_MEMORY: name = "CL_OUT_OF_HOST_MEMORY"; break;
    case CL_BUILD_PROGRAM_FAILURE: name = "CL_BUILD_PROGRAM_FAILURE"; break;
    case CL_INVALID_VALUE: name = "CL_INVALID_VALUE"; break;
    case CL_INVALID_KERNEL_ARGS: name = "CL_INVALID_KERNEL_ARGS"; break;
    case CL_INVALID_WORK_GROUP_SIZE: name = "CL_INVALID_WORK_GROUP_SIZE"; break;
    case CL_INVALID_BUFFER_SIZE: name = "CL_INVALID_BUFFER_SIZE"; break;
    case CL_INVALID_COMMAND_QUEUE: name = "CL_INVALID_COMMAND_QUEUE"; break;
    case -1001: name = "CL_PLATFORM_NOT_FOUND_KHR"; break;   // the ICD loader found no platform
    default: break;
    }
    return (name != nullptr ? std::string(name) + " (" : std::string("OpenCL error (")) + std::to_string(code) + ")";
}

}  // namespace zud
