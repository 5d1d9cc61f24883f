#include "platform/BackgroundQueue.h"
#include "platform/Clock.h"
#include "platform/MainQueue.h"
#include "common/Files.h"
#include "store/Store.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Saves never set a backup folder here, so nothing is ever queued.
class IdleQueues final : public quillpost::MainQueue, public quillpost::BackgroundQueue {
public:
    void post(std::function<void()>) override { }
    quillpost::TimerId after(std::chrono::milliseconds, std::function<void()>) override { return 0; }
    void cancel(quillpost::TimerId) override { }
    void async(std::function<void()>) override { }
};

// A practice's document as the page writes it: clients with their files, deadlines, notes and invoices.
std::string practiceDocument(size_t targetBytes)
{
    quillpost::Json clients = quillpost::Json::array();
    // Each client's own text adds up to the document's size, without writing the whole document again.
    size_t size = 0;
    for (int index = 0; size < targetBytes; ++index) {
        const std::string id = std::to_string(index);
        quillpost::Json client {
            { "id", "c-" + id },
            { "name", "Client Número " + id },
            { "email", "client" + id + "@example.com" },
            { "phone", "+1 416 555 " + std::to_string(1000 + index % 9000) },
            { "status", index % 3 ? "active" : "archived" },
            { "address", { { "street", id + " Queen Street West" }, { "city", "Toronto" }, { "postal", "M5H 2N2" }, { "country", "CA" } } },
        };
        for (int file = 0; file < 3; ++file) {
            const std::string fileId = id + "-" + std::to_string(file);
            client["files"].push_back({
                { "id", "f-" + fileId },
                { "program", file % 2 ? "Express Entry" : "Study Permit" },
                { "opened", "2024-0" + std::to_string(1 + file) + "-15" },
                { "deadlines", { { { "date", "2024-06-30" }, { "what", "Biometrics" }, { "done", false } }, { { "date", "2024-07-15" }, { "what", "Medical exam" }, { "done", true } } } },
                { "documents", { { { "name", "passport-" + fileId + ".pdf" }, { "size", 482113 + file } }, { { "name", "ielts-" + fileId + ".pdf" }, { "size", 90211 } } } },
                { "notes", "Called the client about the letter of explanation; awaiting the employer's reference letter and proof of funds." },
            });
        }
        client["invoices"].push_back({ { "number", "INV-" + id }, { "amount", 1250.5 + index }, { "currency", "CAD" }, { "paid", index % 2 == 0 } });
        size += client.dump().size() + 1;
        clients.push_back(std::move(client));
    }
    return quillpost::Json { { "v", 1 }, { "clients", clients } }.dump();
}

// What a save cannot beat: the same bytes written to a new file, synced, renamed over the old one,
// and the folder synced.
void writeAndSync(const fs::path& folder, const std::string& bytes)
{
    const fs::path temporary = folder / ".floor.json.tmp";
    const int file = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (file < 0)
        std::abort();
    for (size_t written = 0; written < bytes.size();) {
        const ssize_t count = ::write(file, bytes.data() + written, bytes.size() - written);
        if (count <= 0)
            std::abort();
        written += static_cast<size_t>(count);
    }
    if (::fsync(file) || ::close(file) || ::rename(temporary.c_str(), (folder / "floor.json").c_str()))
        std::abort();
    const int directory = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ::fsync(directory);
    ::close(directory);
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

double millisecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// Each iteration saves the document, then (untimed) writes the floor's copy beside it; the
// counters give the medians of both and their ratio, measured side by side.
void saveDocument(benchmark::State& state)
{
    const std::string document = practiceDocument(static_cast<size_t>(state.range(0)) * 1024 * 1024);
    std::string folder = (fs::temp_directory_path() / "quillpost-bench-XXXXXX").string();
    if (!::mkdtemp(folder.data())) {
        state.SkipWithError("no temporary folder");
        return;
    }

    IdleQueues queues;
    std::vector<double> saves;
    std::vector<double> floors;
    {
        quillpost::Store store({ fs::path(folder) / "data", true, folder, folder }, { quillpost::Clock::system(), queues, queues });
        // The first save of the day also links the daily snapshot; measure the saves after it.
        store.save(document);
        for (auto _ : state) {
            auto start = std::chrono::steady_clock::now();
            store.save(document);
            saves.push_back(millisecondsSince(start));
            state.PauseTiming();
            start = std::chrono::steady_clock::now();
            writeAndSync(folder, document);
            floors.push_back(millisecondsSince(start));
            state.ResumeTiming();
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(document.size()));
    state.counters["document_bytes"] = static_cast<double>(document.size());
    state.counters["save_ms"] = median(saves);
    state.counters["floor_ms"] = median(floors);
    state.counters["save_per_floor"] = median(saves) / median(floors);

    std::error_code ignored;
    fs::remove_all(folder, ignored);
}

// The open check alone on the same document: the part of a save that is not the disk's.
void openCheck(benchmark::State& state)
{
    const char* given = std::getenv("QUILLPOST_BENCH_DOCUMENT");
    const auto read = given ? quillpost::readFile(given) : std::nullopt;
    const std::string document = read ? *read : practiceDocument(static_cast<size_t>(state.range(0)) * 1024 * 1024);
    for (auto _ : state)
        benchmark::DoNotOptimize(quillpost::Store::openable(document));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(document.size()));
}

// Reading the data file as the page's load does: the file read, checked and handed over as text.
// QUILLPOST_BENCH_DOCUMENT names a data file to read instead (bench/practice-data.mjs makes one).
void loadDocument(benchmark::State& state)
{
    const char* given = std::getenv("QUILLPOST_BENCH_DOCUMENT");
    const auto read = given ? quillpost::readFile(given) : std::nullopt;
    const std::string document = read ? *read : practiceDocument(static_cast<size_t>(state.range(0)) * 1024 * 1024);
    std::string folder = (fs::temp_directory_path() / "quillpost-bench-XXXXXX").string();
    if (!::mkdtemp(folder.data())) {
        state.SkipWithError("no temporary folder");
        return;
    }
    IdleQueues queues;
    {
        quillpost::Store store({ fs::path(folder) / "data", true, folder, folder }, { quillpost::Clock::system(), queues, queues });
        store.save(document);
        for (auto _ : state)
            benchmark::DoNotOptimize(store.load());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(document.size()));
    std::error_code ignored;
    fs::remove_all(folder, ignored);
}

}

// Real time, not CPU time: most of a save is waiting for the disk.
BENCHMARK(saveDocument)->Arg(1)->Arg(20)->Iterations(9)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(openCheck)->Arg(20)->Unit(benchmark::kMillisecond);
BENCHMARK(loadDocument)->Arg(20)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
