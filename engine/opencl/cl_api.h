// The OpenCL entry points, looked up at run time in the ICD loader
// (libOpenCL.so.1), so that the program starts and sieves on the processor
// on a machine that has no OpenCL library at all.
#pragma once

#ifndef CL_TARGET_OPENCL_VERSION
#define CL_TARGET_OPENCL_VERSION 120
#endif
#include <CL/cl.h>

#include <string>

namespace zud {

struct ClApi {
    decltype(&::clGetPlatformIDs) GetPlatformIDs;
    decltype(&::clGetPlatformInfo) GetPlatformInfo;
    decltype(&::clGetDeviceIDs) GetDeviceIDs;
    decltype(&::clGetDeviceInfo) GetDeviceInfo;
    decltype(&::clCreateContext) CreateContext;
    decltype(&::clCreateCommandQueue) CreateCommandQueue;
    decltype(&::clCreateProgramWithSource) CreateProgramWithSource;
    decltype(&::clBuildProgram) BuildProgram;
    decltype(&::clGetProgramBuildInfo) GetProgramBuildInfo;
    decltype(&::clCreateKernel) CreateKernel;
    decltype(&::clGetKernelWorkGroupInfo) GetKernelWorkGroupInfo;
    decltype(&::clCreateBuffer) CreateBuffer;
    decltype(&::clSetKernelArg) SetKernelArg;
    decltype(&::clEnqueueNDRangeKernel) EnqueueNDRangeKernel;
    decltype(&::clEnqueueWriteBuffer) EnqueueWriteBuffer;
    decltype(&::clEnqueueReadBuffer) EnqueueReadBuffer;
    decltype(&::clFlush) Flush;
    decltype(&::clFinish) Finish;
    decltype(&::clReleaseMemObject) ReleaseMemObject;
    decltype(&::clReleaseKernel) ReleaseKernel;
    decltype(&::clReleaseProgram) ReleaseProgram;
    decltype(&::clReleaseCommandQueue) ReleaseCommandQueue;
    decltype(&::clReleaseContext) ReleaseContext;
};

// The loaded entry points, or nullptr when there is no ICD loader (or it
// lacks one of them). Loaded once; ZUDSIEVE_OPENCL_LIBRARY names another
// library file (the tests use a name that does not exist).
const ClApi* cl_api();

// "CL_OUT_OF_RESOURCES (-5)" and the like, for messages.
std::string cl_error_text(cl_int code);

}  // namespace zud
