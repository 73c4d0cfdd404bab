#pragma once
// The binary interface of the store library libstorvane.so: 17 functions
// exported by their undecorated C names (extern "C"). x86-64 Linux has one
// calling convention for C functions (the System V ABI: arguments in
// registers, the caller cleans up), so nothing needs to be said about it in
// the declarations.
//
// Every handle, id, flag set and status is 32 bits; texts and the address of
// a message id are native pointers. Every text the library returns belongs to
// the caller, who gives it back with freeMem; texts passed in are only read
// during the call. Handles are ids in tables of the library, never addresses:
// 0, a closed handle or one of another store gives the failure answer.
//
// The program never links against the library: it loads it at run time and
// resolves the functions by name (integration/unStorvane). These types are
// what it casts them to.
#include <cstdint>

namespace storvane {

using StoreHandle = std::uint32_t;
using FolderHandle = std::uint32_t;
using MessageId = std::uint32_t;
using WindowHandle = std::uint32_t;
using MessageFlags = std::uint32_t;
using Status = std::int32_t; // 0 when the store accepted the request

using OpenStoreFn = StoreHandle (*)();
using CloseStoreFn = void (*)(StoreHandle);
using GetFolderNamesFn = char* (*)(StoreHandle);
using FolderExistsFn = std::int32_t (*)(StoreHandle, const char* name);
using CreateFolderFn = std::int32_t (*)(StoreHandle, const char* name);
using OpenFolderFn = FolderHandle (*)(StoreHandle, const char* name);
using CloseFolderFn = void (*)(StoreHandle, FolderHandle);
using GetMessageCountFn = std::int32_t (*)(StoreHandle, FolderHandle);
using GetFirstMessageFn = char* (*)(StoreHandle, FolderHandle, MessageId* id);
using GetNextMessageFn = char* (*)(StoreHandle, FolderHandle, MessageId* id);
using GetMessageFn = char* (*)(StoreHandle, FolderHandle, MessageId);
using CreateMessageFn = MessageId (*)(StoreHandle, FolderHandle, const char* text,
                                      MessageFlags flags);
using DeleteMessageFn = Status (*)(StoreHandle, FolderHandle, MessageId);
using MoveMessageFn = Status (*)(StoreHandle, FolderHandle source, FolderHandle destination,
                                 MessageId);
using RegisterNotificationFn = Status (*)(StoreHandle, FolderHandle, WindowHandle);
using UnRegisterNotificationFn = Status (*)(StoreHandle, FolderHandle, WindowHandle);
using FreeMemFn = void (*)(void* text);

inline constexpr int kExportCount = 17;

} // namespace storvane
