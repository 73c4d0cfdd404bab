// The component run time pieces and the streams of the store layer.
#include "platform/store/com.h"
#include "platform/store/storeapi.h"
#include "platform/store/stream.h"
#include "tests/platform/store/storetesting.h"

#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <thread>

using namespace platform;

namespace {

// Runs `body` on a thread of its own, which starts uninitialised.
template <typename F>
void onFreshThread(F body) {
    std::thread thread(body);
    thread.join();
}

IStream* newStream() {
    IStream* stream = nullptr;
    EXPECT_EQ(CreateStreamOnHGlobal(nullptr, 1, &stream), S_OK);
    return stream;
}

std::string readAll(IStream* stream) {
    std::string data;
    EXPECT_EQ(ReadStreamToEnd(stream, data), S_OK);
    return data;
}

} // namespace

TEST(CoInitialize, CountsPerThreadAndRefusesTheOtherModel) {
    onFreshThread([] {
        EXPECT_EQ(CoInitialize(nullptr), S_OK);
        EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
        CoUninitialize();
        CoUninitialize();
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        EXPECT_EQ(CoInitialize(nullptr), RPC_E_CHANGED_MODE);
        CoUninitialize();
    });
}

TEST(CoCreateInstance, GivesTheStoreNamespaceOnlyAsAsked) {
    struct Row {
        const char* name;
        bool initialise;
        bool outer;
        DWORD context;
        CLSID clsid;
        IID iid;
        HRESULT expected;
    };
    const CLSID unknown{1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    const Row rows[] = {
        {"not initialised", false, false, 5, CLSID_StoreNamespace, IID_IStoreNamespace,
         CO_E_NOTINITIALIZED},
        {"aggregation", true, true, 5, CLSID_StoreNamespace, IID_IStoreNamespace,
         CLASS_E_NOAGGREGATION},
        {"local server only", true, false, CLSCTX_LOCAL_SERVER, CLSID_StoreNamespace,
         IID_IStoreNamespace, REGDB_E_CLASSNOTREG},
        {"unknown class", true, false, 5, unknown, IID_IStoreNamespace, REGDB_E_CLASSNOTREG},
        {"other interface", true, false, 5, CLSID_StoreNamespace, IID_IStream, E_NOINTERFACE},
        {"store namespace", true, false, 5, CLSID_StoreNamespace, IID_IStoreNamespace, S_OK},
    };
    for (const Row& row : rows) {
        onFreshThread([&] {
            SCOPED_TRACE(row.name);
            if (row.initialise)
                CoInitialize(nullptr);
            IStream* outer = row.outer ? newStream() : nullptr;
            void* object = reinterpret_cast<void*>(1);
            EXPECT_EQ(CoCreateInstance(row.clsid, outer, row.context, row.iid, &object),
                      row.expected);
            if (row.expected == S_OK) {
                ASSERT_NE(object, nullptr);
                EXPECT_EQ(static_cast<IStoreNamespace*>(object)->Release(), 0u);
            } else {
                EXPECT_EQ(object, nullptr);
            }
            if (outer)
                outer->Release();
        });
    }
}

TEST(CoCreateInstance, UsesTheFactoryRegisteredInItsPlace) {
    int made = 0;
    ClassFactory previous = RegisterClassFactory(CLSID_StoreNamespace, [&](REFIID, void** out) {
        ++made;
        *out = nullptr;
        return E_OUTOFMEMORY;
    });
    ASSERT_TRUE(previous);
    onFreshThread([] {
        CoInitialize(nullptr);
        void* object = nullptr;
        EXPECT_EQ(CoCreateInstance(CLSID_StoreNamespace, nullptr, 5, IID_IStoreNamespace, &object),
                  E_OUTOFMEMORY);
    });
    RegisterClassFactory(CLSID_StoreNamespace, previous);
    EXPECT_EQ(made, 1);
}

TEST(RefCounted, ReleaseAnswersTheReferencesLeft) {
    IStream* stream = newStream();
    EXPECT_EQ(stream->AddRef(), 2u);
    EXPECT_EQ(stream->AddRef(), 3u);
    EXPECT_EQ(stream->Release(), 2u);
    EXPECT_EQ(stream->Release(), 1u);
    EXPECT_EQ(stream->Release(), 0u); // destroyed: LeakSanitizer would report it otherwise
}

TEST(CreateStreamOnHGlobal, OffersOnlyAStreamThatOwnsItsMemory) {
    IStream* stream = reinterpret_cast<IStream*>(1);
    char block[4];
    EXPECT_EQ(CreateStreamOnHGlobal(block, 1, &stream), E_INVALIDARG);
    EXPECT_EQ(stream, nullptr);
    EXPECT_EQ(CreateStreamOnHGlobal(nullptr, 0, &stream), E_INVALIDARG);
    EXPECT_EQ(CreateStreamOnHGlobal(nullptr, 1, nullptr), E_POINTER);
}

TEST(MemoryStream, WritesSeeksReadsAndStats) {
    IStream* stream = newStream();
    ULONG written = 0;
    EXPECT_EQ(stream->Write("Subject: x\r\n\r\nbody", 18, &written), S_OK);
    EXPECT_EQ(written, 18u);
    STATSTG statistics;
    EXPECT_EQ(stream->Stat(&statistics, STATFLAG_DEFAULT), S_OK);
    EXPECT_EQ(statistics.cbSize, 18u);
    EXPECT_EQ(readAll(stream), ""); // at the end

    struct Row {
        const char* name;
        std::int64_t move;
        DWORD origin;
        HRESULT result;
        std::uint64_t position;
        const char* rest;
    };
    const Row rows[] = {
        {"from the start", 0, STREAM_SEEK_SET, S_OK, 0, "Subject: x\r\n\r\nbody"},
        {"forward from here", 9, STREAM_SEEK_CUR, S_OK, 9, "x\r\n\r\nbody"},
        {"back from the end", -4, STREAM_SEEK_END, S_OK, 14, "body"},
        {"before the start", -1, STREAM_SEEK_SET, STG_E_INVALIDFUNCTION, 0, ""},
        {"no such origin", 0, 7, STG_E_INVALIDFUNCTION, 0, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        if (row.origin == STREAM_SEEK_CUR)
            stream->Seek(0, STREAM_SEEK_SET, nullptr);
        std::uint64_t position = 12345;
        EXPECT_EQ(stream->Seek(row.move, row.origin, &position), row.result);
        if (row.result == S_OK) {
            EXPECT_EQ(position, row.position);
            EXPECT_EQ(readAll(stream), row.rest);
        }
    }
    // Writing past the end fills the gap with zero bytes.
    stream->Seek(20, STREAM_SEEK_SET, nullptr);
    stream->Write("!", 1, nullptr);
    stream->Seek(16, STREAM_SEEK_SET, nullptr);
    EXPECT_EQ(readAll(stream), std::string("dy\0\0!", 5));
    stream->Release();
}

TEST(FileStream, ReadsTheFileAsOpenedAndRefusesWrites) {
    storetesting::TempDir dir;
    std::string path = dir.path() + "/message";
    storetesting::WriteFile(path, "Hello\n");
    IStream* stream = CreateFileStream(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    storetesting::Rename(path, dir.path() + "/renamed"); // a mail client renames it
    STATSTG statistics;
    EXPECT_EQ(stream->Stat(&statistics, STATFLAG_DEFAULT), S_OK);
    EXPECT_EQ(statistics.cbSize, 6u);
    char buffer[16];
    ULONG read = 0;
    EXPECT_EQ(stream->Read(buffer, sizeof buffer, &read), S_OK);
    EXPECT_EQ(std::string(buffer, read), "Hello\n");
    ULONG written = 9;
    EXPECT_EQ(stream->Write("x", 1, &written), STG_E_ACCESSDENIED);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(stream->Release(), 0u);
}
