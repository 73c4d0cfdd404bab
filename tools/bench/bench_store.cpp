// bench-store: the mail store as the program uses it, through the store
// binding and the loaded library, on stores made in a temporary folder:
//   - walking a folder of 20,000 messages with their texts, with the folder's
//     id list read from its file (a fresh open) and kept in memory (open);
//   - giving the ids to 20,000 messages the store sees for the first time;
//   - getFolderNames of a store with 500 folders.
// Run: bench-store [--benchmark_...]. Nothing outside the temporary folder is
// touched ($MAILDIR is set for the run).
#include "integration/unStorvane.h"
#include "platform/core/atomicfile.h"
#include "platform/core/tempdir.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <cstring>
#include <ftw.h>
#include <random>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kMessages = 20000;
constexpr int kFolders = 500;

void makeMaildir(const std::string& dir) {
    for (const std::string& path : {dir, dir + "/cur", dir + "/new", dir + "/tmp"})
        if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
            throw std::runtime_error("cannot make " + path);
}

// A message of 1 to 8 KB, like ordinary mail.
std::string message(int i, std::mt19937& random) {
    std::string text = "From: sender" + std::to_string(i) +
                       "@example.org\r\nTo: me@example.org\r\n"
                       "Subject: message number " +
                       std::to_string(i) + "\r\n\r\n";
    std::size_t body = 1024 + random() % 7168;
    while (text.size() < body)
        text += "Lorem ipsum dolor sit amet, consectetur adipiscing elit.\r\n";
    return text;
}

class Stores {
public:
    Stores() {
        std::string pattern = platform::TempDirectory() + "tarnix-bench-XXXXXX";
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("no temporary folder");
        dir_ = pattern;
        big_ = dir_ + "/big";
        many_ = dir_ + "/many";
        std::mt19937 random(1);
        makeMaildir(big_);
        for (int i = 0; i < kMessages; ++i) {
            std::string name =
                std::to_string(1700000000 + i) + ".M1P1Q" + std::to_string(i) + ".bench";
            std::string path = big_ + (i % 2 ? "/cur/" + name + ":2,S" : "/new/" + name);
            if (!platform::WriteFileAtomically(path, message(i, random)))
                throw std::runtime_error("cannot write " + path);
        }
        makeMaildir(many_);
        for (int i = 1; i < kFolders; ++i)
            makeMaildir(many_ + "/.Folder " + std::to_string(i));
    }
    ~Stores() {
        ::nftw(
            dir_.c_str(), [](const char* p, const struct stat*, int, FTW*) { return ::remove(p); },
            16, FTW_DEPTH | FTW_PHYS);
    }
    const std::string& big() const { return big_; }
    const std::string& many() const { return many_; }

private:
    std::string dir_, big_, many_;
};

Stores& stores() {
    static Stores made;
    return made;
}

// One binding on the store at `root` for the benchmark's lifetime.
struct Binding {
    explicit Binding(const std::string& root) {
        ::setenv("MAILDIR", root.c_str(), 1);
        store.Load();
        if (!store.Loaded())
            throw std::runtime_error("cannot load the store library");
    }
    TStorvane store;
};

std::size_t walk(TStorvane& store, std::uint32_t folder) {
    std::int32_t id = 0;
    std::size_t bytes = 0, count = 0;
    for (char* text = store.GetFirstMessage(folder, id); text;
         text = store.GetNextMessage(folder, id)) {
        bytes += std::strlen(text);
        ++count;
        store.FreeMem(text);
    }
    if (count != kMessages)
        throw std::runtime_error("the walk saw " + std::to_string(count) + " messages");
    return bytes;
}

void BM_WalkFolder20000_FreshOpen(benchmark::State& state) {
    Binding b(stores().big());
    std::size_t bytes = 0;
    for (auto _ : state) {
        std::uint32_t folder = b.store.OpenOrCreateFolder("Inbox");
        bytes += walk(b.store, folder);
        b.store.CloseFolder(folder); // the last handle: the id list leaves memory
    }
    state.SetItemsProcessed(state.iterations() * kMessages);
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}

void BM_WalkFolder20000_KeptOpen(benchmark::State& state) {
    Binding b(stores().big());
    std::uint32_t kept = b.store.OpenOrCreateFolder("Inbox"); // as the program keeps its Inbox
    std::size_t bytes = 0;
    for (auto _ : state) {
        std::uint32_t folder = b.store.OpenOrCreateFolder("Inbox");
        bytes += walk(b.store, folder);
        b.store.CloseFolder(folder);
    }
    b.store.CloseFolder(kept);
    state.SetItemsProcessed(state.iterations() * kMessages);
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}

void BM_AssignIds20000(benchmark::State& state) {
    Binding b(stores().big());
    for (auto _ : state) {
        state.PauseTiming();
        ::unlink((stores().big() + "/tarnix-uidlist").c_str());
        state.ResumeTiming();
        std::uint32_t folder = b.store.OpenOrCreateFolder("Inbox");
        if (b.store.GetMessageCount(folder) != kMessages)
            throw std::runtime_error("wrong count");
        b.store.CloseFolder(folder);
    }
    state.SetItemsProcessed(state.iterations() * kMessages);
}

void BM_GetFolderNames500(benchmark::State& state) {
    Binding b(stores().many());
    std::vector<std::string> names;
    std::string text;
    for (auto _ : state) {
        b.store.GetFolderNames(names, text);
        benchmark::DoNotOptimize(text.data());
    }
    if (names.size() != kFolders)
        throw std::runtime_error("listed " + std::to_string(names.size()) + " folders");
    state.SetItemsProcessed(state.iterations() * kFolders);
}

} // namespace

BENCHMARK(BM_WalkFolder20000_FreshOpen)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_WalkFolder20000_KeptOpen)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_AssignIds20000)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_GetFolderNames500)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
