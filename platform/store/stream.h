#pragma once
// Byte streams: the memory stream that hands a new message to the store, and
// the read-only file stream in which the store hands out a stored message.
#include "platform/store/com.h"

#include <string>

namespace platform {

using HGLOBAL = void*;
using BOOL = std::int32_t;

constexpr HRESULT STG_E_INVALIDFUNCTION = MakeFailure(0x80030001u);
constexpr HRESULT STG_E_ACCESSDENIED = MakeFailure(0x80030005u);
constexpr HRESULT STG_E_READFAULT = MakeFailure(0x8003001Eu);
constexpr HRESULT STG_E_INVALIDPOINTER = MakeFailure(0x80030009u);

enum STREAM_SEEK : DWORD { STREAM_SEEK_SET = 0, STREAM_SEEK_CUR = 1, STREAM_SEEK_END = 2 };

constexpr DWORD STATFLAG_DEFAULT = 0;

// The statistics the callers read: the stream's size in bytes.
struct STATSTG {
    std::uint64_t cbSize = 0;
};

// {0000000C-0000-0000-C000-000000000046}
inline constexpr IID IID_IStream{
    0x0000000C, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

class IStream : public IUnknown {
public:
    // Reads up to `count` bytes from the current position; `read` (may be
    // null) tells how many. S_OK also for a short read at the end.
    virtual HRESULT Read(void* buffer, ULONG count, ULONG* read) = 0;
    virtual HRESULT Write(const void* buffer, ULONG count, ULONG* written) = 0;
    // Moves the position; `newPosition` (may be null) tells where it is.
    virtual HRESULT Seek(std::int64_t move, DWORD origin, std::uint64_t* newPosition) = 0;
    virtual HRESULT Stat(STATSTG* statistics, DWORD flags) = 0;

protected:
    ~IStream() = default;
};

// A growable stream in memory, owned by the stream itself. Only the form the
// library uses is offered: no memory block of the caller's (null) and the
// memory freed by the last Release (deleteOnRelease true); anything else is
// E_INVALIDARG.
HRESULT CreateStreamOnHGlobal(HGLOBAL memory, BOOL deleteOnRelease, IStream** stream);

// A read-only stream over an open file descriptor, which it owns and closes
// on the last Release. The stream reads the file as it was opened: renaming
// the file afterwards changes nothing.
IStream* CreateFileStream(int fd);

// Reads a stream from its current position to its end (helper of the store).
HRESULT ReadStreamToEnd(IStream* stream, std::string& data);

} // namespace platform
