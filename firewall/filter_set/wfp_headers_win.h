#pragma once

// The Windows headers of the filter set, in the order they need, and the WFP constants that
// MinGW-w64 does not ship. Values as published by Microsoft for fwpmu.h / fwpmtypes.h.
#include <fwpmu.h>
#include <iphlpapi.h>
#include <rpc.h>
#include <windows.h>
#include <winsock2.h>

#ifndef FWPM_SESSION_FLAG_DYNAMIC
#define FWPM_SESSION_FLAG_DYNAMIC 0x00000001
#endif

namespace quietway {

static_assert(sizeof(GUID) == 16, "a GUID is 16 bytes");

// c38d57d1-05a7-4c33-904f-7fbceee60e82
inline constexpr GUID FWPM_LAYER_ALE_AUTH_CONNECT_V4 = {
    0xc38d57d1, 0x05a7, 0x4c33, {0x90, 0x4f, 0x7f, 0xbc, 0xee, 0xe6, 0x0e, 0x82}};
// 4a72393b-319f-44bc-84c3-ba54dcb3b6b4
inline constexpr GUID FWPM_LAYER_ALE_AUTH_CONNECT_V6 = {
    0x4a72393b, 0x319f, 0x44bc, {0x84, 0xc3, 0xba, 0x54, 0xdc, 0xb3, 0xb6, 0xb4}};
// 4cd62a49-59c3-4969-b7f3-bda5d32890a4
inline constexpr GUID FWPM_CONDITION_IP_LOCAL_INTERFACE = {
    0x4cd62a49, 0x59c3, 0x4969, {0xb7, 0xf3, 0xbd, 0xa5, 0xd3, 0x28, 0x90, 0xa4}};
// d9ee00de-c1ef-4617-bfe3-ffd8f5a08957
inline constexpr GUID FWPM_CONDITION_IP_LOCAL_ADDRESS = {
    0xd9ee00de, 0xc1ef, 0x4617, {0xbf, 0xe3, 0xff, 0xd8, 0xf5, 0xa0, 0x89, 0x57}};
// b235ae9a-1d64-49b8-a44c-5ff3d9095045
inline constexpr GUID FWPM_CONDITION_IP_REMOTE_ADDRESS = {
    0xb235ae9a, 0x1d64, 0x49b8, {0xa4, 0x4c, 0x5f, 0xf3, 0xd9, 0x09, 0x50, 0x45}};

}  // namespace quietway
