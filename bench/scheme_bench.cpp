// The editor's scheme serving its site's files, through PdfCraftScheme's handler in-process: each
// request is answered and its body read to the end, as WebKit reads it.
#include "pdfcraft/PdfCraftScheme.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <fstream>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

// The built site named by PDFCRAFT_SITE_DIR, every file of it; else one shaped like it: a page,
// the bundle, pdf.js's worker and a WebAssembly decoder.
struct Site {
    Site()
    {
        if (const char* built = std::getenv("PDFCRAFT_SITE_DIR")) {
            folder = built;
            for (const auto& entry : fs::recursive_directory_iterator(folder)) {
                if (entry.is_regular_file())
                    files.push_back(fs::relative(entry.path(), folder).string());
            }
            return;
        }
        folder = fs::temp_directory_path() / ("quillpost-scheme-bench-" + std::to_string(::getpid()));
        temporary = true;
        fs::create_directories(folder);
        static constexpr std::pair<const char*, size_t> shape[] { { "index.html", 4'000 }, { "main.js", 900'000 }, { "pdf.worker.mjs", 2'200'000 }, { "openjpeg.wasm", 4'500'000 } };
        for (const auto& [name, size] : shape) {
            std::ofstream(folder / name, std::ios::binary) << std::string(size, 'q');
            files.push_back(name);
        }
    }
    ~Site()
    {
        if (temporary)
            fs::remove_all(folder);
    }

    fs::path folder;
    bool temporary { false };
    std::vector<std::string> files;
};

void serveSiteFiles(benchmark::State& state)
{
    Site site;
    const quillpost::PdfCraftScheme::Registry documents;
    const auto handler = quillpost::PdfCraftScheme::handler([&] { return site.folder; }, documents);
    std::vector<char> buffer(256 * 1024);
    std::int64_t served = 0;
    for (auto _ : state) {
        for (const auto& name : site.files) {
            handler({ "pdfcraft://app/" + name, "GET", {} }, [&](std::optional<quillpost::SchemeResponse> response, std::string) {
                if (!response || response->status != 200) {
                    state.SkipWithError("not served");
                    return;
                }
                served += static_cast<std::int64_t>(response->body.size());
                if (response->bodyFile) {
                    for (ssize_t count; (count = ::read(response->bodyFile.get(), buffer.data(), buffer.size())) > 0;)
                        served += count;
                }
            });
        }
    }
    state.SetBytesProcessed(served);
}

}

BENCHMARK(serveSiteFiles)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
